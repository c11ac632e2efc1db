// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_settings.h"

#include "sensor/conversion.h"
#include "settings/settings_keys.h"

#include <QCoreApplication>

using SettingsKeys::Key;

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("AlarmSettings", text);
}

// The bounds of a temperature in unit: -100 to 300 °C, what a thermistor can
// measure. Their converted values are exact, so a unit change never takes a
// stored limit outside them.
constexpr double lowestCelsius = -100.0;
constexpr double highestCelsius = 300.0;
// The largest hysteresis, 100 °C in unit (180 °F), so that it too stays
// within bounds in either unit.
constexpr double largestHysteresisCelsius = 100.0;

QString rangeError(double lowest, double highest, TemperatureUnit unit) {
    return tr("Must be from %1 to %2 %3")
        .arg(numberText(lowest), numberText(highest), unitSign(unit));
}

// A limit typed in unit; value is set only when there is no error.
QString limitError(const QString& text, TemperatureUnit unit, double& value) {
    const std::optional<double> parsed = parseNumber(text);
    if (!parsed)
        return tr("Not a number");
    const double lowest = fromCelsius(lowestCelsius, unit);
    const double highest = fromCelsius(highestCelsius, unit);
    const double v = rounded(*parsed);
    if (v < lowest || v > highest)
        return rangeError(lowest, highest, unit);
    value = v;
    return QString();
}

} // namespace

AlarmLimitErrors checkLimits(const AlarmLimitTexts& texts, TemperatureUnit unit,
                             AlarmLimits& limits) {
    AlarmLimitErrors errors;
    limits.highOn = texts.highOn;
    limits.lowOn = texts.lowOn;
    // A limit that is off keeps its number only when it would do as a limit.
    const QString high = limitError(texts.high, unit, limits.high);
    const QString low = limitError(texts.low, unit, limits.low);
    if (texts.highOn)
        errors.high = high;
    if (texts.lowOn)
        errors.low = low;
    const bool both = texts.highOn && texts.lowOn && errors.high.isEmpty() && errors.low.isEmpty();
    if (both && limits.low >= limits.high)
        errors.low = tr("Must be below the high limit");

    if (const std::optional<double> parsed = parseNumber(texts.hysteresis)) {
        const double h = rounded(*parsed);
        const double largest =
            convertDifference(largestHysteresisCelsius, TemperatureUnit::Celsius, unit);
        limits.hysteresis = h;
        if (h < 0 || h > largest)
            errors.hysteresis = rangeError(0, largest, unit);
        else if (both && errors.low.isEmpty() && h > limits.high - limits.low)
            errors.hysteresis = tr("Must be at most the high limit minus the low limit");
    } else {
        errors.hysteresis = tr("Not a number");
    }

    bool whole = false;
    const int hold = texts.hold.trimmed().toInt(&whole);
    if (whole && hold >= 0 && hold <= 86400)
        limits.holdSeconds = hold;
    else
        errors.hold = tr("A whole number of seconds from 0 to 86400");
    return errors;
}

QString commandError(const QString& command) {
    if (command.size() > maxCommandLength)
        return tr("At most %1 characters").arg(maxCommandLength);
    return QString();
}

AlarmLimitTexts textsOf(const AlarmLimits& limits) {
    // A limit that is off and was never set shows an empty field.
    const auto limitText = [](bool set, double value) {
        return set ? numberText(value) : QString();
    };
    return {limits.highOn,
            limitText(limits.highSet(), limits.high),
            limits.lowOn,
            limitText(limits.lowSet(), limits.low),
            numberText(limits.hysteresis),
            QString::number(limits.holdSeconds)};
}

AlarmSettings readAlarmSettings(const StoredSettings& stored,
                                const std::array<TemperatureUnit, 2>& units, QStringList* refused) {
    AlarmSettings settings;
    const auto value = [&](Key key, int s) {
        return stored.value(SettingsKeys::name(key, s), SettingsKeys::defaultText(key, s));
    };
    // An option that reads as neither true nor false is off.
    const auto on = [&](Key key, int s) {
        return SettingsKeys::readBool(value(key, s)).value_or(false);
    };
    const auto refuse = [&](Key key, int s, const QString& why, const QString& outcome) {
        if (refused && !why.isEmpty())
            *refused << tr("kelvano: stored alarm setting %1 refused (%2): %3")
                            .arg(SettingsKeys::name(key, s), why.at(0).toLower() + why.mid(1),
                                 outcome);
    };
    for (int s = 1; s <= 2; ++s) {
        const AlarmLimitTexts texts{on(Key::AlarmHighOn, s),        value(Key::AlarmHigh, s),
                                    on(Key::AlarmLowOn, s),         value(Key::AlarmLow, s),
                                    value(Key::AlarmHysteresis, s), value(Key::AlarmHold, s)};
        AlarmLimits& limits = settings.sensors[s - 1];
        const AlarmLimitErrors errors = checkLimits(texts, units[s - 1], limits);
        if (!errors.any())
            continue;
        limits.highOn = limits.lowOn = false;
        const QString off = tr("the alarms of sensor %1 are off").arg(s);
        refuse(Key::AlarmHigh, s, errors.high, off);
        refuse(Key::AlarmLow, s, errors.low, off);
        refuse(Key::AlarmHysteresis, s, errors.hysteresis, off);
        refuse(Key::AlarmHold, s, errors.hold, off);
    }
    settings.command = value(Key::AlarmCommand, 1);
    if (const QString why = commandError(settings.command); !why.isEmpty()) {
        refuse(Key::AlarmCommand, 1, why, tr("no command runs"));
        settings.command.clear();
    }
    return settings;
}

bool alarmSettingsStored(const StoredSettings& stored) {
    const QString none = QStringLiteral("\n(not stored)");
    for (const auto& [key, text] : alarmValues(AlarmSettings()))
        if (stored.value(key, none) != none)
            return true;
    return false;
}

cl_Kelvano::Values alarmValues(const AlarmSettings& settings) {
    cl_Kelvano::Values values;
    for (int s = 1; s <= 2; ++s) {
        const AlarmLimitTexts texts = textsOf(settings.sensors[s - 1]);
        const std::pair<Key, QString> sensor[] = {
            {Key::AlarmHighOn, SettingsKeys::boolText(texts.highOn)},
            {Key::AlarmHigh, texts.high},
            {Key::AlarmLowOn, SettingsKeys::boolText(texts.lowOn)},
            {Key::AlarmLow, texts.low},
            {Key::AlarmHysteresis, texts.hysteresis},
            {Key::AlarmHold, texts.hold}};
        for (const auto& [key, text] : sensor)
            values.emplace_back(SettingsKeys::name(key, s), text);
    }
    values.emplace_back(SettingsKeys::name(Key::AlarmCommand), settings.command);
    return values;
}
