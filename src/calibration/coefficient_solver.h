// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sensor/conversion.h"

#include <QString>
#include <optional>
#include <vector>

// Works out a sensor's Steinhart-Hart coefficients from three reference
// readings. The conversion puts the raw value itself where the equation has
// the thermistor's resistance, 1/T = A + B·ln R + C·(ln R)³ with T in
// kelvin, so the solver does the same: coefficients it finds, typed into a
// sensor's fields, give back the reference temperatures.

// One reference reading: what the reference thermometer showed, in the unit
// the points are given in, and the sensor's raw value (an average may carry a
// fraction).
struct ReferencePoint {
    double temperature = 0.0;
    double raw = 0.0;
};

struct CalibrationResult {
    double a = 0.0, b = 0.0, c = 0.0;
    QString error; // why there is no result; empty when there is one
    QString note;  // a caution that comes with a usable result
    // The coefficients as the coefficient fields take them.
    Coefficients texts() const;
};

// Solves the equation exactly through three points. Points that cannot be
// calibrated with (a reference temperature outside -100 °C to 300 °C, in unit),
// results whose curve turns back between the points, and coefficients whose
// texts do not give the reference temperatures back through the conversion,
// give an error and no coefficients.
CalibrationResult solveSteinhartHart(const std::vector<ReferencePoint>& points,
                                     TemperatureUnit unit);

// Ten significant digits in exponent form, in the C locale:
// "1.194033000e-03". The conversion parses it back to within 5e-10 relative.
QString coefficientText(double value);

// The temperature, in unit, that coefficient texts give for a raw value of 1
// or more, as the conversion works it out but before its rounding to whole
// degrees; nothing when they give none.
std::optional<double> temperatureAt(const Coefficients& coefficients, double raw,
                                    TemperatureUnit unit);

// The raw values a check of the coefficients looks at, in rising order: the
// points' own, one between each two neighbours and one beyond each end, the
// others whole numbers the port can report.
std::vector<double> checkRawValues(const std::vector<ReferencePoint>& points);
