#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <gtest/gtest.h>

namespace {
const QString degF = QString(QChar(0x00B0)) + QLatin1Char('F');
const QString degC = QString(QChar(0x00B0)) + QLatin1Char('C');

using Read = ScriptedSource::Read;
Read port(int32_t code, uint32_t x, uint32_t y) {
    return {code, x, y};
}
Read port(int32_t code) {
    return {code, std::nullopt, std::nullopt};
}

ChannelInput input(int sensor, const char* unit = "F") {
    ChannelInput in;
    in.codes.unit = QLatin1String(unit);
    in.coefficients = initialCoefficients(sensor);
    in.profileText =
        sensor == 1 ? QStringLiteral("Select Sensor 1") : QStringLiteral("Select Sensor 2");
    return in;
}

struct Fixture {
    explicit Fixture(std::vector<Read> reads) : source(std::move(reads)) {}
    void tick() { cycle.tick(source, inputs); }
    const Displays& d() const { return cycle.displays(); }

    ScriptedSource source;
    SamplingCycle cycle;
    std::array<ChannelInput, 2> inputs = {input(1), input(2, "C")};
};
} // namespace

TEST(SamplingCycle, TextsBeforeTheFirstTick) {
    const SamplingCycle cycle;
    EXPECT_EQ(cycle.displays().status, QStringLiteral("port status:"));
    EXPECT_EQ(cycle.displays().axis, QString());
    EXPECT_EQ(cycle.displays().title[0], QStringLiteral("Sensor 1"));
    EXPECT_EQ(cycle.displays().title[1], QStringLiteral("Sensor 2"));
    EXPECT_EQ(cycle.displays().graph[0], QStringLiteral("x"));
    EXPECT_EQ(cycle.displays().graph[1], QStringLiteral("y"));
}

TEST(SamplingCycle, FirstTickShowsBothSensors) {
    Fixture f({port(0, 5203, 31036)});
    f.tick();
    EXPECT_EQ(f.d().status, QStringLiteral("port status: sensors connected"));
    EXPECT_EQ(f.d().axis, QStringLiteral("5203"));
    EXPECT_EQ(f.d().yaxis, QStringLiteral("31036"));
    EXPECT_EQ(f.d().title[0], QStringLiteral("Select Sensor 1"));
    EXPECT_EQ(f.d().title[1], QStringLiteral("Select Sensor 2"));
    EXPECT_EQ(f.d().temperature[0], QStringLiteral("50") + degF);
    EXPECT_EQ(f.d().temperature[1], QStringLiteral("10") + degC);
    EXPECT_EQ(f.d().graph[0], QStringLiteral("50"));
    EXPECT_EQ(f.d().graph[1], QStringLiteral("50"));
    EXPECT_EQ(f.cycle.readout(1).shown, 50); // what the log records
    EXPECT_EQ(f.cycle.readout(2).shown, 10);
}

