// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_monitor.h"

#include "sensor/sampling_cycle.h"
#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>

namespace {
QString degrees(double value, TemperatureUnit unit) {
    return numberText(value) + unitSign(unit);
}

// The time a condition began: the time of day, with the date when that was
// another day than now.
QString since(qint64 startedMs, qint64 nowMs) {
    const QDateTime started = QDateTime::fromMSecsSinceEpoch(startedMs);
    const bool today = started.date() == QDateTime::fromMSecsSinceEpoch(nowMs).date();
    return started.toString(today ? QStringLiteral("HH:mm:ss")
                                  : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
} // namespace

AlarmMonitor::AlarmMonitor(Mode mode, QObject* parent)
    : QObject(parent), mode_(mode), notifier_(this), runner_(this) {
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    clock_ = [steady] {
        return AlarmInstant{steady->elapsed(), QDateTime::currentMSecsSinceEpoch()};
    };
    // Without a window every event is a line of its own already, and the
    // desktop is told only when its session bus is there.
    if (mode == Mode::Headless) {
        notifier_.setLastResort(false);
        notifier_.setExistingBusOnly(true);
    }
}

void AlarmMonitor::load(cl_Kelvano* store, const StoredSettings& values,
                        const std::array<TemperatureUnit, 2>& units) {
    store_ = store;
    storedUnits_ = units;
    inFile_ = alarmSettingsStored(values);
    QStringList refused;
    const AlarmSettings stored = readAlarmSettings(values, storedUnits_, &refused);
    for (const QString& line : refused)
        say(line);
    for (int s = 1; s <= 2; ++s)
        rule_.setLimits(s, stored.sensors[s - 1], storedUnits_[s - 1]);
    command_ = stored.command;
    Q_EMIT alarmChanged(1);
    Q_EMIT alarmChanged(2);
}

AlarmSettings AlarmMonitor::settings() const {
    return {{rule_.limits(1), rule_.limits(2)}, command_};
}

bool AlarmMonitor::store(const AlarmRule& rule, const QString& command) {
    if (!store_)
        return false;
    AlarmSettings stored{{rule.limitsIn(1, storedUnits_[0]), rule.limitsIn(2, storedUnits_[1])},
                         command};
    if (!store_->SaveSettings(SettingsKeys::section(), alarmValues(stored)))
        return false;
    inFile_ = true;
    return true;
}

bool AlarmMonitor::apply(const AlarmSettings& settings) {
    AlarmRule next = rule_;
    for (int s = 1; s <= 2; ++s)
        next.setLimits(s, settings.sensors[s - 1], rule_.unit(s));
    if (!store(next, settings.command))
        return false;
    rule_ = next;
    command_ = settings.command;
    Q_EMIT alarmChanged(1);
    Q_EMIT alarmChanged(2);
    return true;
}

void AlarmMonitor::unitsStored(const std::array<TemperatureUnit, 2>& units, bool written) {
    const bool changed = units != storedUnits_;
    storedUnits_ = units;
    // Only a file that holds alarm settings gets them again.
    if (written && changed && inFile_)
        store(rule_, command_);
}

void AlarmMonitor::feed(const SamplingCycle& cycle, const std::array<TemperatureUnit, 2>& units) {
    cycle_ = &cycle;
    for (int s = 1; s <= 2; ++s) {
        if (units[s - 1] != rule_.unit(s)) {
            rule_.setUnit(s, units[s - 1]);
            Q_EMIT unitChanged(s);
        }
    }
    // Nothing to do while no limit is on, unless an alarm has yet to end.
    if (!rule_.limits(1).anyOn() && !rule_.limits(2).anyOn() && !rule_.inAlarm(1) &&
        !rule_.inAlarm(2))
        return;

    const int32_t result = cycle.reading().result;
    std::array<AlarmSample, 2> samples;
    for (int s = 1; s <= 2; ++s) {
        AlarmSample& sample = samples[s - 1];
        if (result == PortCode::Unplugged ||
            (result == PortCode::Ok && isUnplugged(cycle.readout(s).raw)))
            sample.kind = AlarmSample::Unplugged;
        else if (result == PortCode::Ok && !cycle.displays().temperature[s - 1].isEmpty())
            sample = {AlarmSample::Value, double(cycle.readout(s).shown)};
    }
    const std::vector<AlarmEvent>& events = rule_.feed(clock_(), samples);
    if (events.empty())
        return;
    std::array<bool, 2> changed = {false, false};
    for (const AlarmEvent& event : events) {
        tell(event, command_);
        changed[event.sensor - 1] = true;
    }
    for (int s = 1; s <= 2; ++s) {
        if (changed[s - 1])
            Q_EMIT alarmChanged(s);
    }
}

void AlarmMonitor::test(const QString& command) {
    const AlarmInstant now = clock_();
    AlarmEvent event;
    event.kind = AlarmEvent::Test;
    event.unit = rule_.unit(1);
    event.startedMs = event.atMs = now.wallMs;
    if (cycle_ && cycle_->reading().result == PortCode::Ok &&
        !cycle_->displays().temperature[0].isEmpty())
        event.value = cycle_->readout(1).shown;
    tell(event, command);
}

QString AlarmMonitor::name(int sensor) const {
    return sensorName(cycle_ ? cycle_->displays() : Displays(), sensor);
}

void AlarmMonitor::say(const QString& line) {
    if (output_) {
        output_(line);
    } else {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
    }
}

void AlarmMonitor::tell(const AlarmEvent& event, const QString& command) {
    const QString heading = summary(event);
    const QString text = body(event, name(event.sensor));
    if (mode_ == Mode::Headless)
        say(DesktopNotifier::line(event.atMs, heading, text));
    const bool alarm = event.kind != AlarmEvent::Normal && event.kind != AlarmEvent::Test;
    notifier_.notify(heading, text, alarm);
    const auto number = [](const std::optional<double>& v) {
        return v ? numberText(*v) : QString();
    };
    runner_.run(command, {{QStringLiteral("KELVANO_SENSOR"), QString::number(event.sensor)},
                          {QStringLiteral("KELVANO_EVENT"), eventName(event.kind)},
                          {QStringLiteral("KELVANO_VALUE"), number(event.value)},
                          {QStringLiteral("KELVANO_UNIT"), unitCode(event.unit)},
                          {QStringLiteral("KELVANO_LIMIT"), number(event.limit)}});
    Q_EMIT alarmEvent(event);
}

QString AlarmMonitor::eventName(AlarmEvent::Kind kind) {
    switch (kind) {
    case AlarmEvent::High:
        return QStringLiteral("high");
    case AlarmEvent::Low:
        return QStringLiteral("low");
    case AlarmEvent::Unplugged:
        return QStringLiteral("unplugged");
    case AlarmEvent::Normal:
        return QStringLiteral("normal");
    case AlarmEvent::Test:
        break;
    }
    return QStringLiteral("test");
}

QString AlarmMonitor::summary(const AlarmEvent& event) {
    switch (event.kind) {
    case AlarmEvent::High:
        return tr("Kelvano: Sensor %1 high").arg(event.sensor);
    case AlarmEvent::Low:
        return tr("Kelvano: Sensor %1 low").arg(event.sensor);
    case AlarmEvent::Unplugged:
        return tr("Kelvano: Sensor %1 unplugged").arg(event.sensor);
    case AlarmEvent::Normal:
        return event.switchedOff ? tr("Kelvano: Sensor %1 alarm switched off").arg(event.sensor)
                                 : tr("Kelvano: Sensor %1 back to normal").arg(event.sensor);
    case AlarmEvent::Test:
        break;
    }
    return tr("Kelvano: test");
}

QString AlarmMonitor::body(const AlarmEvent& event, const QString& name) {
    const QString value = event.value ? degrees(*event.value, event.unit) : QString();
    const QString limit = event.limit ? degrees(*event.limit, event.unit) : QString();
    const QString started = since(event.startedMs, event.atMs);
    switch (event.kind) {
    case AlarmEvent::High:
        return tr("%1: %2, above the high limit of %3 since %4.").arg(name, value, limit, started);
    case AlarmEvent::Low:
        return tr("%1: %2, below the low limit of %3 since %4.").arg(name, value, limit, started);
    case AlarmEvent::Unplugged:
        return tr("%1: unplugged since %2.").arg(name, started);
    case AlarmEvent::Normal:
        if (event.switchedOff) {
            switch (event.condition) {
            case AlarmCondition::High:
                return tr("%1: high limit switched off (alarm since %2).").arg(name, started);
            case AlarmCondition::Low:
                return tr("%1: low limit switched off (alarm since %2).").arg(name, started);
            case AlarmCondition::Unplugged:
                break;
            }
            return tr("%1: limits switched off (unplugged since %2).").arg(name, started);
        }
        switch (event.condition) {
        case AlarmCondition::High:
            return tr("%1: %2, back below the high limit of %3 (alarm since %4).")
                .arg(name, value, limit, started);
        case AlarmCondition::Low:
            return tr("%1: %2, back above the low limit of %3 (alarm since %4).")
                .arg(name, value, limit, started);
        case AlarmCondition::Unplugged:
            break;
        }
        return tr("%1: %2, plugged in again (unplugged since %3).").arg(name, value, started);
    case AlarmEvent::Test:
        break;
    }
    return event.value
               ? tr("%1: %2. A test of the alarm notification and command.").arg(name, value)
               : tr("%1: no reading. A test of the alarm notification and command.").arg(name);
}

QString AlarmMonitor::alarmText(int sensor) const {
    QStringList parts;
    const AlarmLimits& l = rule_.limits(sensor);
    const TemperatureUnit unit = rule_.unit(sensor);
    const qint64 now = clock_().wallMs;
    const auto started = [&](AlarmCondition c) { return since(rule_.startedMs(sensor, c), now); };
    if (rule_.inAlarm(sensor, AlarmCondition::High))
        parts << tr("above the high limit of %1 since %2")
                     .arg(degrees(l.high, unit), started(AlarmCondition::High));
    if (rule_.inAlarm(sensor, AlarmCondition::Low))
        parts << tr("below the low limit of %1 since %2")
                     .arg(degrees(l.low, unit), started(AlarmCondition::Low));
    if (rule_.inAlarm(sensor, AlarmCondition::Unplugged))
        parts << tr("unplugged since %1").arg(started(AlarmCondition::Unplugged));
    if (parts.isEmpty())
        return QString();
    return tr("Alarm: %1").arg(parts.join(QStringLiteral("; ")));
}
