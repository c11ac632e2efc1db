// SPDX-License-Identifier: GPL-3.0-or-later

#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <gtest/gtest.h>
#include <set>

namespace {
using Read = ScriptedSource::Read;

// Both sensors with their initial coefficients, sensor 1 in °F and sensor 2 in °C.
struct Fixture {
    explicit Fixture(std::vector<Read> reads) : source(std::move(reads)) {
        for (int s : {1, 2}) {
            inputs[s - 1].coefficients = initialCoefficients(s);
            inputs[s - 1].profileText = QStringLiteral("Select Sensor %1").arg(s);
        }
        inputs[1].codes.unit = TemperatureUnit::Celsius;
    }
    const Displays& tick() {
        cycle.tick(source, inputs);
        return cycle.displays();
    }

    ScriptedSource source;
    SamplingCycle cycle;
    std::array<ChannelInput, 2> inputs; // last, so that reading past it is caught
};
} // namespace

// No graph value (here an offset code not one of the seven): the graph's placeholders.
TEST(SamplingCycle, NoGraphValue) {
    Fixture none({{0, 0, 31036}});
    for (ChannelInput& input : none.inputs)
        input.codes.offset = QStringLiteral("+3");
    const Displays& nd = none.tick();
    EXPECT_EQ(nd.graph[0] + nd.graph[1], QStringLiteral("xy"));
}

// The status line and raw values after a good read followed by another.
TEST(SamplingCycle, StatusLine) {
    const std::tuple<Read, const char*, const char*> cases[] = {
        {{167, {}, {}}, "port status: sensors unplugged", "5203 31036"},
        {{165, {}, {}}, "port status: joyGetPosEx error, rc = 165", "5203 31036"},
        {{0, 0, 500}, "port status: sensor 1 unplugged", "0 500"},
        {{0, 0, 0}, "port status: sensor 2 unplugged", "0 0"},
        {{0, 1, 1}, "port status: sensors connected", "1 1"},
    };
    for (const auto& [second, status, raw] : cases) {
        Fixture f({{0, 5203, 31036}, second});
        f.tick();
        const Displays& d = f.tick();
        EXPECT_EQ(d.status, QLatin1String(status));
        EXPECT_EQ(d.axis + QLatin1Char(' ') + d.yaxis, QLatin1String(raw)) << status;
    }
}

TEST(SamplingCycle, SettingsTakeEffectAtTheNextTick) {
    Fixture f({{0, 5203, 31036}, {0, 0, 31036}, {0, 0, 31036}, {0, 3296, 31036}});
    f.tick();
    // No valid profile: no conversion nor title; the held value in the new unit, the graph in °F.
    f.inputs[0].codes.profile = QStringLiteral("99");
    f.inputs[0].profileText = QStringLiteral("Renamed");
    f.inputs[0].codes.unit = TemperatureUnit::Celsius;
    f.inputs[1].codes.unit = TemperatureUnit::Fahrenheit;
    const Displays& d = f.tick();
    EXPECT_EQ(d.status, QStringLiteral("port status: sensors connected"));
    EXPECT_EQ(d.title[0], QStringLiteral("Select Sensor 1"));
    EXPECT_EQ(d.temperature[0] + d.temperature[1], QStringLiteral("10°C50°F"));
    EXPECT_EQ(d.graph[1], QStringLiteral("50"));

    // A coefficient that is not a number is no reading, yet the unplugged sensor shows.
    f.inputs[0].codes.profile = QStringLiteral("10");
    f.inputs[0].coefficients.a = QStringLiteral("x");
    EXPECT_EQ(f.tick().status, QStringLiteral("port status: sensor 1 unplugged"));
    EXPECT_EQ(d.title[0] + d.temperature[0], QStringLiteral("Renamed10°C"));
    f.inputs[0].coefficients = initialCoefficients(1);
    EXPECT_EQ(f.tick().temperature[0], QStringLiteral("22°C"));
}

// Each edit of one coefficient text, back and forth, shows at the next tick exactly as a cycle
// that never saw the earlier texts shows it.
TEST(SamplingCycle, EveryCoefficientEditCounts) {
    const Coefficients one = initialCoefficients(1), two = initialCoefficients(2);
    const Coefficients steps[] = {one, {two.a, one.b, one.c}, {two.a, two.b, one.c},
                                  two, {two.a, two.b, one.c}, one};
    Fixture f({{0, 5203, 5203}});
    std::set<QString> shown;
    for (const Coefficients& k : steps) {
        f.inputs[0].coefficients = k;
        Fixture fresh({{0, 5203, 5203}});
        fresh.inputs[0].coefficients = k;
        EXPECT_EQ(f.tick().temperature[0], fresh.tick().temperature[0]) << shown.size();
        shown.insert(f.cycle.displays().temperature[0]);
    }
    EXPECT_GE(shown.size(), 4u); // the edits changed what is shown
}
