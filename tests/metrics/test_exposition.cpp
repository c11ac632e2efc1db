// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/exposition.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <set>

namespace {

using Page = std::map<std::string, double>;

// Reads the page as strictly as the text format 0.0.4 allows, and fails the test on a
// family without HELP and TYPE, a family's lines not in one group, a repeated series or
// a name against the naming practices (kelvano_ prefix, counters ending in _total).
// Returns the samples by series, "name{label=value,...}" with labels in name order and
// values unescaped.
Page parse(const QByteArray& page) {
    const QString name = QStringLiteral("([a-zA-Z_:][a-zA-Z0-9_:]*)");
    const QString label = QStringLiteral("[a-zA-Z_][a-zA-Z0-9_]*=\"(?:[^\"\\\\]|\\\\[\\\\\"n])*\"");
    const QRegularExpression help(QStringLiteral("^# HELP %1 .+$").arg(name));
    const QRegularExpression type(QStringLiteral("^# TYPE %1 (counter|gauge)$").arg(name));
    const QRegularExpression sample(
        QStringLiteral("^%1(?:\\{((?:%2,)*%2)\\})? (\\S+)$").arg(name, label));
    const QRegularExpression pair(QStringLiteral("([a-zA-Z_]+)=\"((?:[^\"\\\\]|\\\\.)*)\""));
    Page series;
    std::map<std::string, std::string> types;
    std::set<std::string> helped, ended;
    std::string current;
    EXPECT_TRUE(page.endsWith('\n'));
    for (const QByteArray& bytes : page.chopped(1).split('\n')) {
        const QString line = QString::fromUtf8(bytes);
        QRegularExpressionMatch m;
        if ((m = help.match(line)).hasMatch()) {
            EXPECT_TRUE(helped.insert(m.captured(1).toStdString()).second)
                << "HELP again: " << bytes.data();
        } else if ((m = type.match(line)).hasMatch()) {
            EXPECT_TRUE(
                types.emplace(m.captured(1).toStdString(), m.captured(2).toStdString()).second)
                << "TYPE again: " << bytes.data();
        } else if ((m = sample.match(line)).hasMatch()) {
            const std::string family = m.captured(1).toStdString();
            EXPECT_TRUE(helped.count(family) && types.count(family)) << bytes.data();
            std::map<std::string, std::string> labels;
            for (const QRegularExpressionMatch& p : pair.globalMatch(m.captured(2))) {
                const std::string escaped = p.captured(2).toStdString();
                std::string value;
                for (size_t k = 0; k < escaped.size(); ++k)
                    value += escaped[k] != '\\'    ? escaped[k]
                             : escaped[++k] == 'n' ? '\n'
                                                   : escaped[k];
                EXPECT_TRUE(labels.emplace(p.captured(1).toStdString(), value).second);
            }
            std::string key = family;
            for (const auto& [l, v] : labels)
                key += (key == family ? "{" : ",") + l + "=" + v;
            key += labels.empty() ? "" : "}";
            const std::string text = m.captured(3).toStdString();
            double value = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            EXPECT_TRUE(ec == std::errc() && end == text.data() + text.size()) << bytes.data();
            EXPECT_TRUE(series.emplace(key, value).second) << "repeated: " << bytes.data();
        } else {
            ADD_FAILURE() << "not the text format: " << bytes.data();
            continue;
        }
        const std::string family = m.captured(1).toStdString();
        if (family != current) {
            EXPECT_TRUE(ended.insert(current).second && !ended.count(family))
                << family << ": its lines are not one group";
            current = family;
        }
    }
    for (const auto& [family, t] : types)
        EXPECT_TRUE(family.rfind("kelvano_", 0) == 0 &&
                    (t == "counter") ==
                        (family.size() > 6 && family.substr(family.size() - 6) == "_total"))
            << family << " " << t;
    EXPECT_EQ(types.size(), helped.size());
    return series;
}

double celsius(uint32_t raw, int sensor, int offset) {
    return *steinhartHartCelsius(raw, initialCoefficients(sensor)) + offset;
}

} // namespace

