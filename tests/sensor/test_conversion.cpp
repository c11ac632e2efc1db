#include "sensor/conversion.h"

#include <gtest/gtest.h>

namespace {
QString deg(int value, char unit) {
    return QString::number(value) + QChar(0x00B0) + QLatin1Char(unit);
}

// One sensor through conversion, offset and unit, as a tick does it.
ChannelReadout run(int sensor, uint32_t raw, const char* offset, const char* unit,
                   ChannelReadout r = {}) {
    convert(r, raw, initialCoefficients(sensor));
    if (const auto adjusted = applyOffset(r, QLatin1String(offset)))
        applyUnit(r, *adjusted, QLatin1String(unit));
    return r;
}
} // namespace

TEST(Conversion, KnownReadings) {
    struct Case {
        int sensor;
        uint32_t raw;
        const char* offset;
        const char* unit;
        int celsius;
        QString text;
        const char* graph;
    } cases[] = {
        {1, 5203, "0", "C", 10, deg(10, 'C'), "50"},
        {1, 5203, "0", "F", 10, deg(50, 'F'), "50"},
        {1, 3296, "0", "F", 22, deg(72, 'F'), "71.6"},
        {1, 7903, "0", "C", 0, deg(0, 'C'), "32"}, // T = -0.02: never "-0°C"
        {1, 5203, "-3", "F", 10, deg(45, 'F'), "44.6"},
        {1, 5203, "3", "C", 10, deg(13, 'C'), "55.4"},
        {1, 0, "0", "F", 564, deg(32, 'F'), "1047.2"},  // nothing good held yet
        {1, 1, "0", "C", 564, deg(564, 'C'), "1047.2"}, // 1 is connected
        {2, 53133, "0", "C", 0, deg(0, 'C'), "32"},
        {2, 31036, "0", "C", 10, deg(10, 'C'), "50"},
        {2, 17283, "0", "C", 22, deg(22, 'C'), "71.6"},
        {2, 0, "0", "C", 464, deg(0, 'C'), "867.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sensor << " " << c.raw << " " << c.unit);
        const ChannelReadout r = run(c.sensor, c.raw, c.offset, c.unit);
        EXPECT_EQ(r.celsius, c.celsius);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(graphValueText(*r.graphValue), QLatin1String(c.graph));
    }
}

TEST(Conversion, UnpluggedSensorHoldsTheLastGoodTemperature) {
    ChannelReadout r = run(1, 5203, "2", "C"); // held 10
    for (int tick = 0; tick < 3; ++tick) {     // the offset never accumulates
        r = run(1, 0, "2", "C", r);
        EXPECT_EQ(r.text, deg(12, 'C'));
        EXPECT_EQ(r.heldCelsius, 10);
    }
    EXPECT_EQ(graphValueText(*r.graphValue), QStringLiteral("1050.8")); // (564 + 2) in °F
}

TEST(Conversion, RoundsHalfToEven) {
    const std::pair<double, double> cases[] = {{21.5, 22}, {22.5, 22}, {23.5, 24}, {-0.5, 0},
                                               {-1.5, -2}, {0.49, 0},  {-2.51, -3}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}

// Coefficient texts are read in the C locale; those that give no usable
// temperature are no reading: the previous values stay.
TEST(Conversion, CoefficientTexts) {
    const Coefficients k = initialCoefficients(1);
    struct Case {
        const char* name;
        Coefficients k;
        uint32_t raw;
        bool usable;
        int celsius;
    } cases[] = {
        {"exponent and spaces",
         {k.a, QStringLiteral("2.56377E-04"), QStringLiteral(" 2.3e-7 ")},
         5203,
         true,
         10},
        {"negative, absurd",
         {QStringLiteral("-0.001"), QStringLiteral("0"), QStringLiteral("0")},
         5203,
         true,
         -1273},
        {"not a number", {QStringLiteral("abc"), k.b, k.c}, 5203, false, 7},
        {"empty", {k.a, QString(), k.c}, 5203, false, 7},
        {"decimal comma", {QStringLiteral("0,001194033"), k.b, k.c}, 5203, false, 7},
        {"S is zero",
         {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")},
         5203,
         false,
         7},
        {"infinite", {QStringLiteral("inf"), k.b, k.c}, 5203, false, 7},
        {"beyond 16 bits",
         {QStringLiteral("1e-5"), QStringLiteral("0"), QStringLiteral("0")},
         5203,
         false,
         7},
        {"beyond 32 bits",
         {QStringLiteral("1e-300"), QStringLiteral("0"), QStringLiteral("0")},
         0,
         false,
         7},
    };
    for (const Case& c : cases) {
        ChannelReadout r;
        r.celsius = r.heldCelsius = 7;
        EXPECT_EQ(convert(r, c.raw, c.k), c.usable) << c.name;
        EXPECT_EQ(r.celsius, c.celsius) << c.name;
    }
}

TEST(Conversion, ValuesBeyondTheReadoutWidthsChangeNothing) {
    ChannelReadout r;
    r.heldCelsius = 32767;
    EXPECT_FALSE(applyOffset(r, QStringLiteral("3")));
    EXPECT_FALSE(applyUnit(r, 3641, QStringLiteral("F"))); // 3641 * 9 does not fit
    EXPECT_EQ(r.text, QString());
    EXPECT_TRUE(applyUnit(r, 3640, QStringLiteral("F")));
    EXPECT_EQ(r.shown, 6584);
    EXPECT_TRUE(applyUnit(r, -40, QStringLiteral("F")));
    EXPECT_EQ(r.text, deg(-40, 'F'));
}

TEST(Conversion, GraphValueText) {
    const std::pair<double, const char*> cases[] = {{50, "50"},
                                                    {1047.2, "1047.2"},
                                                    {-40, "-40"},
                                                    {-0.0, "0"},
                                                    {1.0 / 3.0, "0.333333333333333"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(graphValueText(value), QLatin1String(text)) << value;
}
