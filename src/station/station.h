// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"
#include "sensor/game_port.h"
#include "sensor/sampling_cycle.h"
#include "settings/cl_kelvano.h"
#include "settings/settings_model.h"

#include <QObject>
#include <QString>
#include <array>
#include <memory>

class QTimer;

// The thermometer itself, without a face: the port, the sampling cycle, the
// live settings loaded from the store, the alarms, and the precise
// once-a-second tick. The main window and the run without a window each hold
// one and show, log or publish what it announces; anything else that follows
// the readings (the metrics page, a broker) listens the same way.
class Station : public QObject {
    Q_OBJECT
  public:
    Station(std::unique_ptr<GamePortSource> source, AlarmMonitor::Mode mode,
            QObject* parent = nullptr);

    // Start-up: the device check, then the stored settings and alarms, then
    // the ticks. False when there is no device; nothing else was done then.
    bool start();
    void stop();
    // One sampling tick: read, convert with the settings in force, feed the
    // alarms, announce.
    void tick();

    const SamplingCycle& cycle() const { return cycle_; }
    SettingsModel& settings() { return settings_; }
    const SettingsModel& settings() const { return settings_; }
    cl_Kelvano& store() { return store_; }
    AlarmMonitor& alarms() { return alarms_; }
    const AlarmMonitor& alarms() const { return alarms_; }
    QTimer* timer() const { return timer_; }
    // Each sensor's unit now.
    std::array<TemperatureUnit, 2> units() const;

  Q_SIGNALS:
    // After each tick: cycle() holds its results, the alarms have seen them.
    void ticked();
    // The port status text changed with this tick (announced before ticked()).
    void statusChanged(const QString& status);

  private:
    std::unique_ptr<GamePortSource> source_;
    SamplingCycle cycle_;
    cl_Kelvano store_;
    SettingsModel settings_;
    AlarmMonitor alarms_;
    QTimer* timer_;
    QString lastStatus_;
};
