#include "sensor/conversion.h"

#include <array>
#include <gtest/gtest.h>

namespace {
QString deg(int value, char unit) {
    return QString::number(value) + QChar(0x00B0) + QLatin1Char(unit);
}

// A sensor that has been showing 7 °C as 45°F, before the graph got a value.
ChannelReadout showingSeven() {
    ChannelReadout r;
    r.celsius = r.heldCelsius = 7;
    r.shown = 45;
    r.text = deg(45, 'F');
    return r;
}

// One sensor through conversion, offset and unit, as a tick does it.
ChannelReadout run(ChannelReadout r, uint32_t raw, const Coefficients& k, const QString& offset,
                   const QString& unit) {
    convert(r, raw, k);
    if (const auto adjusted = applyOffset(r, offset))
        applyUnit(r, *adjusted, unit);
    return r;
}
} // namespace

// What the readout and the graph show after one tick. Coefficients that give
// no usable temperature are no reading, and codes that are not valid mean
// none: the previous values stay. An empty graph text means no graph value.
TEST(Conversion, ReadoutAndGraph) {
    struct Case {
        int sensor;
        uint32_t raw;
        const char* offset;
        const char* unit;
        std::array<const char*, 3> k; // nullptr: the sensor's initial coefficient
        QString text;
        const char* graph;
    } cases[] = {
        {1, 5203, "0", "C", {}, deg(10, 'C'), "50"},
        {1, 5203, "0", "F", {}, deg(50, 'F'), "50"},
        {1, 3296, "0", "F", {}, deg(72, 'F'), "71.6"},
        {1, 7903, "0", "C", {}, deg(0, 'C'), "32"}, // T = -0.02: never "-0°C"
        {1, 5203, "-3", "F", {}, deg(45, 'F'), "44.6"},
        {1, 5203, "3", "C", {}, deg(13, 'C'), "55.4"},
        {1, 0, "0", "F", {}, deg(45, 'F'), "1047.2"},  // unplugged: 7 °C held
        {1, 1, "0", "C", {}, deg(564, 'C'), "1047.2"}, // 1 is connected
        {2, 53133, "0", "C", {}, deg(0, 'C'), "32"},
        {2, 31036, "0", "C", {}, deg(10, 'C'), "50"},
        {2, 17283, "0", "C", {}, deg(22, 'C'), "71.6"},
        {2, 0, "0", "C", {}, deg(7, 'C'), "867.2"},
        {1, 5203, "", "C", {}, deg(10, 'C'), ""},
        {1, 5203, "5", "C", {}, deg(10, 'C'), ""},
        {1, 5203, "+3", "C", {}, deg(10, 'C'), ""},
        {1, 5203, "0", "K", {}, deg(45, 'F'), "50"},
        {1, 5203, "0", "C", {nullptr, "2.56377E-04", " 2.3e-7 "}, deg(10, 'C'), "50"},
        {1, 5203, "0", "C", {"-0.001", "0", "0"}, deg(-1273, 'C'), "-2259.4"},
        {1, 5203, "0", "C", {"abc"}, deg(7, 'C'), "44.6"},
        {1, 5203, "0", "C", {nullptr, ""}, deg(7, 'C'), "44.6"},
        {1, 5203, "0", "C", {"0,001"}, deg(7, 'C'), "44.6"}, // not 1: no number
        {1, 5203, "0", "C", {"0", "0", "0"}, deg(7, 'C'), "44.6"},
        {1, 5203, "0", "C", {"inf"}, deg(7, 'C'), "44.6"},
        {1, 5203, "0", "C", {"1e-5", "0", "0"}, deg(7, 'C'), "44.6"},         // beyond 16 bits
        {1, 0, "0", "C", {"1e-300", "0", "0"}, deg(7, 'C'), "44.6"},          // beyond 32 bits
        {1, 5203, "3", "C", {"3.0266e-5", "0", "0"}, deg(45, 'F'), "59018"},  // 32767 + 3
        {1, 5203, "0", "F", {"2.5549e-4", "0", "0"}, deg(45, 'F'), "6585.8"}, // 3641 × 9
        {1, 5203, "0", "F", {"2.55548e-4", "0", "0"}, deg(6584, 'F'), "6584"},
        {1, 5203, "0", "F", {"4.28909e-3", "0", "0"}, deg(-40, 'F'), "-40"},
    };
    for (const Case& c : cases) {
        const Coefficients initial = initialCoefficients(c.sensor);
        const auto typed = [&](int i, const QString& otherwise) {
            return c.k[i] ? QString::fromLatin1(c.k[i]) : otherwise;
        };
        const Coefficients k{typed(0, initial.a), typed(1, initial.b), typed(2, initial.c)};
        const ChannelReadout r =
            run(showingSeven(), c.raw, k, QLatin1String(c.offset), QLatin1String(c.unit));
        EXPECT_EQ(r.text, c.text) << c.sensor << " " << c.raw << " " << c.k[0];
        EXPECT_EQ(r.graphValue ? graphValueText(*r.graphValue) : QString(), QLatin1String(c.graph))
            << c.sensor << " " << c.raw << " " << c.k[0];
    }
}

TEST(Conversion, UnpluggedSensorHoldsTheLastGoodTemperature) {
    const Coefficients k = initialCoefficients(1);
    ChannelReadout r = run({}, 5203, k, QStringLiteral("2"), QStringLiteral("C")); // held 10
    for (int tick = 0; tick < 3; ++tick) { // the offset never accumulates
        r = run(r, 0, k, QStringLiteral("2"), QStringLiteral("C"));
        EXPECT_EQ(r.text, deg(12, 'C'));
    }
    EXPECT_EQ(graphValueText(*r.graphValue), QStringLiteral("1050.8")); // (564 + 2) in °F
}

TEST(Conversion, RoundsHalfToEven) {
    const std::pair<double, double> cases[] = {{21.5, 22}, {22.5, 22}, {23.5, 24}, {-0.5, 0},
                                               {-1.5, -2}, {0.49, 0},  {-2.51, -3}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}
