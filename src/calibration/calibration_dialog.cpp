// SPDX-License-Identifier: GPL-3.0-or-later

#include "calibration_dialog.h"

#include "sensor/game_port.h"
#include "widgets/controls.h"
#include "widgets/design_font.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QLabel* label(const QString& text) {
    return new QLabel(text);
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// Shown in the check table: the temperature with two decimals, "-" for none.
QString tableTemperature(std::optional<double> value) {
    return value ? QLocale::c().toString(*value, 'f', 2) : QStringLiteral("-");
}

// What was typed, as a message quotes it: at most 40 characters, then "…",
// so that no word runs past the dialog's edge.
QString quoted(const QString& typed) {
    constexpr int longest = 40;
    if (typed.size() <= longest)
        return typed;
    return typed.left(typed[longest - 1].isHighSurrogate() ? longest - 1 : longest) + QChar(0x2026);
}

constexpr int checkRows = 7;    // three points, two between them, two beyond
constexpr int messageLines = 3; // the room kept for a message, so that a short one moves nothing
} // namespace

CalibrationDialog::CalibrationDialog(int sensor, QWidget* parent)
    : QDialog(parent), sensor_(sensor) {
    setObjectName(QStringLiteral("dlgCalibrate%1").arg(sensor));
    setWindowTitle(tr("Calibrate Sensor %1").arg(sensor));
    setFont(designFont(8.25));
    setModal(false);

    auto* intro =
        label(tr("Bundle the thermistor tightly with a reference thermometer. At each of "
                 "three temperatures, at least 10 °C (18 °F) apart, wait until the raw value "
                 "settles, enter the reference temperature and press Capture, or type "
                 "the raw value yourself."));
    intro->setWordWrap(true);
    lblRawNow = named<QLabel>(nullptr, QStringLiteral("lblRawNow"));

    auto* points = new QGridLayout;
    lblTemperature = named<QLabel>(nullptr, QStringLiteral("lblTemperature"));
    points->addWidget(lblTemperature, 0, 1);
    points->addWidget(label(tr("Raw value")), 0, 2);
    for (int i = 0; i < 3; ++i) {
        Row& row = rows[i];
        const QString n = QString::number(i + 1);
        row.temperature = named<QLineEdit>(nullptr, QStringLiteral("txtTemp") + n);
        row.raw = named<QLineEdit>(nullptr, QStringLiteral("txtRaw") + n);
        row.capture = named<QPushButton>(nullptr, QStringLiteral("btnCapture") + n);
        row.capture->setText(tr("Capture"));
        row.capture->setAutoDefault(false);
        row.progress = named<QProgressBar>(nullptr, QStringLiteral("prgCapture") + n);
        row.progress->setRange(0, captureTicks);
        row.progress->setFormat(QStringLiteral("%v/%m"));
        // A hidden bar keeps its place, so that nothing moves when it shows.
        QSizePolicy keep = row.progress->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        row.progress->setSizePolicy(keep);
        row.progress->hide();
        points->addWidget(label(tr("Point %1").arg(n)), i + 1, 0);
        points->addWidget(row.temperature, i + 1, 1);
        points->addWidget(row.raw, i + 1, 2);
        points->addWidget(row.capture, i + 1, 3);
        points->addWidget(row.progress, i + 1, 4);
        connect(row.capture, &QPushButton::clicked, this, [this, i] { capture(i); });
        // Coefficients always belong to the points on show.
        connect(row.temperature, &QLineEdit::textChanged, this, &CalibrationDialog::clearResult);
        connect(row.raw, &QLineEdit::textChanged, this, &CalibrationDialog::clearResult);
    }

    btnCalculate = named<QPushButton>(nullptr, QStringLiteral("btnCalculate"));
    btnCalculate->setText(tr("Calculate"));
    btnCalculate->setDefault(true); // Enter in a field calculates
    connect(btnCalculate, &QPushButton::clicked, this, &CalibrationDialog::calculate);
    lblMessage = named<QLabel>(nullptr, QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    // Room for the usual messages, so that nothing below them moves; a longer
    // one makes the dialog taller (showMessage).
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMessage->setMinimumHeight(messageLines * fontMetrics().lineSpacing());

    auto* coefficients = new QHBoxLayout;
    const char* const letters[] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
        result[i] = named<QLineEdit>(nullptr, QStringLiteral("txt") + QLatin1String(letters[i]));
        result[i]->setReadOnly(true);
        coefficients->addWidget(label(QLatin1String(letters[i])));
        coefficients->addWidget(result[i], 1);
    }

    tblCheck = named<QTableWidget>(nullptr, QStringLiteral("tblCheck"));
    tblCheck->setColumnCount(3);
    tblCheck->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblCheck->setSelectionMode(QAbstractItemView::NoSelection);
    tblCheck->setFocusPolicy(Qt::NoFocus);
    tblCheck->verticalHeader()->hide();
    tblCheck->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    tblCheck->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tblCheck->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    btnUse = named<QPushButton>(nullptr, QStringLiteral("btnUse"));
    btnUse->setText(tr("Use these"));
    btnUse->setAutoDefault(false);
    btnUse->setToolTip(tr("Writes A, B and C into the A%1, B%1 and C%1 fields.").arg(sensor));
    connect(btnUse, &QPushButton::clicked, this, &CalibrationDialog::use);
    btnClose = named<QPushButton>(nullptr, QStringLiteral("btnClose"));
    btnClose->setText(tr("Close"));
    btnClose->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnUse);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);

    auto* calculateRow = new QHBoxLayout;
    calculateRow->addWidget(btnCalculate);
    calculateRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(lblRawNow);
    layout->addLayout(points);
    layout->addLayout(calculateRow);
    layout->addWidget(lblMessage);
    layout->addLayout(coefficients);
    layout->addWidget(tblCheck);
    layout->addLayout(buttons);
    setMinimumWidth(440);
    // Every row of the check table in view, measured in the dialog's face.
    tblCheck->setFixedHeight(tblCheck->horizontalHeader()->sizeHint().height() +
                             checkRows * tblCheck->verticalHeader()->defaultSectionSize() +
                             2 * tblCheck->frameWidth());

    sample(std::nullopt);
    showUnit();
}

