// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"
#include "logging/log_run.h"
#include "sensor/game_port.h"
#include "sensor/sampling_cycle.h"
#include "settings/cl_kelvano.h"
#include "settings/settings_model.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

// The run without a window: the window's start-up check, stored settings,
// sampling tick and log, for a machine nobody sits at. Port status changes go
// to standard error, one dated line each, so a service's journal shows when a
// sensor dropped out; so does, at the start, where the rows go, how often and
// from what. SIGTERM and SIGINT end the run between two rows; SIGHUP reopens
// the log by its path, for log rotation.
class HeadlessRun : public QObject {
    Q_OBJECT
  public:
    struct Options {
        QString logPath;                    // empty: the log's usual place; "-": standard output
        std::optional<int> intervalSeconds; // instead of the stored interval
        QString device;                     // what is read, for the line at the start
        bool standardOutputClosed = false;  // the program started without it
    };

    HeadlessRun(std::unique_ptr<GamePortSource> source, Options options);
    ~HeadlessRun() override;

    // Probe, settings, log, then ticks until a signal or a failure ends the
    // run. Returns the exit status: 0 after a signal, 1 without a device, 4
    // when the log cannot be opened or written.
    int exec();

    // The steps exec() runs, for tests that drive them with their own clock.
    bool start();
    void tick();

    void setClock(std::function<QDateTime()> clock);
    const SamplingCycle& cycle() const { return cycle_; }
    LogRun& log() { return log_; }
    AlarmMonitor& alarms() { return alarms_; }

  Q_SIGNALS:
    // After each sampling tick.
    void ticked();

  private:
    void fail(const QString& message, int status);
    void sayDated(const QString& line) const;
    void onSignal();
    std::array<QString, 2> units() const;

    std::unique_ptr<GamePortSource> source_;
    Options options_;
    cl_Kelvano store_;
    SettingsModel settings_;
    SamplingCycle cycle_;
    LogRun log_;
    AlarmMonitor alarms_{AlarmMonitor::Mode::Headless};
    QTimer* sampling_ = nullptr;
    QSocketNotifier* signals_ = nullptr;
    std::function<QDateTime()> clock_ = &QDateTime::currentDateTime;
    QString lastStatus_;
    int status_ = 0;
};
