// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_dialog.h"

#include "alarms/alarm_monitor.h"
#include "alarms/command_runner.h"
#include "sensor/conversion.h"
#include "widgets/controls.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
QString numbered(const char* name, int sensor) {
    return QLatin1String(name) + QString::number(sensor);
}

// A row of the grid: caption, field, unit, message. The field is known to
// screen readers by its caption.
AlarmDialog::Row addRow(QGridLayout* grid, QWidget* caption, const QString& name, bool unit) {
    AlarmDialog::Row row;
    QWidget* parent = grid->parentWidget();
    const int r = grid->rowCount();
    const QString text = caption->property("text").toString();
    row.caption = caption;
    row.field = named<QLineEdit>(parent, QStringLiteral("txt") + name);
    row.field->setAccessibleName(text);
    row.field->setMaximumWidth(row.field->fontMetrics().horizontalAdvance(u'0') * 10);
    if (auto* label = qobject_cast<QLabel*>(caption))
        label->setBuddy(row.field);
    row.error = named<QLabel>(parent, QStringLiteral("err") + name);
    row.error->setStyleSheet(QStringLiteral("color: #c00000"));
    row.error->hide();
    grid->addWidget(caption, r, 0);
    grid->addWidget(row.field, r, 1);
    if (unit) {
        row.unit = named<QLabel>(parent, QStringLiteral("lblUnit") + name);
        grid->addWidget(row.unit, r, 2);
    }
    grid->addWidget(row.error, r, 3);
    return row;
}
} // namespace

AlarmDialog::AlarmDialog(AlarmMonitor* monitor, QWidget* parent)
    : QDialog(parent), monitor_(monitor) {
    setObjectName(QStringLiteral("frmAlarms"));
    setWindowTitle(tr("Kelvano alarms"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    for (int s = 1; s <= 2; ++s) {
        Sensor& sensor = sensors[s - 1];
        sensor.group = named<QGroupBox>(this, numbered("fraAlarm", s));
        sensor.group->setTitle(tr("Sensor %1").arg(s));
        auto* grid = new QGridLayout(sensor.group);
        grid->setColumnStretch(3, 1);
        sensor.chkHigh = named<QCheckBox>(sensor.group, numbered("chkHigh", s));
        sensor.chkHigh->setText(tr("High limit"));
        sensor.high = addRow(grid, sensor.chkHigh, numbered("High", s), true);
        sensor.chkLow = named<QCheckBox>(sensor.group, numbered("chkLow", s));
        sensor.chkLow->setText(tr("Low limit"));
        sensor.low = addRow(grid, sensor.chkLow, numbered("Low", s), true);
        auto* hysteresis = named<QLabel>(sensor.group, numbered("lblHysteresis", s));
        hysteresis->setText(tr("Hysteresis"));
        sensor.hysteresis = addRow(grid, hysteresis, numbered("Hysteresis", s), true);
        auto* hold = named<QLabel>(sensor.group, numbered("lblHold", s));
        hold->setText(tr("Hold (seconds)"));
        sensor.hold = addRow(grid, hold, numbered("Hold", s), false);
        layout->addWidget(sensor.group);
    }

    auto* commandGrid = new QGridLayout;
    layout->addLayout(commandGrid);
    auto* commandCaption = named<QLabel>(this, QStringLiteral("lblCommand"));
    commandCaption->setText(tr("Command"));
    // addRow() places into the grid's parent, which a nested layout gets once added.
    command = addRow(commandGrid, commandCaption, QStringLiteral("Command"), false);
    command.field->setMaximumWidth(QWIDGETSIZE_MAX);
    command.field->setMinimumWidth(command.field->fontMetrics().horizontalAdvance(u'0') * 30);
    command.field->setToolTip(tr("Run for every event, without a shell; the event is in "
                                 "KELVANO_SENSOR, KELVANO_EVENT, KELVANO_VALUE, KELVANO_UNIT and "
                                 "KELVANO_LIMIT."));
    commandGrid->setColumnStretch(1, 1);

    lblMessage = named<QLabel>(this, QStringLiteral("lblMessage"));
    lblMessage->setStyleSheet(QStringLiteral("color: #c00000"));
    lblMessage->setWordWrap(true);
    lblMessage->hide();
    layout->addWidget(lblMessage);

    auto* buttons = new QHBoxLayout;
    btnTest = named<QPushButton>(this, QStringLiteral("btnTest"));
    btnTest->setText(tr("Test"));
    btnTest->setToolTip(tr("Send a test notification and run the command once."));
    btnOK = named<QPushButton>(this, QStringLiteral("btnOK"));
    btnOK->setText(tr("OK"));
    btnOK->setDefault(true);
    btnCancel = named<QPushButton>(this, QStringLiteral("btnCancel"));
    btnCancel->setText(tr("Cancel"));
    buttons->addWidget(btnTest);
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnTest, &QPushButton::clicked, this, [this] {
        if (checkCommand())
            monitor_->test(command.field->text());
    });
    connect(btnOK, &QPushButton::clicked, this, &AlarmDialog::ok);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    fill();
}

void AlarmDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        fill();
    QDialog::showEvent(event);
}

