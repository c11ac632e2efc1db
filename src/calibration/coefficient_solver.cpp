// SPDX-License-Identifier: GPL-3.0-or-later

#include "coefficient_solver.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {
constexpr double highestRaw = 65535.0;
// The reference temperatures a thermistor can be calibrated at, in °C.
constexpr double lowestCelsius = -100.0;
constexpr double highestCelsius = 300.0;
// How far the coefficients, as their fields hold them, may miss a reference
// temperature: so little that the check table shows it to the hundredth.
constexpr double allowedMiss = 0.005;

QString tr(const char* text) {
    return QCoreApplication::translate("Calibration", text);
}

QString number(double value) {
    return QLocale::c().toString(value, 'g', 10);
}

QString temperatureText(double value, TemperatureUnit unit) {
    return number(value) + unitSign(unit);
}

long double kelvin(double temperature, TemperatureUnit unit) {
    const long double celsius = unit == TemperatureUnit::Fahrenheit
                                    ? (temperature - 32.0L) * 5.0L / 9.0L
                                    : (long double)temperature;
    return celsius + kelvinOffset;
}

// Why a single point cannot be used, or nothing.
QString pointError(const ReferencePoint& p, TemperatureUnit unit) {
    if (p.raw == 0.0)
        return tr("A raw value of 0 means the sensor reads as unplugged; capture each point with "
                  "the thermistor connected.");
    if (!(p.raw >= 1.0))
        return tr("A raw value of %1 is below 1, the smallest the port reports for a connected "
                  "sensor.")
            .arg(number(p.raw));
    if (p.raw > highestRaw)
        return tr("A raw value of %1 is above %2, the largest the port reports.")
            .arg(number(p.raw), number(highestRaw));
    const double lowest = fromCelsius(lowestCelsius, unit);
    const double highest = fromCelsius(highestCelsius, unit);
    if (!(p.temperature >= lowest && p.temperature <= highest))
        return tr("%1 lies outside %2 to %3, the range a thermistor can measure.")
            .arg(temperatureText(p.temperature, unit), temperatureText(lowest, unit),
                 temperatureText(highest, unit));
    return {};
}

// Why the points together cannot be used, or nothing; sorted by raw value.
QString setError(const std::vector<ReferencePoint>& sorted, TemperatureUnit unit) {
    using Pair = const ReferencePoint&;
    const auto sameRaw = std::adjacent_find(sorted.begin(), sorted.end(),
                                            [](Pair l, Pair r) { return l.raw == r.raw; });
    if (sameRaw != sorted.end())
        return tr("Two points have the same raw value, %1; each point needs a raw value of its "
                  "own.")
            .arg(number(sameRaw->raw));
    std::vector<double> temperatures;
    for (const ReferencePoint& p : sorted)
        temperatures.push_back(p.temperature);
    std::sort(temperatures.begin(), temperatures.end());
    const auto sameTemperature = std::adjacent_find(temperatures.begin(), temperatures.end());
    if (sameTemperature != temperatures.end())
        return tr("Two points have the same temperature, %1; calibrate at three different "
                  "temperatures.")
            .arg(temperatureText(*sameTemperature, unit));
    const auto warmer = std::adjacent_find(
        sorted.begin(), sorted.end(), [](Pair l, Pair r) { return r.temperature > l.temperature; });
    if (warmer != sorted.end())
        return tr("The temperature must fall as the raw value grows, but %1 at raw %2 is warmer "
                  "than %3 at raw %4. Check that each temperature stands beside its own raw "
                  "value.")
            .arg(temperatureText(warmer[1].temperature, unit), number(warmer[1].raw),
                 temperatureText(warmer[0].temperature, unit), number(warmer[0].raw));
    return {};
}

// "B", "B and C": the names of the given coefficients that are negative.
QString negativeNames(const std::vector<std::pair<const char*, double>>& coefficients) {
    QStringList names;
    for (const auto& [name, value] : coefficients)
        if (value < 0.0)
            names << QString::fromLatin1(name) + QStringLiteral(" (") + coefficientText(value) +
                         QLatin1Char(')');
    return names.join(tr(" and "));
}
} // namespace

Coefficients CalibrationResult::texts() const {
    return {coefficientText(a), coefficientText(b), coefficientText(c)};
}

QString coefficientText(double value) {
    return QLocale::c().toString(value, 'e', 9);
}

