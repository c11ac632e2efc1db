// SPDX-License-Identifier: GPL-3.0-or-later

#include "log_panel.h"

#include "widgets/controls.h"
#include "widgets/message_box.h"
#include "widgets/placeholder.h"

#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QTimer>

LogPanel::LogPanel(QWidget* client, ShownValues shownValues)
    : QObject(client), run_(new LogRun(std::move(shownValues), this)) {
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
    showPlaceholderAsText(cboTimer, LogRun::intervalLabels().first());
    Line4 = line(client, "Line4", {24, 232, 153, 2}, QFrame::HLine);

    TimerCount = run_->timer();
    TimerCount->setObjectName(QStringLiteral("TimerCount"));

    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    // A choice restarts the count, also of the interval already chosen
    // (activated); a position set in code, as restoring the stored settings
    // does, sets the interval too (currentIndexChanged).
    connect(cboTimer, &QComboBox::activated, this, &LogPanel::cboTimer_Click);
    connect(cboTimer, &QComboBox::currentIndexChanged, this, &LogPanel::cboTimer_Click);
    connect(run_, &LogRun::failed, this, [this](const QString& message) {
        stopLogging();
        warn(message);
    });
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
    cboTimer->addItems(LogRun::intervalLabels());
    cboTimer->setCurrentIndex(-1);
}

void LogPanel::Option1_Click() {
    if (run_->start(path_))
        return;
    // "stop" is back before the box shows why.
    stopLogging();
    warn(run_->errorMessage());
}

void LogPanel::Option2_Click() {
    run_->stop();
}

void LogPanel::stopLogging() {
    Option2->setChecked(true);
}

void LogPanel::cboTimer_Click(int position) {
    // During a run the next row comes one new interval after the choice; a
    // position outside the list (nothing chosen) changes nothing.
    if (position >= 0 && position < LogRun::choices)
        run_->setInterval(LogRun::intervalMs(position));
}

void LogPanel::TimerCount_Timer() {
    run_->writeRow();
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
