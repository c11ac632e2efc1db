// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_controller.h"

#include "alarms/alarm_dialog.h"

#include <QLabel>

AlarmController::AlarmController(QWidget* window, AlarmMonitor& monitor,
                                 const std::array<QLabel*, 2>& readouts)
    : QObject(window), window_(window), monitor_(monitor), readouts_(readouts) {
    for (int s = 1; s <= 2; ++s)
        normalLook_[s - 1] = readouts_[s - 1]->styleSheet();
    connect(&monitor_, &AlarmMonitor::alarmChanged, this, &AlarmController::showAlarm);
    connect(&monitor_, &AlarmMonitor::unitChanged, this, [this] {
        if (dialog_)
            dialog_->followUnits();
    });
}

void AlarmController::openDialog() {
    if (!dialog_)
        dialog_ = new AlarmDialog(&monitor_, window_);
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

AlarmDialog* AlarmController::dialog() const {
    return dialog_;
}

void AlarmController::showAlarm(int sensor) {
    QLabel* readout = readouts_[sensor - 1];
    const QString text = monitor_.alarmText(sensor);
    const bool alarm = !text.isEmpty();
    readout->setAccessibleDescription(text);
    readout->setToolTip(text);
    if (!alarm) {
        readout->setStyleSheet(normalLook_[sensor - 1]);
        return;
    }
    // The readout's own colour as the background, the digits in white on it.
    readout->setStyleSheet(normalLook_[sensor - 1]);
    readout->ensurePolished();
    const QColor colour = readout->palette().color(QPalette::WindowText);
    readout->setStyleSheet(QStringLiteral("color: #ffffff; background-color: %1; "
                                          "border: 1px solid %1; border-radius: 3px")
                               .arg(colour.name()));
}
