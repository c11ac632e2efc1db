// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/exposition.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace {

// A strict reader of the Prometheus text format 0.0.4: anything the format
// does not allow throws, and so do a family without HELP or TYPE, a family's
// samples not in one group, a repeated series, and names against the naming
// practices this program follows (kelvano_ prefix, counters ending in _total).
struct Family {
    std::string type, help;
    std::map<std::map<std::string, std::string>, double> samples; // by label set
};
using Families = std::map<std::string, Family>;

struct Parser {
    std::string_view text;
    size_t pos = 0;

    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error(why + " at byte " + std::to_string(pos));
    }
    bool at(char c) const { return pos < text.size() && text[pos] == c; }
    void expect(char c) {
        if (!at(c))
            fail(std::string("expected '") + c + "'");
        ++pos;
    }
    std::string name(bool metric) {
        const size_t start = pos;
        while (pos < text.size()) {
            const char c = text[pos];
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                                (metric && c == ':');
            if (!letter && !(pos > start && c >= '0' && c <= '9'))
                break;
            ++pos;
        }
        if (pos == start)
            fail("expected a name");
        return std::string(text.substr(start, pos - start));
    }
    std::string restOfLine() {
        const size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            fail("the last line lacks its line feed");
        std::string s(text.substr(pos, end - pos));
        pos = end + 1;
        return s;
    }
    std::string quoted() {
        expect('"');
        std::string value;
        for (;;) {
            if (pos >= text.size() || text[pos] == '\n')
                fail("unterminated label value");
            const char c = text[pos++];
            if (c == '"')
                return value;
            if (c != '\\') {
                value += c;
                continue;
            }
            const char e = pos < text.size() ? text[pos++] : '\0';
            if (e == '\\' || e == '"')
                value += e;
            else if (e == 'n')
                value += '\n';
            else
                fail("bad escape in a label value");
        }
    }
    double value() {
        const std::string token = [&] {
            const size_t start = pos;
            while (pos < text.size() && text[pos] != ' ' && text[pos] != '\n')
                ++pos;
            return std::string(text.substr(start, pos - start));
        }();
        if (token == "+Inf")
            return HUGE_VAL;
        if (token == "-Inf")
            return -HUGE_VAL;
        if (token == "NaN")
            return NAN;
        double v = 0;
        const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
        if (token.empty() || ec != std::errc() || end != token.data() + token.size())
            fail("bad value '" + token + "'");
        return v;
    }

    Families parse() {
        Families families;
        std::set<std::string> finished; // families whose group of lines has ended
        std::string current;
        const auto enter = [&](const std::string& family) {
            if (family != current) {
                if (!current.empty())
                    finished.insert(current);
                if (finished.count(family))
                    fail(family + ": its lines are not one group");
                current = family;
            }
        };
        while (pos < text.size()) {
            if (at('#')) {
                ++pos;
                expect(' ');
                const std::string keyword = name(false);
                expect(' ');
                const std::string metric = name(true);
                expect(' ');
                enter(metric);
                Family& f = families[metric];
                if (keyword == "HELP") {
                    if (!f.help.empty())
                        fail(metric + ": a second HELP");
                    f.help = restOfLine();
                    if (f.help.empty())
                        fail(metric + ": empty HELP");
                } else if (keyword == "TYPE") {
                    if (!f.type.empty() || !f.samples.empty())
                        fail(metric + ": TYPE repeated or after a sample");
                    f.type = restOfLine();
                    if (f.type != "counter" && f.type != "gauge")
                        fail(metric + ": type " + f.type);
                } else {
                    fail("a comment this program never writes");
                }
                continue;
            }
            const std::string metric = name(true);
            enter(metric);
            std::map<std::string, std::string> labels;
            if (at('{')) {
                ++pos;
                while (!at('}')) {
                    const std::string label = name(false);
                    if (label.rfind("__", 0) == 0)
                        fail("reserved label name");
                    expect('=');
                    if (!labels.emplace(label, quoted()).second)
                        fail("label repeated");
                    if (!at('}'))
                        expect(',');
                }
                ++pos;
            }
            expect(' ');
            const double v = value();
            expect('\n');
            Family& f = families[metric];
            if (f.type.empty() || f.help.empty())
                fail(metric + ": a sample before HELP and TYPE");
            if (!f.samples.emplace(labels, v).second)
                fail(metric + ": series repeated");
        }
        for (const auto& [metric, f] : families) {
            if (f.type.empty())
                fail(metric + ": no TYPE");
            if (metric.rfind("kelvano_", 0) != 0 ||
                (f.type == "counter") !=
                    (metric.size() > 6 && metric.compare(metric.size() - 6, 6, "_total") == 0))
                fail(metric + ": against the naming practices");
        }
        return families;
    }
};

