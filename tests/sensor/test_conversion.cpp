#include "sensor/conversion.h"

#include <gtest/gtest.h>

namespace {
const QString degF = QString(QChar(0x00B0)) + QLatin1Char('F');
const QString degC = QString(QChar(0x00B0)) + QLatin1Char('C');

// One sensor through conversion, offset and unit, as a tick does it.
struct Result {
    ChannelReadout readout;
    bool converted = false;
};
Result run(int sensor, uint32_t raw, const QString& offset, const QString& unit,
           ChannelReadout start = {}) {
    Result r{start, false};
    r.converted = convert(r.readout, raw, initialCoefficients(sensor));
    if (const auto adjusted = applyOffset(r.readout, offset))
        applyUnit(r.readout, *adjusted, unit);
    return r;
}
} // namespace

TEST(Conversion, InitialCoefficientsGiveKnownTemperatures) {
    struct Case {
        int sensor;
        uint32_t raw;
        int celsius;
    } cases[] = {
        {1, 5203, 10}, {1, 7903, 0},   {1, 3296, 22},  {1, 0, 564}, {1, 1, 564},
        {2, 53133, 0}, {2, 31036, 10}, {2, 17283, 22}, {2, 0, 464},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        const Result r = run(c.sensor, c.raw, QStringLiteral("0"), QStringLiteral("C"));
        EXPECT_TRUE(r.converted);
        EXPECT_EQ(r.readout.celsius, c.celsius);
    }
}

