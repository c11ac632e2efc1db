// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_rule.h"

#include <QLocale>
#include <cmath>

namespace {
int index(AlarmCondition c) {
    return int(c);
}
} // namespace

QString numberText(double value) {
    return QLocale::c().toString(rounded(value), 'g', 15);
}

double rounded(double value) {
    // Numbers too large for two decimals to matter keep their value.
    if (!(std::abs(value) < 1e12))
        return value;
    const double r = std::round(value * 100.0) / 100.0;
    return r == 0.0 ? 0.0 : r; // never "-0"
}

void AlarmRule::setLimits(int sensor, const AlarmLimits& limits, TemperatureUnit unit) {
    Sensor& s = sensors_[sensor - 1];
    // A number given as it is now keeps the unit it was typed in.
    const bool set[] = {limits.highSet(), limits.lowSet(), limits.hysteresisSet()};
    const double given[] = {limits.high, limits.low, limits.hysteresis};
    const double now[] = {s.limits.high, s.limits.low, s.limits.hysteresis};
    for (int i = 0; i < 3; ++i) {
        if (!set[i])
            s.typed[i] = {given[i], std::nullopt};
        else if (s.unit != unit || given[i] != now[i] || !s.typed[i].unit)
            s.typed[i] = {given[i], unit};
    }
    s.limits = limits;
    s.unit = unit;
}

AlarmLimits AlarmRule::limitsIn(int sensor, TemperatureUnit unit) const {
    const Sensor& s = sensors_[sensor - 1];
    AlarmLimits out = s.limits;
    if (unit == s.unit)
        return out;
    // Converted as numberText() shows it.
    const auto in = [unit](const Typed& typed,
                           double (*convert)(double, TemperatureUnit, TemperatureUnit)) {
        return typed.unit && *typed.unit != unit ? rounded(convert(typed.value, *typed.unit, unit))
                                                 : typed.value;
    };
    out.high = in(s.typed[0], convertTemperature);
    out.low = in(s.typed[1], convertTemperature);
    out.hysteresis = in(s.typed[2], convertDifference);
    return out;
}

void AlarmRule::setUnit(int sensor, TemperatureUnit unit) {
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
    // While unplugged the limits keep their state: an alarm on stays on. An
    // alarm whose limit is off now ends at this read, whatever it reads.
    const bool unplugged = sample.kind == AlarmSample::Unplugged;
    const double v = sample.value;
    update(sensor, AlarmCondition::Unplugged, now, unplugged && l.anyOn(), !unplugged || !l.anyOn(),
           sample, std::nullopt);
    if (!l.highOn)
        update(sensor, AlarmCondition::High, now, false, true, sample, std::nullopt);
    else if (!unplugged)
        update(sensor, AlarmCondition::High, now, v > l.high, v < l.high - l.hysteresis, sample,
               l.high);
    if (!l.lowOn)
        update(sensor, AlarmCondition::Low, now, false, true, sample, std::nullopt);
    else if (!unplugged)
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
        event.switchedOff = c == AlarmCondition::High  ? !s.limits.highOn
                            : c == AlarmCondition::Low ? !s.limits.lowOn
                                                       : sample.kind != AlarmSample::Value;
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
