// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/exposition.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>

namespace {

using Page = std::map<std::string, double>;

// The samples of a page by series, as written ("name{label="value",...}"). The page as a whole
// must pass Prometheus' own check of the text format and of its naming practices.
Page samples(const QByteArray& page) {
    static int argc = 1;
    static char name[] = "test_metrics", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // QProcess's and the server's; lives to the end
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    promtool.write(page);
    promtool.closeWriteChannel();
    EXPECT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().data() << page.data();

    Page series;
    EXPECT_TRUE(page.endsWith('\n'));
    for (const QByteArray& line : page.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype blank = line.lastIndexOf(' ');
        bool number = false;
        const double value = line.mid(blank + 1).toDouble(&number);
        EXPECT_TRUE(number && series.emplace(line.left(blank).toStdString(), value).second)
            << "repeated or no number: " << line.data();
    }
    return series;
}

double celsius(uint32_t raw, int sensor, int offset) {
    return *steinhartHartCelsius(raw, initialCoefficients(sensor)) + offset;
}

} // namespace

// Reads replayed into a real sampling cycle. Sensor 1 has no profile chosen, so its name is
// "Sensor 1", not the chooser's placeholder; sensor 2's profile name needs escaping on the page,
// its offset is +2. Sensor 1's offset code is none of the seven: no offset.
TEST(Exposition, StatesOfTheReads) {
    const std::string t1 = R"(kelvano_temperature_celsius{sensor="1",name="Sensor 1"})";
    const std::string t2 =
        R"(kelvano_temperature_celsius{sensor="2",name="Probe \"A\\B\"\nl2 °C"})";
    const std::string r1 = R"(kelvano_raw_value{sensor="1"})",
                      r2 = R"(kelvano_raw_value{sensor="2"})";
    using Read = ScriptedSource::Read;
    const std::pair<std::vector<Read>, Page> cases[] = {
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
          {R"(kelvano_read_errors_total{code="167"})", 1}}},
        // Read errors counted by code, then both sensors read at both ends of the range.
        {{{31, {}, {}}, {167, {}, {}}, {31, {}, {}}, {0, 1, 65535}},
         {{t1, celsius(1, 1, 0)},
          {t2, celsius(65535, 2, 2)},
          {r1, 1},
          {r2, 65535},
          {"kelvano_port_up", 1},
          {"kelvano_port_status_code", 0},
          {R"(kelvano_read_errors_total{code="31"})", 2},
          {R"(kelvano_read_errors_total{code="167"})", 1}}},
    };
    for (const auto& [reads, expected] : cases) {
        ScriptedSource source(reads);
        std::array<ChannelInput, 2> inputs;
        for (int s : {1, 2})
            inputs[s - 1].coefficients = initialCoefficients(s);
        inputs[0].profileText = profilePlaceholder(1);
        inputs[1].profileText = QStringLiteral("Probe \"A\\B\"\nl2 °C");
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
        page[R"(kelvano_build_info{version="1.2.3"})"] = 1;
        EXPECT_EQ(samples(expositionText(state)), page) << "after " << reads.size() << " reads";
    }
}

// Before the first read the port is not up and nothing claims a reading. With alarm limits
// switched on, one series per limit; with a broker, whether it is connected. The Prometheus and
// Grafana files name only metrics that the page has; the dashboard is JSON.
TEST(Exposition, BeforeTheFirstReadAndContribFiles) {
    MetricsState state;
    state.alarms = {{1, QStringLiteral("high"), true}, {2, QStringLiteral("low"), false}};
    state.mqttConnected = false;
    const QByteArray page = expositionText(state);
    EXPECT_EQ(samples(page), (Page{{"kelvano_port_up", 0},
                                   {"kelvano_reads_total", 0},
                                   {R"(kelvano_alarm_active{sensor="1",limit="high"})", 1},
                                   {R"(kelvano_alarm_active{sensor="2",limit="low"})", 0},
                                   {"kelvano_mqtt_connected", 0},
                                   {R"(kelvano_build_info{version=""})", 1}}));
    state.mqttConnected = true;
    EXPECT_EQ(samples(expositionText(state))["kelvano_mqtt_connected"], 1);
    for (const char* file : {"prometheus.yml", "kelvano-alerts.yml", "grafana-dashboard.json"}) {
        QFile f(QStringLiteral(KELVANO_SOURCE_DIR "/contrib/") + QLatin1String(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file;
        const QByteArray text = f.readAll();
        const QRegularExpression metric(QStringLiteral("\\bkelvano_[a-z_]+"));
        for (const QRegularExpressionMatch& m : metric.globalMatch(QString::fromUtf8(text)))
            EXPECT_TRUE(page.contains("# TYPE " + m.captured().toUtf8() + ' '))
                << file << ": " << m.captured().toStdString();
        EXPECT_TRUE(!QByteArray(file).endsWith(".json") || !QJsonDocument::fromJson(text).isNull());
    }
}