CalibrationResult solveSteinhartHart(const std::vector<ReferencePoint>& points,
                                     TemperatureUnit unit) {
    CalibrationResult result;
    if (points.size() != 3) {
        result.error = tr("Three reference points are needed, each a temperature and a raw "
                          "value; %1 given.")
                           .arg(points.size());
        return result;
    }
    for (const ReferencePoint& p : points) {
        result.error = pointError(p, unit);
        if (!result.error.isEmpty())
            return result;
    }
    std::vector<ReferencePoint> sorted = points;
    std::sort(sorted.begin(), sorted.end(),
              [](const ReferencePoint& l, const ReferencePoint& r) { return l.raw < r.raw; });
    result.error = setError(sorted, unit);
    if (!result.error.isEmpty())
        return result;

    // With y = 1/T and L = ln R, the divided differences of y over L are those
    // of A + B·L + C·L³: the second is C·(L1 + L2 + L3), the first over the
    // first two points B + C·(L1² + L1·L2 + L2²). Extended precision keeps
    // the small differences of y exact enough. Distinct raw values from 1 to
    // 65535 and temperatures above absolute zero leave no divisor at 0.
    long double l[3], y[3];
    for (int i = 0; i < 3; ++i) {
        l[i] = std::log((long double)sorted[i].raw);
        y[i] = 1.0L / kelvin(sorted[i].temperature, unit);
    }
    const long double first01 = (y[1] - y[0]) / (l[1] - l[0]);
    const long double first12 = (y[2] - y[1]) / (l[2] - l[1]);
    const long double second = (first12 - first01) / (l[2] - l[0]);
    const long double c = second / (l[0] + l[1] + l[2]);
    const long double b = first01 - c * (l[0] * l[0] + l[0] * l[1] + l[1] * l[1]);
    const long double a = y[0] - (b + c * l[0] * l[0]) * l[0];
    const double found[] = {double(a), double(b), double(c)};

    // 1/T rises with L wherever its slope B + 3·C·L² is positive; for L of 0
    // and more the slope is smallest at one end of the range.
    const auto slope = [&](long double at) { return b + 3.0L * c * at * at; };
    if (!(slope(l[0]) > 0.0L && slope(l[2]) > 0.0L)) {
        result.error = tr("The curve through these points turns back between raw %1 and %2: %3 "
                          "is negative, which the conversion cannot use well. Take the readings "
                          "again; one may have been taken before it had settled.")
                           .arg(number(sorted[0].raw), number(sorted[2].raw),
                                negativeNames({{"B", found[1]}, {"C", found[2]}}));
        return result;
    }
    result.a = found[0];
    result.b = found[1];
    result.c = found[2];
    // The fields keep ten digits; the conversion must still give the points back.
    for (const ReferencePoint& p : sorted) {
        const auto back = temperatureAt(result.texts(), p.raw, unit);
        if (back && std::abs(*back - p.temperature) <= allowedMiss)
            continue;
        result = {};
        result.error =
            tr("With the ten digits their fields hold, these coefficients give %1 instead of %2 "
               "at raw %3: the raw values lie too close together for them. Take the points at "
               "temperatures further apart.")
                .arg(back ? QLocale::c().toString(*back, 'f', 2) + unitSign(unit)
                          : tr("no temperature"),
                     temperatureText(p.temperature, unit), number(p.raw));
        return result;
    }
    const QString negative = negativeNames({{"A", found[0]}, {"B", found[1]}, {"C", found[2]}});
    if (!negative.isEmpty())
        result.note = tr("%1 is negative: the curve fits the points, but far outside them it "
                         "may give nonsense. See the check table.")
                          .arg(negative);
    return result;
}

std::optional<double> temperatureAt(const Coefficients& coefficients, double raw,
                                    TemperatureUnit unit) {
    const auto found = steinhartHartCelsius(raw, coefficients);
    if (!found)
        return std::nullopt;
    return fromCelsius(*found, unit);
}

std::vector<double> checkRawValues(const std::vector<ReferencePoint>& points) {
    std::vector<double> raws;
    for (const ReferencePoint& p : points)
        raws.push_back(p.raw);
    std::sort(raws.begin(), raws.end());
    if (raws.empty())
        return raws;
    // Evenly spaced in ln R, where the curve lives: half way between
    // neighbours, and a quarter of the whole span beyond each end.
    const double beyond = std::pow(raws.back() / raws.front(), 0.25);
    std::vector<double> check = {std::max(1.0, std::round(raws.front() / beyond))};
    for (size_t i = 0; i < raws.size(); ++i) {
        if (i > 0)
            check.push_back(std::round(std::sqrt(raws[i - 1] * raws[i])));
        check.push_back(raws[i]);
    }
    check.push_back(std::min(highestRaw, std::round(raws.back() * beyond)));
    std::sort(check.begin(), check.end());
    check.erase(std::unique(check.begin(), check.end()), check.end());
    return check;
}
