// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logging/log_run.h"
#include "station/station.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

// The run without a window: a station and its log, for a machine nobody sits
// at. Port status changes go
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

    // The start exec() runs, for tests that drive the station with their own clock.
    bool start();

    void setClock(std::function<QDateTime()> clock);
    Station& station() { return station_; }
    LogRun& log() { return log_; }

  private:
    void fail(const QString& message, int status);
    void sayDated(const QString& line) const;
    void onSignal();

    Options options_;
    Station station_;
    LogRun log_;
    QSocketNotifier* signals_ = nullptr;
    std::function<QDateTime()> clock_ = &QDateTime::currentDateTime;
    int status_ = 0;
};
