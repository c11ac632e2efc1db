// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>

class AlarmDialog;
class QLabel;
class QWidget;

// The alarms of the main window: the dialog on the station's monitor, and the look of a
// readout while its sensor is in alarm (its colours swapped, so the readout's
// own colour fills it, with the alarm in its tooltip and its accessible
// description).
class AlarmController : public QObject {
    Q_OBJECT
  public:
    AlarmController(QWidget* window, AlarmMonitor& monitor, const std::array<QLabel*, 2>& readouts);

    AlarmMonitor& monitor() { return monitor_; }
    // Opens the dialog, or brings up the one already open.
    void openDialog();
    AlarmDialog* dialog() const;

  private:
    void showAlarm(int sensor);

    QWidget* window_;
    AlarmMonitor& monitor_;
    QPointer<AlarmDialog> dialog_;
    std::array<QLabel*, 2> readouts_;
    std::array<QString, 2> normalLook_; // each readout's own style sheet
};
