// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sensor/conversion.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>
#include <vector>

// The limits of one sensor, in the sensor's unit.
struct AlarmLimits {
    bool highOn = false;
    double high = 0.0;
    bool lowOn = false;
    double low = 0.0;
    double hysteresis = 1.0; // degrees back past the limit before an alarm ends
    int holdSeconds = 0;     // how long a reading stays past a limit before the alarm starts

    bool anyOn() const { return highOn || lowOn; }
    // A limit that is off at 0 was never set: its field is empty. The
    // hysteresis of a sensor with no limit set, at 1, is the default of 1
    // degree in whatever unit is shown. Numbers never set are not converted.
    bool highSet() const { return highOn || high != 0.0; }
    bool lowSet() const { return lowOn || low != 0.0; }
    bool hysteresisSet() const { return highSet() || lowSet() || hysteresis != 1.0; }
};

// A number as the dialog, the settings file and the messages write it: C
// locale, at most two decimals.
QString numberText(double value);
// The number that numberText() shows.
double rounded(double value);

// What one tick gave for a sensor.
struct AlarmSample {
    enum Kind { Value, Unplugged, Failed };
    Kind kind = Failed;
    double value = 0.0; // the displayed temperature, for Value
};

// The two clocks an event needs: a steady one for the hold time, the wall
// clock for the texts.
struct AlarmInstant {
    qint64 steadyMs = 0;
    qint64 wallMs = 0; // milliseconds since 1970 UTC
};

enum class AlarmCondition { High, Low, Unplugged };

struct AlarmEvent {
    enum Kind { High, Low, Unplugged, Normal, Test };
    int sensor = 1;
    Kind kind = Normal;
    AlarmCondition condition = AlarmCondition::High; // for Normal: which alarm ended
    std::optional<double> value;                     // the reading; none while unplugged
    std::optional<double> limit; // none for Unplugged and Test, and for an alarm switched off
    TemperatureUnit unit = TemperatureUnit::Fahrenheit;
    bool switchedOff = false; // for Normal: the alarm ended because its limit was switched off
    qint64 startedMs = 0;     // wall clock: when the condition began
    qint64 atMs = 0;          // wall clock: now
};

// The limit rule of both sensors. Each condition (high, low, unplugged) is
// normal or in alarm; an alarm starts when the condition has lasted the hold
// time and ends when the reading is back past the limit by the hysteresis, or
// at the first read after its limit was switched off: one event at each
// change, none while nothing changes. A failed read changes nothing;
// "unplugged" is a condition only while some limit of the sensor is on.
class AlarmRule {
  public:
    const AlarmLimits& limits(int sensor) const { return sensors_[sensor - 1].limits; }
    // The limits in another unit, each converted from the unit it was typed in.
    AlarmLimits limitsIn(int sensor, TemperatureUnit unit) const;
    TemperatureUnit unit(int sensor) const { return sensors_[sensor - 1].unit; }

    // New limits, in the given unit. The conditions go on: the next reading
    // is judged by the new limits, and an alarm that ends then has its event.
    void setLimits(int sensor, const AlarmLimits& limits, TemperatureUnit unit);
    // The sensor's unit changed: the limits are converted and the conditions
    // go on. Each limit is converted from the unit it was typed in, so
    // changing back gives the typed number again.
    void setUnit(int sensor, TemperatureUnit unit);

    // One tick of both sensors; the events it caused, sensor 1's first.
    const std::vector<AlarmEvent>& feed(const AlarmInstant& now,
                                        const std::array<AlarmSample, 2>& samples);

    bool inAlarm(int sensor, AlarmCondition condition) const;
    bool inAlarm(int sensor) const;
    // Wall clock: when the condition began (meaningful while in alarm).
    qint64 startedMs(int sensor, AlarmCondition condition) const {
        return sensors_[sensor - 1].states[int(condition)].startedWallMs;
    }

  private:
    struct State {
        bool alarm = false;
        std::optional<qint64> pastSinceMs; // steady clock, while past the limit
        qint64 startedWallMs = 0;
    };
    // A number as typed and the unit it was typed in; none for a number never
    // set (an empty limit, the default hysteresis), the same in every unit.
    struct Typed {
        double value = 0.0;
        std::optional<TemperatureUnit> unit;
    };
    struct Sensor {
        AlarmLimits limits; // in unit
        TemperatureUnit unit = TemperatureUnit::Fahrenheit;
        std::array<Typed, 3> typed = {{{0.0, {}}, {0.0, {}}, {1.0, {}}}}; // high, low, hysteresis
        std::array<State, 3> states;                                      // by AlarmCondition
    };

    void feedSensor(int sensor, const AlarmInstant& now, const AlarmSample& sample);
    void update(int sensor, AlarmCondition c, const AlarmInstant& now, bool past, bool back,
                const AlarmSample& sample, std::optional<double> limit);

    std::array<Sensor, 2> sensors_;
    std::vector<AlarmEvent> events_;
};
