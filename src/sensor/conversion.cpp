// SPDX-License-Identifier: GPL-3.0-or-later

#include "conversion.h"

#include "settings/settings_keys.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace {
constexpr QChar degreeSign(0x00B0);

template <typename Int> bool fits(double value) {
    return value >= double(std::numeric_limits<Int>::min()) &&
           value <= double(std::numeric_limits<Int>::max());
}
} // namespace

Coefficients initialCoefficients(int sensor) {
    using SettingsKeys::coefficients, SettingsKeys::defaultText;
    return {defaultText(coefficients[0], sensor), defaultText(coefficients[1], sensor),
            defaultText(coefficients[2], sensor)};
}

double fromCelsius(double celsius, TemperatureUnit unit) {
    return unit == TemperatureUnit::Fahrenheit ? celsius * 9.0 / 5.0 + 32.0 : celsius;
}

double toCelsius(double value, TemperatureUnit unit) {
    return unit == TemperatureUnit::Fahrenheit ? (value - 32.0) * 5.0 / 9.0 : value;
}

double convertTemperature(double value, TemperatureUnit from, TemperatureUnit to) {
    return from == to ? value : fromCelsius(toCelsius(value, from), to);
}

double convertDifference(double value, TemperatureUnit from, TemperatureUnit to) {
    return from == to ? value : value * (to == TemperatureUnit::Fahrenheit ? 9.0 / 5.0 : 5.0 / 9.0);
}

QString unitSign(TemperatureUnit unit) {
    return degreeSign + unitCode(unit);
}

QString unitCode(TemperatureUnit unit) {
    return unit == TemperatureUnit::Fahrenheit ? QStringLiteral("F") : QStringLiteral("C");
}

std::optional<TemperatureUnit> unitFromCode(const QString& code) {
    if (code == QLatin1String("C"))
        return TemperatureUnit::Celsius;
    if (code == QLatin1String("F"))
        return TemperatureUnit::Fahrenheit;
    return std::nullopt;
}

bool isValidProfileCode(const QString& code) {
    return code == QLatin1String("100") || code == QLatin1String("50") ||
           code == QLatin1String("10");
}

std::optional<int> offsetFromCode(const QString& code) {
    static const char* const codes[] = {"3", "2", "1", "0", "-1", "-2", "-3"};
    for (const char* valid : codes)
        if (code == QLatin1String(valid))
            return code.toInt();
    return std::nullopt;
}

std::optional<double> parseNumber(const QString& text) {
    // The C locale would read "0,001" as 1, taking the comma for a thousands
    // separator; a number typed with a comma anywhere is no number at all.
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double roundHalfEven(double value) {
    // nearbyint rounds in the current mode, which is to-nearest-even unless a
    // caller changed it; do it by hand so the rule never depends on that.
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::optional<CoefficientValues> parseCoefficients(const Coefficients& coefficients) {
    const auto a = parseNumber(coefficients.a);
    const auto b = parseNumber(coefficients.b);
    const auto c = parseNumber(coefficients.c);
    if (!a || !b || !c)
        return std::nullopt;
    return CoefficientValues{*a, *b, *c};
}

std::optional<double> steinhartHartCelsius(double raw, const Coefficients& coefficients) {
    const auto k = parseCoefficients(coefficients);
    return k ? steinhartHartCelsius(raw, *k) : std::nullopt;
}

std::optional<double> steinhartHartCelsius(double raw, const CoefficientValues& k) {
    double l = 0.0;
    double l3 = 0.0;
    if (raw >= 1.0) {
        l = std::log(raw);
        l3 = (l * l) * l;
    }
    const double s = (k.b * l + k.a) + k.c * l3;
    const double t = 1.0 / s - kelvinOffset; // infinite when S is 0
    if (!std::isfinite(t))
        return std::nullopt;
    return t;
}

void convert(ChannelReadout& readout, uint32_t raw, const Coefficients& coefficients) {
    convert(readout, raw, parseCoefficients(coefficients));
}

void convert(ChannelReadout& readout, uint32_t raw,
             const std::optional<CoefficientValues>& coefficients) {
    if (!coefficients)
        return;
    const auto t = steinhartHartCelsius(double(raw), *coefficients);
    if (!t)
        return;
    const double r = double(raw);
    const double celsius = roundHalfEven(*t);
    if (!fits<int32_t>(celsius) || (r > 0.0 && !fits<int16_t>(celsius)))
        return;

    readout.celsius = int32_t(celsius);
    if (r > 0.0) {
        readout.heldCelsius = int16_t(celsius);
        readout.exactCelsius = *t;
    }
}

std::optional<int16_t> applyOffset(ChannelReadout& readout, const QString& offsetCode) {
    const auto offset = offsetFromCode(offsetCode);
    if (!offset)
        return readout.heldCelsius;

    const int64_t graphTimesNine = (int64_t(readout.celsius) + *offset) * 9;
    if (fits<int32_t>(double(graphTimesNine)))
        readout.graphValue = double(graphTimesNine) / 5.0 + 32.0;

    const int32_t adjusted = int32_t(readout.heldCelsius) + *offset;
    if (!fits<int16_t>(adjusted))
        return std::nullopt;
    return int16_t(adjusted);
}

bool applyUnit(ChannelReadout& readout, int16_t adjusted, TemperatureUnit unit) {
    if (unit == TemperatureUnit::Fahrenheit) {
        const int32_t timesNine = int32_t(adjusted) * 9;
        if (!fits<int16_t>(timesNine))
            return false; // the readout cannot hold it
        readout.shown = int16_t(roundHalfEven(double(timesNine) / 5.0 + 32.0));
    } else {
        readout.shown = adjusted;
    }
    readout.text = QString::number(readout.shown) + unitSign(unit);
    return true;
}

QString graphValueText(double value) {
    // Never 0, let alone -0: (celsius + offset) × 9 / 5 + 32 is 0 only at
    // -17.78 °C, which no whole number of degrees reaches.
    return QLocale::c().toString(value, 'g', 15);
}