void AlarmDialog::fill() {
    const AlarmSettings settings = monitor_->settings();
    for (int s = 1; s <= 2; ++s) {
        Sensor& sensor = sensors[s - 1];
        const AlarmLimitTexts texts = textsOf(settings.sensors[s - 1]);
        sensor.chkHigh->setChecked(texts.highOn);
        sensor.high.field->setText(texts.high);
        sensor.chkLow->setChecked(texts.lowOn);
        sensor.low.field->setText(texts.low);
        sensor.hysteresis.field->setText(texts.hysteresis);
        sensor.hold.field->setText(texts.hold);
        for (const Row* row : {&sensor.high, &sensor.low, &sensor.hysteresis, &sensor.hold})
            showError(*row, QString());
        units_[s - 1] = monitor_->unit(s);
    }
    command.field->setText(settings.command);
    showError(command, QString());
    lblMessage->hide();
    showUnits();
}

void AlarmDialog::showUnits() {
    for (int s = 1; s <= 2; ++s) {
        const QString sign = unitSign(units_[s - 1]);
        for (const Row* row :
             {&sensors[s - 1].high, &sensors[s - 1].low, &sensors[s - 1].hysteresis})
            row->unit->setText(sign);
    }
}

void AlarmDialog::followUnits() {
    for (int s = 1; s <= 2; ++s) {
        const TemperatureUnit from = units_[s - 1];
        const TemperatureUnit to = monitor_->unit(s);
        if (from == to)
            continue;
        Sensor& sensor = sensors[s - 1];
        for (QLineEdit* field : {sensor.high.field, sensor.low.field}) {
            if (const auto value = parseNumber(field->text()))
                field->setText(numberText(convertTemperature(*value, from, to)));
        }
        // Without a limit, the default hysteresis is 1 degree in whatever unit.
        const auto value = parseNumber(sensor.hysteresis.field->text());
        const bool byDefault = sensor.high.field->text().trimmed().isEmpty() &&
                               sensor.low.field->text().trimmed().isEmpty() &&
                               value == AlarmLimits().hysteresis;
        if (value && !byDefault)
            sensor.hysteresis.field->setText(numberText(convertDifference(*value, from, to)));
        units_[s - 1] = to;
    }
    showUnits();
}

void AlarmDialog::showError(const Row& row, const QString& message) {
    row.error->setText(message);
    row.error->setVisible(!message.isEmpty());
    row.field->setAccessibleDescription(message);
}

bool AlarmDialog::checkCommand() {
    QString error = commandError(command.field->text().trimmed());
    if (error.isEmpty() && !splitShellWords(command.field->text()))
        error = tr("A quote is not closed");
    showError(command, error);
    return error.isEmpty();
}

void AlarmDialog::ok() {
    AlarmSettings settings = monitor_->settings();
    bool wrong = false;
    for (int s = 1; s <= 2; ++s) {
        const Sensor& sensor = sensors[s - 1];
        const AlarmLimitTexts texts{sensor.chkHigh->isChecked(),     sensor.high.field->text(),
                                    sensor.chkLow->isChecked(),      sensor.low.field->text(),
                                    sensor.hysteresis.field->text(), sensor.hold.field->text()};
        const AlarmLimitErrors errors = checkLimits(texts, units_[s - 1], settings.sensors[s - 1]);
        showError(sensor.high, errors.high);
        showError(sensor.low, errors.low);
        showError(sensor.hysteresis, errors.hysteresis);
        showError(sensor.hold, errors.hold);
        wrong = wrong || errors.any();
    }
    settings.command = command.field->text().trimmed();
    const bool commandRight = checkCommand();
    lblMessage->hide();
    if (wrong || !commandRight)
        return;
    if (!monitor_->apply(settings)) {
        lblMessage->setText(tr("The alarm settings could not be stored; nothing was changed."));
        lblMessage->show();
        return;
    }
    accept();
}
