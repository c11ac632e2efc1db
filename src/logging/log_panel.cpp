// SPDX-License-Identifier: GPL-3.0-or-later

#include "log_panel.h"

#include "widgets/controls.h"
#include "widgets/message_box.h"
#include "widgets/placeholder.h"

#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QTimer>

namespace {
// The interval of each chooser entry, in milliseconds.
const int intervals[] = {1000, 5000, 6000, 10000, 15000, 30000, 60000};
} // namespace

LogPanel::LogPanel(QWidget* client, ShownValues shownValues)
    : QObject(client), shownValues_(std::move(shownValues)) {
    Label4 = label(client, "Label4", tr("Log to KelvanoLog.csv file"), {24, 104, 160, 17});
    Frame1 = place<QFrame>(client, "Frame1", {24, 120, 161, 41});
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Option1 = place<QRadioButton>(Frame1, "Option1", {10, 12, 70, 17});
    Option1->setText(tr("log it"));
    Option2 = place<QRadioButton>(Frame1, "Option2", {90, 12, 62, 17});
    Option2->setText(tr("stop"));
    Option2->setChecked(true);
    Label3 = label(client, "Label3", tr("Logging Interval"), {48, 168, 113, 17});
    cboTimer = place<QComboBox>(client, "cboTimer", {48, 192, 113, 22});
    showPlaceholderAsText(cboTimer, tr("1 Second"));
    Line4 = line(client, "Line4", {24, 232, 153, 2}, QFrame::HLine);

    // Rows are due at start + k × interval; a precise timer keeps them there
    // instead of letting each row slip a little later than the one before.
    TimerCount = new QTimer(this);
    TimerCount->setObjectName(QStringLiteral("TimerCount"));
    TimerCount->setTimerType(Qt::PreciseTimer);
    TimerCount->setInterval(intervals[0]);

    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    connect(cboTimer, &QComboBox::currentIndexChanged, this, &LogPanel::cboTimer_Click);
    connect(TimerCount, &QTimer::timeout, this, &LogPanel::TimerCount_Timer);
    setLogPath(CsvLog::defaultPath());
}

void LogPanel::setLogPath(const QString& path) {
    path_ = path;
    const QString shown = QDir::toNativeSeparators(path);
    Label4->setToolTip(shown);
    Option1->setToolTip(shown);
}

void LogPanel::fillChooser() {
    const QSignalBlocker blocker(cboTimer);
    cboTimer->clear();
    for (const QString& entry : {tr("1 Second"), tr("5 Seconds"), tr("6 Seconds"), tr("10 Seconds"),
                                 tr("15 Seconds"), tr("30 Seconds"), tr("1 Minute")})
        cboTimer->addItem(entry);
    cboTimer->setCurrentIndex(-1);
}

void LogPanel::Option1_Click() {
    // The file is opened before the timer runs, so no row is ever due
    // without a file to take it.
    if (!log_.open(path_)) {
        warn(tr("Logging did not start: the log file %1 could not be created (%2).")
                 .arg(QDir::toNativeSeparators(path_), log_.errorString()));
        Option2->setChecked(true);
        return;
    }
    TimerCount->start();
}

void LogPanel::Option2_Click() {
    TimerCount->stop();
    log_.close();
}

void LogPanel::stopLogging() {
    Option2->setChecked(true);
}

void LogPanel::cboTimer_Click(int position) {
    // Setting the interval of a running timer restarts it, so during a run
    // the next row comes one new interval after the choice.
    if (position >= 0 && position < int(std::size(intervals)))
        TimerCount->setInterval(intervals[position]);
}

void LogPanel::TimerCount_Timer() {
    const std::array<int16_t, 2> shown = shownValues_();
    if (log_.writeRow(clock_(), shown[0], shown[1]))
        return;
    // The run ends as "stop" ends it, before the box, so no further row is
    // attempted while the user reads it.
    const int rows = log_.rows();
    const QString reason = log_.errorString();
    stopLogging();
    const QString kept = rows == 0 ? tr("No row had been written yet.")
                         : rows == 1
                             ? tr("The 1 row written before it is in the file.")
                             : tr("The %1 rows written before it are in the file.").arg(rows);
    warn(tr("Logging stopped: writing to %1 failed (%2). %3")
             .arg(QDir::toNativeSeparators(path_), reason, kept));
}

void LogPanel::warn(const QString& text) {
    Dialogs::Box box;
    box.icon = QMessageBox::Warning;
    box.title = tr("Kelvano");
    box.text = text;
    box.buttons = QMessageBox::Ok;
    box.defaultButton = QMessageBox::Ok;
    Dialogs::show(Frame1->window(), box);
}
