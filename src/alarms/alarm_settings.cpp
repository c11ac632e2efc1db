// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm_settings.h"

#include "sensor/conversion.h"
#include "settings/settings_keys.h"

#include <QCoreApplication>

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("AlarmSettings", text);
}

QString truthText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// A limit typed in unit: -100 to 500 °C, in that unit.
QString limitError(const QString& text, UnitCode unit, double& value) {
    const std::optional<double> parsed = parseNumber(text);
    if (!parsed)
        return tr("Not a number");
    value = rounded(*parsed);
    const double lowest = unit == 'F' ? -148.0 : -100.0;
    const double highest = unit == 'F' ? 932.0 : 500.0;
    if (value < lowest || value > highest)
        return tr("Must be from %1 to %2 °%3")
            .arg(numberText(lowest), numberText(highest), QChar::fromLatin1(unit));
    return QString();
}

QString key(const char* name, int sensor) {
    return QStringLiteral("Alarm%1%2").arg(sensor).arg(QLatin1String(name));
}
} // namespace

AlarmLimitErrors checkLimits(const AlarmLimitTexts& texts, UnitCode unit, AlarmLimits& limits) {
    AlarmLimitErrors errors;
    limits.highOn = texts.highOn;
    limits.lowOn = texts.lowOn;
    if (texts.highOn)
        errors.high = limitError(texts.high, unit, limits.high);
    else
        limits.high = rounded(parseNumber(texts.high).value_or(limits.high));
    if (texts.lowOn)
        errors.low = limitError(texts.low, unit, limits.low);
    else
        limits.low = rounded(parseNumber(texts.low).value_or(limits.low));
    const bool both = texts.highOn && texts.lowOn && errors.high.isEmpty() && errors.low.isEmpty();
    if (both && limits.low >= limits.high)
        errors.low = tr("Must be below the high limit");

    if (const std::optional<double> parsed = parseNumber(texts.hysteresis)) {
        const double h = rounded(*parsed);
        limits.hysteresis = h;
        if (h < 0)
            errors.hysteresis = tr("Must be 0 or more");
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

AlarmLimitTexts textsOf(const AlarmLimits& limits) {
    // A limit that is off and was never set shows an empty field.
    const auto limitText = [](bool on, double value) {
        return on || value != 0.0 ? numberText(value) : QString();
    };
    return {limits.highOn,
            limitText(limits.highOn, limits.high),
            limits.lowOn,
            limitText(limits.lowOn, limits.low),
            numberText(limits.hysteresis),
            QString::number(limits.holdSeconds)};
}

namespace AlarmKeys {
QString highOn(int sensor) {
    return key("HighOn", sensor);
}
QString high(int sensor) {
    return key("High", sensor);
}
QString lowOn(int sensor) {
    return key("LowOn", sensor);
}
QString low(int sensor) {
    return key("Low", sensor);
}
QString hysteresis(int sensor) {
    return key("Hysteresis", sensor);
}
QString hold(int sensor) {
    return key("Hold", sensor);
}
QString command() {
    return QStringLiteral("AlarmCommand");
}
} // namespace AlarmKeys

AlarmSettings readAlarmSettings(const StoredSettings& stored,
                                const std::array<UnitCode, 2>& units) {
    AlarmSettings settings;
    const auto value = [&](const QString& key, const QString& missing) {
        return stored.value(key, missing);
    };
    const auto on = [&](const QString& key) {
        return value(key, QString())
                   .trimmed()
                   .compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    };
    for (int s = 1; s <= 2; ++s) {
        const AlarmLimitTexts texts{on(AlarmKeys::highOn(s)),
                                    value(AlarmKeys::high(s), QString()),
                                    on(AlarmKeys::lowOn(s)),
                                    value(AlarmKeys::low(s), QString()),
                                    value(AlarmKeys::hysteresis(s), QStringLiteral("1")),
                                    value(AlarmKeys::hold(s), QStringLiteral("0"))};
        AlarmLimits& limits = settings.sensors[s - 1];
        if (checkLimits(texts, units[s - 1], limits).any())
            limits.highOn = limits.lowOn = false;
    }
    settings.command = value(AlarmKeys::command(), QString());
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
        values.emplace_back(AlarmKeys::highOn(s), truthText(texts.highOn));
        values.emplace_back(AlarmKeys::high(s), texts.high);
        values.emplace_back(AlarmKeys::lowOn(s), truthText(texts.lowOn));
        values.emplace_back(AlarmKeys::low(s), texts.low);
        values.emplace_back(AlarmKeys::hysteresis(s), texts.hysteresis);
        values.emplace_back(AlarmKeys::hold(s), texts.hold);
    }
    values.emplace_back(AlarmKeys::command(), settings.command);
    return values;
}
