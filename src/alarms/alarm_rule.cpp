// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_rule.h"

#include "sensor/conversion.h"

#include <QLocale>

namespace {
double toCelsius(double value, UnitCode unit) {
    return unit == 'F' ? (value - 32.0) * 5.0 / 9.0 : value;
}
double fromCelsius(double celsius, UnitCode unit) {
    return unit == 'F' ? celsius * 9.0 / 5.0 + 32.0 : celsius;
}

int index(AlarmCondition c) {
    return int(c);
}
} // namespace

QString numberText(double value) {
    return QLocale::c().toString(value, 'g', 6);
}

double rounded(double value) {
    return parseNumber(numberText(value)).value_or(value);
}

double convertTemperature(double value, UnitCode from, UnitCode to) {
    return from == to ? value : rounded(fromCelsius(toCelsius(value, from), to));
}

double convertDifference(double value, UnitCode from, UnitCode to) {
    return from == to ? value : rounded(value * (to == 'F' ? 9.0 / 5.0 : 5.0 / 9.0));
}

void AlarmRule::setLimits(int sensor, const AlarmLimits& limits, UnitCode unit) {
    Sensor& s = sensors_[sensor - 1];
    const AlarmLimits& old = s.limits;
    const bool sameUnit = s.unit == unit;
    const bool shared =
        sameUnit && old.hysteresis == limits.hysteresis && old.holdSeconds == limits.holdSeconds;
    const bool keep[] = {
        shared && old.highOn == limits.highOn && old.high == limits.high,
        shared && old.lowOn == limits.lowOn && old.low == limits.low,
        sameUnit && old.anyOn() == limits.anyOn() && old.holdSeconds == limits.holdSeconds,
    };
    for (int c = 0; c < 3; ++c) {
        if (!keep[c])
            s.states[c] = State();
    }
    // A number given as it is now keeps the unit it was typed in.
    const double given[] = {limits.high, limits.low, limits.hysteresis};
    const double now[] = {old.high, old.low, old.hysteresis};
    for (int i = 0; i < 3; ++i) {
        if (!sameUnit || given[i] != now[i])
            s.typed[i] = {given[i], unit};
    }
    s.limits = limits;
    s.unit = unit;
}

AlarmLimits AlarmRule::limitsIn(int sensor, UnitCode unit) const {
    const Sensor& s = sensors_[sensor - 1];
    AlarmLimits out = s.limits;
    if (unit == s.unit)
        return out;
    out.high = convertTemperature(s.typed[0].value, s.typed[0].unit, unit);
    out.low = convertTemperature(s.typed[1].value, s.typed[1].unit, unit);
    out.hysteresis = convertDifference(s.typed[2].value, s.typed[2].unit, unit);
    return out;
}

void AlarmRule::setUnit(int sensor, UnitCode unit) {
    Sensor& s = sensors_[sensor - 1];
    if (s.unit == unit)
        return;
    s.limits = limitsIn(sensor, unit);
    s.unit = unit;
}

const std::vector<AlarmEvent>& AlarmRule::feed(const AlarmInstant& now,
                                               const std::array<AlarmSample, 2>& samples) {
    events_.clear();
    for (int sensor = 1; sensor <= 2; ++sensor)
        feedSensor(sensor, now, samples[sensor - 1]);
    return events_;
}

void AlarmRule::feedSensor(int sensor, const AlarmInstant& now, const AlarmSample& sample) {
    const AlarmLimits& l = sensors_[sensor - 1].limits;
    if (sample.kind == AlarmSample::Failed)
        return;
    if (sample.kind == AlarmSample::Unplugged) {
        // The limits keep their state: an alarm on stays on.
        update(sensor, AlarmCondition::Unplugged, now, l.anyOn(), false, sample, std::nullopt);
        return;
    }
    const double v = sample.value;
    update(sensor, AlarmCondition::Unplugged, now, false, true, sample, std::nullopt);
    if (l.highOn)
        update(sensor, AlarmCondition::High, now, v > l.high, v < l.high - l.hysteresis, sample,
               l.high);
    if (l.lowOn)
        update(sensor, AlarmCondition::Low, now, v<l.low, v> l.low + l.hysteresis, sample, l.low);
}

void AlarmRule::update(int sensor, AlarmCondition c, const AlarmInstant& now, bool past, bool back,
                       const AlarmSample& sample, std::optional<double> limit) {
    Sensor& s = sensors_[sensor - 1];
    State& state = s.states[index(c)];
    AlarmEvent event;
    if (state.alarm) {
        if (!back)
            return;
        state = State{false, std::nullopt, state.startedWallMs};
        event.kind = AlarmEvent::Normal;
    } else {
        if (!past) {
            state.pastSinceMs.reset();
            return;
        }
        if (!state.pastSinceMs) {
            state.pastSinceMs = now.steadyMs;
            state.startedWallMs = now.wallMs;
        }
        if (now.steadyMs - *state.pastSinceMs < qint64(s.limits.holdSeconds) * 1000)
            return;
        state.alarm = true;
        event.kind = c == AlarmCondition::High  ? AlarmEvent::High
                     : c == AlarmCondition::Low ? AlarmEvent::Low
                                                : AlarmEvent::Unplugged;
    }
    event.sensor = sensor;
    event.condition = c;
    if (sample.kind == AlarmSample::Value)
        event.value = sample.value;
    event.limit = limit;
    event.unit = s.unit;
    event.startedMs = state.startedWallMs;
    event.atMs = now.wallMs;
    events_.push_back(event);
}

bool AlarmRule::inAlarm(int sensor, AlarmCondition condition) const {
    return sensors_[sensor - 1].states[index(condition)].alarm;
}

bool AlarmRule::inAlarm(int sensor) const {
    for (const State& state : sensors_[sensor - 1].states) {
        if (state.alarm)
            return true;
    }
    return false;
}