TEST(Conversion, ShownValuesAndTexts) {
    struct Case {
        uint32_t raw;
        const char* offset;
        const char* unit;
        int shown;
        QString text;
        const char* graph;
    } cases[] = {
        {5203, "0", "C", 10, QStringLiteral("10") + degC, "50"},
        {5203, "0", "F", 50, QStringLiteral("50") + degF, "50"},
        {3296, "0", "F", 72, QStringLiteral("72") + degF, "71.6"},
        {7903, "0", "C", 0, QStringLiteral("0") + degC, "32"}, // T is -0.02: never "-0°C"
        {5203, "-3", "F", 45, QStringLiteral("45") + degF, "44.6"},
        {5203, "3", "C", 13, QStringLiteral("13") + degC, "55.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        const Result r = run(1, c.raw, QLatin1String(c.offset), QLatin1String(c.unit));
        EXPECT_EQ(r.readout.shown, c.shown);
        EXPECT_EQ(r.readout.text, c.text);
        ASSERT_TRUE(r.readout.graphValue);
        EXPECT_EQ(graphValueText(*r.readout.graphValue), QLatin1String(c.graph));
    }
}

TEST(Conversion, UnpluggedSensorKeepsTheLastGoodTemperature) {
    ChannelReadout start;
    start.heldCelsius = 20;
    start.celsius = 20;
    // Many ticks of raw 0 with offset 2: always 22°C, never drifting.
    for (int tick = 0; tick < 5; ++tick) {
        start = run(1, 0, QStringLiteral("2"), QStringLiteral("C"), start).readout;
        EXPECT_EQ(start.text, QStringLiteral("22") + degC);
        EXPECT_EQ(start.celsius, 564);
        EXPECT_EQ(start.heldCelsius, 20);
    }
    // The graph follows the conversion with ln R = 0: (564 + 2) * 9 / 5 + 32.
    EXPECT_EQ(graphValueText(*start.graphValue), QStringLiteral("1050.8"));

    // Raw 1 is connected: it refreshes the held value.
    const Result one = run(1, 1, QStringLiteral("0"), QStringLiteral("C"), start);
    EXPECT_EQ(one.readout.heldCelsius, 564);
}

TEST(Conversion, FirstReadingOfZeroShowsZeroPlusOffset) {
    const Result r = run(1, 0, QStringLiteral("0"), QStringLiteral("F"));
    EXPECT_EQ(r.readout.text, QStringLiteral("32") + degF);
    EXPECT_EQ(graphValueText(*r.readout.graphValue), QStringLiteral("1047.2"));
}

TEST(Conversion, InvalidCodesKeepPreviousValues) {
    ChannelReadout start = run(1, 5203, QStringLiteral("0"), QStringLiteral("C")).readout;
    // "+3" is no offset code: no offset, graph value unchanged.
    ChannelReadout r = start;
    convert(r, 3296, initialCoefficients(1));
    const auto adjusted = applyOffset(r, QStringLiteral("+3"));
    EXPECT_EQ(*adjusted, 22);
    EXPECT_EQ(*r.graphValue, 50.0);
    // A unit code other than "C" or "F" leaves shown and text alone.
    EXPECT_FALSE(applyUnit(r, *adjusted, QStringLiteral("c")));
    EXPECT_EQ(r.shown, 10);
    EXPECT_EQ(r.text, QStringLiteral("10") + degC);
}

TEST(Conversion, MinusFortyFahrenheit) {
    ChannelReadout r;
    ASSERT_TRUE(applyUnit(r, -40, QStringLiteral("F")));
    EXPECT_EQ(r.text, QStringLiteral("-40") + degF);
    ASSERT_TRUE(applyUnit(r, -5, QStringLiteral("C")));
    EXPECT_EQ(r.text, QStringLiteral("-5") + degC);
}

TEST(Conversion, RoundsHalfToEven) {
    const std::pair<double, double> cases[] = {{21.5, 22}, {22.5, 22}, {23.5, 24}, {-0.5, 0},
                                               {-1.5, -2}, {0.49, 0},  {-2.51, -3}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}

TEST(Conversion, CoefficientTexts) {
    // Exponent form is a number; the decimal point is always a point.
    ChannelReadout r;
    EXPECT_TRUE(convert(r, 5203,
                        {QStringLiteral("0.001194033"), QStringLiteral("2.56377E-04"),
                         QStringLiteral(" 2.3e-7 ")}));
    EXPECT_EQ(r.celsius, 10);
}

// Coefficients that make no usable temperature are no reading: the previous
// values stay and nothing is undefined.
TEST(Conversion, UnusableCoefficientsAreNoReading) {
    const Coefficients good = initialCoefficients(1);
    struct Case {
        const char* name;
        Coefficients k;
        uint32_t raw;
    } cases[] = {
        {"A not a number", {QStringLiteral("abc"), good.b, good.c}, 5203},
        {"empty B", {good.a, QString(), good.c}, 5203},
        {"decimal comma", {QStringLiteral("0,001194033"), good.b, good.c}, 5203},
        {"S is zero", {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}, 5203},
        {"infinite", {QStringLiteral("inf"), good.b, good.c}, 5203},
        {"not a number", {QStringLiteral("nan"), good.b, good.c}, 5203},
        {"beyond 16 bits",
         {QStringLiteral("1e-5"), QStringLiteral("0"), QStringLiteral("0")},
         5203},
        {"beyond 32 bits", {QStringLiteral("1e-300"), QStringLiteral("0"), QStringLiteral("0")}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChannelReadout r;
        r.celsius = 7;
        r.heldCelsius = 7;
        EXPECT_FALSE(convert(r, c.raw, c.k));
        EXPECT_EQ(r.celsius, 7);
        EXPECT_EQ(r.heldCelsius, 7);
    }
    // Absurd but representable values are shown as computed.
    ChannelReadout r;
    EXPECT_TRUE(
        convert(r, 5203, {QStringLiteral("-0.001"), QStringLiteral("0"), QStringLiteral("0")}));
    EXPECT_EQ(r.celsius, -1273);
}

TEST(Conversion, ValuesBeyondTheReadoutWidthsChangeNothing) {
    ChannelReadout r;
    r.heldCelsius = 32767;
    r.shown = 5;
    r.text = QStringLiteral("5") + degC;
    EXPECT_FALSE(applyOffset(r, QStringLiteral("3"))); // 32770 does not fit
    r.heldCelsius = 3641;                              // 3641 * 9 does not fit
    const auto adjusted = applyOffset(r, QStringLiteral("0"));
    ASSERT_TRUE(adjusted);
    EXPECT_FALSE(applyUnit(r, *adjusted, QStringLiteral("F")));
    EXPECT_EQ(r.text, QStringLiteral("5") + degC);
    EXPECT_TRUE(applyUnit(r, 3640, QStringLiteral("F")));
    EXPECT_EQ(r.shown, 6584);
}

TEST(Conversion, GraphValueText) {
    const std::pair<double, const char*> cases[] = {
        {50, "50"}, {71.6, "71.6"}, {1047.2, "1047.2"}, {-40, "-40"},
        {0.0, "0"}, {-0.0, "0"},    {44.6, "44.6"},     {1.0 / 3.0, "0.333333333333333"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(graphValueText(value), QLatin1String(text)) << value;
}
