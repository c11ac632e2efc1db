// SPDX-License-Identifier: GPL-3.0-or-later

#include "demo_source.h"

#include "conversion.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {
constexpr double pi = 3.14159265358979323846;

double wave(unsigned second, double period, double phase = 0.0) {
    return std::sin(2.0 * pi * double(second) / period + phase);
}

// The sensors' initial coefficients as numbers, read from their texts once: the source is read
// every second.
const CoefficientValues& initialValues(int sensor) {
    static const std::array<CoefficientValues, 2> values = {
        *parseCoefficients(initialCoefficients(1)), *parseCoefficients(initialCoefficients(2))};
    return values[sensor - 1];
}
} // namespace

double DemoSource::temperatureAt(int sensor, unsigned second) {
    if (sensor == 1)
        return 21.0 + 2.5 * wave(second, 600.0) + 0.8 * wave(second, 97.0, 0.5);
    return 8.0 + 3.0 * wave(second, 900.0, 1.0) + 0.6 * wave(second, 131.0, 2.0);
}

uint32_t DemoSource::rawFor(int sensor, double celsius) {
    // Solve C·L³ + B·L + A = 1/T for L = ln R by Newton's method; the left
    // side grows with L for positive B and C, so it converges from any start.
    const auto [a, b, c] = initialValues(sensor);
    const double target = 1.0 / (celsius + 273.15);
    double l = 8.0;
    for (int i = 0; i < 50; ++i)
        l -= (c * l * l * l + b * l + a - target) / (3.0 * c * l * l + b);
    return uint32_t(std::clamp(std::round(std::exp(l)), 1.0, 65535.0));
}

int32_t DemoSource::readAxes(PortReading& reading) {
    reading.x = rawFor(1, temperatureAt(1, second_));
    reading.y = rawFor(2, temperatureAt(2, second_));
    ++second_;
    return PortCode::Ok;
}
