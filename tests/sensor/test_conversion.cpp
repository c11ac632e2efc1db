// SPDX-License-Identifier: GPL-3.0-or-later

#include "sensor/conversion.h"

#include <array>
#include <gtest/gtest.h>

// The readout and graph value after one tick and after a second, the same (no offset builds up),
// each from 7 °C shown as 45°F. No usable temperature or an invalid code keeps the old values.
TEST(Conversion, ReadoutAndGraph) {
    struct Case { // sensor 1's
        uint32_t raw;
        const char *offset, *unit;
        std::array<const char*, 3> k; // nullptr: the sensor's initial coefficient
        const char *text, *graph;
    } cases[] = {
        {3296, "0", "F", {}, "72°F", "71.6"},
        {7903, "0", "C", {}, "0°C", "32"}, // T = -0.02: never "-0°C"
        {5203, "-3", "F", {}, "45°F", "44.6"},
        {5203, "3", "C", {}, "13°C", "55.4"},
        {0, "0", "F", {}, "45°F", "1047.2"},                     // unplugged: 7 °C held
        {0, "0", "C", {"0.001", "0", "0.001"}, "7°C", "1340.6"}, // ln 0 taken as 0
        {1, "0", "C", {}, "564°C", "1047.2"},                    // 1 is connected
        {5203, "+3", "C", {}, "10°C", ""},
        {5203, "0", "C", {nullptr, "2.56377E-04", " 2.3e-7 "}, "10°C", "50"},
        {5203, "0", "C", {"-0.001", "0", "0"}, "-1273°C", "-2259.4"},
        {5203, "0", "C", {nullptr, ""}, "7°C", "44.6"},
        {5203, "0", "C", {"0,001"}, "7°C", "44.6"}, // not 1: no number
        {5203, "0", "C", {"0", "0", "0"}, "7°C", "44.6"},
        {5203, "0", "C", {"inf"}, "7°C", "44.6"},
        {1, "0", "C", {"1e-5", "0", "0"}, "7°C", "44.6"},            // beyond 16 bits
        {0, "0", "C", {"1e-300", "0", "0"}, "7°C", "44.6"},          // beyond 32 bits
        {5203, "3", "C", {"3.0266e-5", "0", "0"}, "45°F", "59018"},  // 32767 + 3
        {5203, "0", "F", {"2.5549e-4", "0", "0"}, "45°F", "6585.8"}, // 3641 × 9
        {5203, "0", "F", {"2.55548e-4", "0", "0"}, "6584°F", "6584"},
    };
    for (const Case& c : cases) {
        const Coefficients initial = initialCoefficients(1);
        const auto typed = [&](int i, const QString& otherwise) {
            return c.k[i] ? QString::fromLatin1(c.k[i]) : otherwise;
        };
        const Coefficients k{typed(0, initial.a), typed(1, initial.b), typed(2, initial.c)};
        SCOPED_TRACE(testing::Message() << c.raw << " " << c.k[0]);
        ChannelReadout r{0, 7, 7, 45, QStringLiteral("45°F"), std::nullopt, std::nullopt};
        for (int tick = 0; tick < 2; ++tick) {
            convert(r, c.raw, k);
            if (const auto adjusted = applyOffset(r, QLatin1String(c.offset)))
                applyUnit(r, *adjusted, *unitFromCode(QLatin1String(c.unit)));
            EXPECT_EQ(r.text, QString::fromUtf8(c.text));
            EXPECT_EQ(r.graphValue ? graphValueText(*r.graphValue) : QString(),
                      QLatin1String(c.graph));
        }
    }
}

TEST(Conversion, RoundsHalfToEven) {
    const std::pair<double, double> cases[] = {{21.5, 22}, {22.5, 22}, {23.5, 24}, {-0.5, 0},
                                               {-1.5, -2}, {0.49, 0},  {-2.51, -3}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}