void CalibrationDialog::setUnit(TemperatureUnit unit) {
    if (unit == unit_)
        return;
    for (Row& row : rows) {
        const auto value = parseNumber(row.temperature->text());
        if (!value)
            continue;
        const double converted = convertTemperature(*value, unit_, unit);
        row.temperature->setText(QLocale::c().toString(converted, 'g', 6));
    }
    unit_ = unit;
    showUnit();
}

void CalibrationDialog::showUnit() {
    lblTemperature->setText(tr("Reference (%1)").arg(unitSign(unit_)));
    clearResult();
}

void CalibrationDialog::sample(std::optional<uint32_t> raw) {
    if (!raw)
        lblRawNow->setText(tr("Raw value now: no reading"));
    else if (isUnplugged(*raw))
        lblRawNow->setText(tr("Raw value now: 0 (unplugged)"));
    else
        lblRawNow->setText(tr("Raw value now: %1").arg(*raw));
    // Ticks without a reading of a connected sensor do not count.
    if (capturing_ < 0 || !raw || isUnplugged(*raw))
        return;
    sum_ += *raw;
    ++captured_;
    rows[capturing_].progress->setValue(captured_);
    if (captured_ < captureTicks)
        return;
    QLineEdit* field = rows[capturing_].raw;
    const double average = sum_ / captureTicks;
    stopCapture();
    field->setText(QString::number(average, 'g', 10));
}

void CalibrationDialog::capture(int row) {
    const bool again = capturing_ == row;
    stopCapture();
    if (again)
        return; // a second press cancels
    capturing_ = row;
    captured_ = 0;
    sum_ = 0.0;
    rows[row].capture->setText(tr("Cancel"));
    rows[row].progress->setValue(0);
    rows[row].progress->show();
}

void CalibrationDialog::stopCapture() {
    if (capturing_ < 0)
        return;
    rows[capturing_].capture->setText(tr("Capture"));
    rows[capturing_].progress->hide();
    capturing_ = -1;
}