// Reads replayed into a real sampling cycle, the page parsed back. Sensor 2's profile name
// holds a quote, a backslash and a line break; its offset is +2. Sensor 1's offset code is
// none of the seven, which the readout takes as no offset.
TEST(Exposition, StatesParsedBack) {
    const std::string awkward = "Probe \"A\\B\"\nline 2 °C";
    const std::string t1 = "kelvano_temperature_celsius{name=100K,sensor=1}";
    const std::string t2 = "kelvano_temperature_celsius{name=" + awkward + ",sensor=2}";
    const std::string r1 = "kelvano_raw_value{sensor=1}", r2 = "kelvano_raw_value{sensor=2}";
    using Read = ScriptedSource::Read;
    const std::pair<std::vector<Read>, Page> cases[] = {
        // Both sensors read.
        {{{0, 5203, 31036}},
         {{t1, celsius(5203, 1, 0)},
          {t2, celsius(31036, 2, 2)},
          {r1, 5203},
          {r2, 31036},
          {"kelvano_port_up", 1},
          {"kelvano_port_status_code", 0}}},
        // Sensor 2 unplugged: no temperature of it, its raw value 0.
        {{{0, 5203, 31036}, {0, 6000, 0}},
         {{t1, celsius(6000, 1, 0)},
          {r1, 6000},
          {r2, 0},
          {"kelvano_port_up", 1},
          {"kelvano_port_status_code", 0}}},
        // The port unplugged after a good read: nothing of the earlier read is left.
        {{{0, 5203, 31036}, {167, {}, {}}},
         {{"kelvano_port_up", 0},
          {"kelvano_port_status_code", 167},
          {"kelvano_read_errors_total{code=167}", 1}}},
        // Read errors counted by code, then a good read at both ends of the range.
        {{{31, {}, {}}, {167, {}, {}}, {31, {}, {}}, {0, 1, 65535}},
         {{t1, celsius(1, 1, 0)},
          {t2, celsius(65535, 2, 2)},
          {r1, 1},
          {r2, 65535},
          {"kelvano_port_up", 1},
          {"kelvano_port_status_code", 0},
          {"kelvano_read_errors_total{code=31}", 2},
          {"kelvano_read_errors_total{code=167}", 1}}},
    };
    for (const auto& [reads, expected] : cases) {
        ScriptedSource source(reads);
        std::array<ChannelInput, 2> inputs;
        for (int s : {1, 2})
            inputs[s - 1].coefficients = initialCoefficients(s);
        inputs[0].profileText = QStringLiteral("100K");
        inputs[1].profileText = QString::fromStdString(awkward);
        inputs[0].codes.offset = QStringLiteral("+3");
        inputs[1].codes.offset = QStringLiteral("2");
        SamplingCycle cycle;
        MetricsState state;
        state.version = QStringLiteral("1.2.3");
        for (size_t i = 0; i < reads.size(); ++i) {
            cycle.tick(source, inputs);
            state.record(cycle, 1733486927123 + int64_t(i) * 1000);
        }
        Page page = expected;
        page["kelvano_reads_total"] = double(reads.size());
        page["kelvano_last_read_timestamp_seconds"] =
            double(1733486927123 + int64_t(reads.size() - 1) * 1000) / 1000;
        page["kelvano_build_info{version=1.2.3}"] = 1;
        EXPECT_EQ(parse(expositionText(state)), page) << "after " << reads.size() << " reads";
    }
}

// Before the first read the port is not up and nothing claims a reading. With alarm limits
// switched on, one series per limit.
TEST(Exposition, BeforeTheFirstReadAndAlarms) {
    MetricsState state;
    state.alarms = {{1, QStringLiteral("high"), true}, {2, QStringLiteral("low"), false}};
    EXPECT_EQ(parse(expositionText(state)), (Page{{"kelvano_port_up", 0},
                                                  {"kelvano_reads_total", 0},
                                                  {"kelvano_alarm_active{limit=high,sensor=1}", 1},
                                                  {"kelvano_alarm_active{limit=low,sensor=2}", 0},
                                                  {"kelvano_build_info{version=}", 1}}));
}

// The Prometheus and Grafana files name only metrics that the page has, and the dashboard
// is JSON.
TEST(Exposition, ContribFilesNameServedMetrics) {
    MetricsState state;
    state.alarms = {{1, QStringLiteral("high"), true}};
    const QByteArray page = expositionText(state);
    for (const char* file : {"prometheus.yml", "kelvano-alerts.yml", "grafana-dashboard.json"}) {
        QFile f(QStringLiteral(KELVANO_SOURCE_DIR "/contrib/") + QLatin1String(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file;
        const QByteArray text = f.readAll();
        const QRegularExpression metric(QStringLiteral("\\bkelvano_[a-z_]+"));
        for (const QRegularExpressionMatch& m : metric.globalMatch(QString::fromUtf8(text)))
            EXPECT_TRUE(page.contains("# TYPE " + m.captured().toUtf8() + ' '))
                << file << ": " << m.captured().toStdString();
        if (QByteArray(file).endsWith(".json")) {
            EXPECT_FALSE(QJsonDocument::fromJson(text).isNull()) << file;
        }
    }
}
