// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_rule.h"
#include "alarms/alarm_settings.h"
#include "alarms/command_runner.h"
#include "alarms/desktop_notifier.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>

class SamplingCycle;
class cl_Kelvano;

// The alarms of a run, with or without a window: fed after every sampling
// tick, it runs the limit rule on both sensors' displayed temperatures and
// tells the user of every event by a desktop notification and the command.
//
// A run without a window needs three calls:
//     AlarmMonitor alarms(AlarmMonitor::Mode::Headless);
//     alarms.load(&store, stored, {unit1, unit2});
//     after each tick: alarms.feed(cycle, {unit1, unit2});
// In that mode every event is also one line on standard error, and
// notifications go out only when a session bus is there.
class AlarmMonitor : public QObject {
    Q_OBJECT
  public:
    enum class Mode { Window, Headless };
    using Clock = std::function<AlarmInstant()>;
    using Output = std::function<void(const QString& line)>;

    explicit AlarmMonitor(Mode mode = Mode::Window, QObject* parent = nullptr);

    void setClock(Clock clock) { clock_ = std::move(clock); }
    // Where event lines go in headless mode, and in both modes the lines on
    // stored settings refused at load (standard error unless set).
    void setOutput(Output output) { output_ = std::move(output); }
    DesktopNotifier& notifier() { return notifier_; }
    CommandRunner& runner() { return runner_; }

    // Takes the alarm settings from stored, read from store, where apply()
    // stores them; the limits are in units, the sensors' units once the
    // stored settings are loaded.
    void load(cl_Kelvano* store, const StoredSettings& stored,
              const std::array<TemperatureUnit, 2>& units);
    // The settings in force, the limits in each sensor's unit now.
    AlarmSettings settings() const;
    TemperatureUnit unit(int sensor) const { return rule_.unit(sensor); }
    // Stores settings (limits in the sensors' units now) in one write and,
    // when that worked, puts them in force.
    bool apply(const AlarmSettings& settings);
    // The sensors' units were stored (true) or read back (false) with the
    // other settings. The stored limits follow the stored units: after a
    // store they are written again in the new units.
    void unitsStored(const std::array<TemperatureUnit, 2>& units, bool written);

    // One sampling tick: each sensor's displayed temperature in its unit; a
    // failed read gives none.
    void feed(const SamplingCycle& cycle, const std::array<TemperatureUnit, 2>& units);
    // A test event through the notification and command (not the settings').
    void test(const QString& command);

    bool inAlarm(int sensor) const { return rule_.inAlarm(sensor); }
    bool inAlarm(int sensor, AlarmCondition condition) const {
        return rule_.inAlarm(sensor, condition);
    }
    // What is in alarm on a sensor, for its readout; empty when nothing is.
    QString alarmText(int sensor) const;

    static QString summary(const AlarmEvent& event);
    static QString body(const AlarmEvent& event, const QString& name);
    static QString eventName(AlarmEvent::Kind kind);

  Q_SIGNALS:
    void alarmEvent(const AlarmEvent& event);
    // A sensor's alarmText() may have changed.
    void alarmChanged(int sensor);
    // A sensor's unit changed, and with it its limits.
    void unitChanged(int sensor);

  private:
    void tell(const AlarmEvent& event, const QString& command);
    QString name(int sensor) const;
    void say(const QString& line);
    bool store(const AlarmRule& rule, const QString& command);

    Mode mode_;
    Clock clock_;
    Output output_;
    AlarmRule rule_;
    QString command_;
    DesktopNotifier notifier_;
    CommandRunner runner_;
    cl_Kelvano* store_ = nullptr;
    std::array<TemperatureUnit, 2> storedUnits_ = {TemperatureUnit::Fahrenheit,
                                                   TemperatureUnit::Fahrenheit};
    bool inFile_ = false;                  // the settings file holds alarm settings
    const SamplingCycle* cycle_ = nullptr; // the last one fed
};