void CalibrationDialog::hideEvent(QHideEvent* event) {
    stopCapture();
    QDialog::hideEvent(event);
}

void CalibrationDialog::calculate() {
    clearResult();
    std::vector<ReferencePoint> points;
    for (int i = 0; i < 3; ++i) {
        const QString temperature = rows[i].temperature->text().trimmed();
        const QString raw = rows[i].raw->text().trimmed();
        if (temperature.isEmpty() && raw.isEmpty())
            continue;
        if (temperature.isEmpty() || raw.isEmpty()) {
            showMessage(tr("Point %1 needs both a temperature and a raw value.").arg(i + 1), true);
            return;
        }
        const auto t = parseNumber(temperature);
        const auto r = parseNumber(raw);
        if (!t || !r) {
            showMessage(tr("Point %1: \"%2\" is not a number; write numbers with a decimal point, "
                           "as in 21.5.")
                            .arg(i + 1)
                            .arg(quoted(t ? raw : temperature)),
                        true);
            return;
        }
        points.push_back({*t, *r});
    }
    const CalibrationResult solved = solveSteinhartHart(points, unit_);
    if (!solved.error.isEmpty()) {
        showMessage(solved.error, true);
        return;
    }
    const Coefficients texts = solved.texts();
    result[0]->setText(texts.a);
    result[1]->setText(texts.b);
    result[2]->setText(texts.c);
    for (QLineEdit* field : result)
        field->setCursorPosition(0);
    showCheck(points, texts);
    btnUse->setEnabled(true);
    showMessage(solved.note.isEmpty()
                    ? tr("The curve runs exactly through the three points. Check the table, then "
                         "press \"Use these\".")
                    : solved.note,
                !solved.note.isEmpty());
}

void CalibrationDialog::showCheck(const std::vector<ReferencePoint>& points,
                                  const Coefficients& coefficients) {
    const std::vector<double> raws = checkRawValues(points);
    tblCheck->setRowCount(int(raws.size()));
    for (int i = 0; i < int(raws.size()); ++i) {
        QString reference;
        for (const ReferencePoint& p : points)
            if (p.raw == raws[i])
                reference = QLocale::c().toString(p.temperature, 'g', 6);
        tblCheck->setItem(i, 0, cell(QString::number(raws[i], 'g', 10)));
        tblCheck->setItem(i, 1, cell(reference));
        tblCheck->setItem(i, 2,
                          cell(tableTemperature(temperatureAt(coefficients, raws[i], unit_))));
    }
}

void CalibrationDialog::use() {
    Q_EMIT useCoefficients({result[0]->text(), result[1]->text(), result[2]->text()});
    showMessage(tr("A%1, B%1 and C%1 now hold these coefficients; the readout uses them from the "
                   "next reading. \"Save to Registry\" keeps them with the chosen profile.")
                    .arg(sensor_),
                false);
}

void CalibrationDialog::clearResult() {
    for (QLineEdit* field : result)
        field->clear();
    tblCheck->setRowCount(0);
    tblCheck->setHorizontalHeaderLabels({tr("Raw value"), tr("Reference (%1)").arg(unitSign(unit_)),
                                         tr("Calculated (%1)").arg(unitSign(unit_))});
    btnUse->setEnabled(false);
    showMessage(QString(), false);
}

void CalibrationDialog::showMessage(const QString& text, bool caution) {
    // The colour goes by the palette: a style sheet, once cleared, would
    // leave the label in the desktop's font instead of the dialog's.
    QPalette colours = palette();
    if (caution)
        colours.setColor(QPalette::WindowText, QColor(0xb0, 0, 0));
    lblMessage->setPalette(colours);
    lblMessage->setText(text);
    // A message longer than the room kept for it makes the dialog taller.
    lblMessage->setMinimumHeight(
        std::max(messageLines * fontMetrics().lineSpacing(),
                 lblMessage->heightForWidth(lblMessage->contentsRect().width())));
    if (isVisible()) {
        layout()->activate();
        resize(width(), std::max(height(), layout()->totalHeightForWidth(width())));
    }
}