// Which text the status line ends with, for a read after a good one.
TEST(SamplingCycle, StatusLine) {
    struct Case {
        const char* name;
        Read second;
        const char* profile1;
        const char* status;
        const char* axis;
        const char* yaxis;
    } cases[] = {
        {"connected", port(0, 7903, 53133), "100", "port status: sensors connected", "7903",
         "53133"},
        {"unplugged keeps old values", port(167), "100", "port status: sensors unplugged", "5203",
         "31036"},
        {"read error", port(165), "100", "port status: joyGetPosEx error, rc = 165", "5203",
         "31036"},
        {"negative code", port(-7), "100", "port status: joyGetPosEx error, rc = -7", "5203",
         "31036"},
        {"sensor 1 reads 0", port(0, 0, 500), "100", "port status: sensor 1 unplugged", "0", "500"},
        {"sensor 2 wins", port(0, 0, 0), "100", "port status: sensor 2 unplugged", "0", "0"},
        {"sensor 2 over read error", port(5, 0, 0), "100", "port status: sensor 2 unplugged", "0",
         "0"},
        {"raw 1 is connected", port(0, 1, 1), "100", "port status: sensors connected", "1", "1"},
        {"no profile, no check", port(0, 0, 500), "none", "port status: sensors connected", "0",
         "500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f({port(0, 5203, 31036), c.second});
        f.tick();
        f.inputs[0].codes.profile = QLatin1String(c.profile1);
        f.tick();
        EXPECT_EQ(f.d().status, QLatin1String(c.status));
        EXPECT_EQ(f.d().axis, QLatin1String(c.axis));
        EXPECT_EQ(f.d().yaxis, QLatin1String(c.yaxis));
    }
}

TEST(SamplingCycle, StaleValuesAreConvertedAfterAnUnpluggedRead) {
    Fixture f({port(0, 3296, 31036), port(167)});
    f.tick();
    f.inputs[0].codes.unit = QStringLiteral("C");
    f.tick();
    EXPECT_EQ(f.d().temperature[0], QStringLiteral("22") + degC);
}

TEST(SamplingCycle, SensorReadingZeroHoldsTheDisplay) {
    Fixture f({port(0, 5203, 31036), port(0, 0, 31036)});
    f.tick();
    for (int i = 0; i < 3; ++i) {
        f.tick();
        EXPECT_EQ(f.d().status, QStringLiteral("port status: sensor 1 unplugged"));
        EXPECT_EQ(f.d().temperature[0], QStringLiteral("50") + degF);
        EXPECT_EQ(f.d().graph[0], QStringLiteral("1047.2"));
        EXPECT_EQ(f.cycle.readout(1).shown, 50);
    }
}

TEST(SamplingCycle, InvalidProfileCodeKeepsTitleButStillShowsHeldValue) {
    Fixture f({port(0, 5203, 31036), port(0, 3296, 31036)});
    f.tick();
    f.inputs[0].codes.profile = QStringLiteral("99");
    f.inputs[0].profileText = QStringLiteral("Renamed");
    f.inputs[0].codes.unit = QStringLiteral("C");
    f.tick();
    EXPECT_EQ(f.d().title[0], QStringLiteral("Select Sensor 1"));
    EXPECT_EQ(f.d().temperature[0], QStringLiteral("10") + degC); // held value, new unit
    EXPECT_EQ(f.cycle.readout(1).celsius, 10);
}

TEST(SamplingCycle, UnitChangeLeavesGraphValue) {
    Fixture f({port(0, 5203, 31036)});
    f.tick();
    f.inputs[1].codes.unit = QStringLiteral("F");
    f.tick();
    EXPECT_EQ(f.d().temperature[1], QStringLiteral("50") + degF);
    EXPECT_EQ(f.cycle.readout(2).shown, 50);
    EXPECT_EQ(f.d().graph[1], QStringLiteral("50"));
}

TEST(SamplingCycle, InvalidOffsetAndUnitCodesLeaveTheirDisplays) {
    Fixture f({port(0, 5203, 31036), port(0, 3296, 17283)});
    f.tick();
    f.inputs[1].codes.offset = QStringLiteral("+3");
    f.inputs[1].codes.unit = QStringLiteral("K");
    f.tick();
    EXPECT_EQ(f.d().graph[1], QStringLiteral("50"));
    EXPECT_EQ(f.d().temperature[1], QStringLiteral("10") + degC);
    EXPECT_EQ(f.cycle.readout(2).heldCelsius, 22);
}

TEST(SamplingCycle, CoefficientEditTakesEffectAtTheNextTick) {
    Fixture f({port(0, 5203, 31036)});
    f.tick();
    f.inputs[0].coefficients.a = QStringLiteral("not a number");
    f.tick();
    EXPECT_EQ(f.d().temperature[0], QStringLiteral("50") + degF); // no reading: last good value
    EXPECT_EQ(f.d().status, QStringLiteral("port status: sensors connected"));
    f.inputs[0].coefficients = initialCoefficients(2);
    f.inputs[0].codes.unit = QStringLiteral("C");
    f.tick();
    EXPECT_EQ(f.d().temperature[0], QStringLiteral("48") + degC);
}

TEST(SamplingCycle, ProbeResult) {
    ScriptedSource missing({}, 165);
    SamplingCycle cycle;
    EXPECT_FALSE(cycle.probe(missing));
    EXPECT_EQ(cycle.reading().result, 165);
    ScriptedSource present({});
    EXPECT_TRUE(cycle.probe(present));
}
