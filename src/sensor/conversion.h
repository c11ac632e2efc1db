// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// A sensor's temperature unit.
enum class TemperatureUnit { Celsius, Fahrenheit };

// A temperature in °C given in unit, and one in unit given in °C.
double fromCelsius(double celsius, TemperatureUnit unit);
double toCelsius(double value, TemperatureUnit unit);
// A temperature, and a difference of temperatures, from one unit to another; the value itself
// when the units are the same.
double convertTemperature(double value, TemperatureUnit from, TemperatureUnit to);
double convertDifference(double value, TemperatureUnit from, TemperatureUnit to);
// "°C" or "°F".
QString unitSign(TemperatureUnit unit);
// "C" or "F": the unit's letter in the readout and the alarm command's KELVANO_UNIT.
QString unitCode(TemperatureUnit unit);
// The unit of "C" or "F"; nothing for any other text.
std::optional<TemperatureUnit> unitFromCode(const QString& code);

// Per sensor, the codes that the setup panel sets and every tick reads.
// Only the exact texts listed are valid; anything else means "none".
struct ChannelSettings {
    QString profile = QStringLiteral("100"); // "100", "50" or "10": a profile is active
    QString offset = QStringLiteral("0");    // "3" .. "-3": whole degrees Celsius
    TemperatureUnit unit = TemperatureUnit::Fahrenheit;
};

// The Steinhart-Hart coefficients of the active profile, as typed.
struct Coefficients {
    QString a, b, c;
};

// The initial coefficients of each sensor.
Coefficients initialCoefficients(int sensor);

// The results of the sampling tick for one sensor.
struct ChannelReadout {
    uint32_t raw = 0;
    int32_t celsius = 0;              // latest conversion, also while the sensor reads 0
    int16_t heldCelsius = 0;          // latest conversion of a raw value of 1 or more
    int16_t shown = 0;                // what the readout shows and the log records
    QString text;                     // for example "22°C"
    std::optional<double> graphValue; // degrees Fahrenheit, set by the offset step
    // This tick's temperature in °C after the offset, before any rounding; none
    // when the tick converted no raw value of 1 or more.
    std::optional<double> exactCelsius;
};

bool isValidProfileCode(const QString& code);
std::optional<int> offsetFromCode(const QString& code);

// Parses a coefficient text in the C locale (decimal point, exponent allowed,
// no group separators).
std::optional<double> parseNumber(const QString& text);

// Rounds to the nearest whole number, a tie going to the even neighbour.
double roundHalfEven(double value);

// The coefficients as numbers.
struct CoefficientValues {
    double a, b, c;
};

// Nothing when a text is not a number (parseNumber).
std::optional<CoefficientValues> parseCoefficients(const Coefficients& coefficients);

// Kelvin of 0 °C.
constexpr double kelvinOffset = 273.15;

// The temperature in °C, before rounding, that the coefficients give for a
// raw value (ln R taken as 0 below 1); nothing when they give none (a
// coefficient that is not a number, S = 0).
std::optional<double> steinhartHartCelsius(double raw, const Coefficients& coefficients);
std::optional<double> steinhartHartCelsius(double raw, const CoefficientValues& coefficients);

// Converts raw with the coefficients and updates celsius and, for a raw value
// of 1 or more, heldCelsius and exactCelsius (without offset). Changes nothing when the
// coefficients make no usable temperature (not a number, S = 0, a result too large to hold).
void convert(ChannelReadout& readout, uint32_t raw, const Coefficients& coefficients);
// The same with coefficients parsed before; nothing when they are not numbers.
void convert(ChannelReadout& readout, uint32_t raw,
             const std::optional<CoefficientValues>& coefficients);

// Applies the offset code: sets graphValue and returns the adjusted Celsius
// value that the unit step shows. Returns nothing when the adjusted value does
// not fit the 16-bit readout.
std::optional<int16_t> applyOffset(ChannelReadout& readout, const QString& offsetCode);

// Applies the unit to the adjusted value: sets shown and text. A value too
// large to show changes nothing. Returns true when shown and text were set.
bool applyUnit(ChannelReadout& readout, int16_t adjusted, TemperatureUnit unit);

// The decimal text of a graph value: up to 15 significant digits, no trailing
// zeros, no decimal point for whole values.
QString graphValueText(double value);