Families parse(const QByteArray& text) {
    Parser parser{std::string_view(text.constData(), size_t(text.size()))};
    return parser.parse();
}

using Labels = std::map<std::string, std::string>;
using Read = ScriptedSource::Read;

// The samples of one family, or nothing when it has none.
std::map<Labels, double> samples(const Families& families, const std::string& name) {
    const auto it = families.find(name);
    EXPECT_NE(it, families.end()) << name << " has no HELP and TYPE";
    return it == families.end() ? std::map<Labels, double>{} : it->second.samples;
}

double celsius(uint32_t raw, int sensor, int offset) {
    return *steinhartHartCelsius(raw, initialCoefficients(sensor)) + offset;
}

} // namespace

// Reads replayed into a real sampling cycle, then the page parsed back.
TEST(Exposition, StatesParsedBack) {
    const QString awkward = QStringLiteral("Probe \"A\\B\"\nline 2 °C");
    struct Case {
        const char* what;
        std::vector<Read> reads;
        std::map<Labels, double> temperature, raw;
        double up;
        std::map<Labels, double> errors;
    };
    const Case cases[] = {
        {"both sensors read",
         {{0, 5203, 31036}},
         {{{{"sensor", "1"}, {"name", "100K"}}, celsius(5203, 1, 0)},
          {{{"sensor", "2"}, {"name", awkward.toStdString()}}, celsius(31036, 2, 2)}},
         {{{{"sensor", "1"}}, 5203}, {{{"sensor", "2"}}, 31036}},
         1,
         {}},
        {"sensor 2 unplugged",
         {{0, 5203, 31036}, {0, 6000, 0}},
         {{{{"sensor", "1"}, {"name", "100K"}}, celsius(6000, 1, 0)}},
         {{{{"sensor", "1"}}, 6000}, {{{"sensor", "2"}}, 0}},
         1,
         {}},
        {"port unplugged after a good read: nothing stale",
         {{0, 5203, 31036}, {167, {}, {}}},
         {},
         {},
         0,
         {{{{"code", "167"}}, 1}}},
        {"read errors counted by code, then a good read",
         {{31, {}, {}}, {167, {}, {}}, {31, {}, {}}, {0, 1, 65535}},
         {{{{"sensor", "1"}, {"name", "100K"}}, celsius(1, 1, 0)},
          {{{"sensor", "2"}, {"name", awkward.toStdString()}}, celsius(65535, 2, 2)}},
         {{{{"sensor", "1"}}, 1}, {{{"sensor", "2"}}, 65535}},
         1,
         {{{{"code", "31"}}, 2}, {{{"code", "167"}}, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSource source(c.reads);
        std::array<ChannelInput, 2> inputs;
        for (int s : {1, 2})
            inputs[s - 1].coefficients = initialCoefficients(s);
        inputs[0].profileText = QStringLiteral("100K");
        inputs[1].profileText = awkward;
        inputs[1].codes.offset = QStringLiteral("2");
        SamplingCycle cycle;
        MetricsState state;
        state.version = QStringLiteral("1.2.3");
        int64_t ms = 1733486927123;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            cycle.tick(source, inputs);
            state.record(cycle, ms += 1000);
        }

        const Families f = parse(expositionText(state));
        EXPECT_EQ(samples(f, "kelvano_temperature_celsius"), c.temperature);
        EXPECT_EQ(samples(f, "kelvano_raw_value"), c.raw);
        EXPECT_EQ(samples(f, "kelvano_port_up"), (std::map<Labels, double>{{{}, c.up}}));
        EXPECT_EQ(samples(f, "kelvano_port_status_code"),
                  (std::map<Labels, double>{{{}, double(c.reads.back().code)}}));
        EXPECT_EQ(samples(f, "kelvano_reads_total"),
                  (std::map<Labels, double>{{{}, double(c.reads.size())}}));
        EXPECT_EQ(samples(f, "kelvano_read_errors_total"), c.errors);
        EXPECT_EQ(samples(f, "kelvano_last_read_timestamp_seconds"),
                  (std::map<Labels, double>{{{}, double(ms) / 1000}}));
        EXPECT_EQ(samples(f, "kelvano_build_info"),
                  (std::map<Labels, double>{{{{"version", "1.2.3"}}, 1}}));
        EXPECT_EQ(f.count("kelvano_alarm_active"), 0u);
        EXPECT_EQ(f.at("kelvano_reads_total").type, "counter");
    }
}

// Before the first read: the port is not up and nothing else claims a reading.
// With alarm limits switched on, one series per limit.
TEST(Exposition, BeforeTheFirstReadAndAlarms) {
    MetricsState state;
    state.alarms = {{1, QStringLiteral("high"), true}, {2, QStringLiteral("low"), false}};
    const Families f = parse(expositionText(state));
    EXPECT_EQ(samples(f, "kelvano_port_up"), (std::map<Labels, double>{{{}, 0}}));
    EXPECT_EQ(samples(f, "kelvano_reads_total"), (std::map<Labels, double>{{{}, 0}}));
    for (const char* none : {"kelvano_temperature_celsius", "kelvano_raw_value",
                             "kelvano_port_status_code", "kelvano_last_read_timestamp_seconds"})
        EXPECT_TRUE(samples(f, none).empty()) << none;
    EXPECT_EQ(samples(f, "kelvano_alarm_active"),
              (std::map<Labels, double>{{{{"sensor", "1"}, {"limit", "high"}}, 1},
                                        {{{"sensor", "2"}, {"limit", "low"}}, 0}}));
}

// The escaping the format requires, and nothing more.
TEST(Exposition, LabelValueEscaping) {
    EXPECT_EQ(escapeLabelValue(QStringLiteral("a\"b\\c\nd\re\tf °")),
              QStringLiteral("a\\\"b\\\\c\\nd\re\tf °"));
}

// The Prometheus and Grafana files use only metrics that the page has, and the dashboard
// selects machines by the instance label.
TEST(Exposition, ContribFilesNameServedMetrics) {
    MetricsState state;
    state.alarms = {{1, QStringLiteral("high"), true}};
    const Families served = parse(expositionText(state));
    const QRegularExpression metric(QStringLiteral("\\bkelvano_[a-z_]+"));
    for (const char* file : {"prometheus.yml", "kelvano-alerts.yml", "grafana-dashboard.json"}) {
        QFile f(QStringLiteral(KELVANO_SOURCE_DIR "/contrib/") + QLatin1String(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file;
        const QString text = QString::fromUtf8(f.readAll());
        for (const QRegularExpressionMatch& m : metric.globalMatch(text))
            EXPECT_EQ(served.count(m.captured().toStdString()), 1u)
                << file << ": " << m.captured().toStdString();
        if (QLatin1String(file) == QLatin1String("grafana-dashboard.json")) {
            QJsonParseError error;
            const QJsonObject dashboard = QJsonDocument::fromJson(text.toUtf8(), &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
            const QJsonArray variables =
                dashboard[QLatin1String("templating")][QLatin1String("list")].toArray();
            EXPECT_TRUE(std::any_of(variables.begin(), variables.end(), [](const QJsonValue& v) {
                return v[QLatin1String("name")] == QLatin1String("instance") &&
                       v[QLatin1String("definition")].toString().contains(
                           QLatin1String("instance"));
            }));
        }
    }
}
