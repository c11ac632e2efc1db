// SPDX-License-Identifier: GPL-3.0-or-later
// A real Prometheus server on loopback scrapes the program each second while it replays; what it
// stored must be the conversion of the replayed raw values.
#include "sensor/conversion.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

using Series = std::map<QString, std::map<double, double>>;

// Values by time by sensor label; nothing when Prometheus does not answer.
std::optional<Series> query(quint16 port, const QString& promql) {
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port));
    url.setQuery(QUrlQuery{{QStringLiteral("query"), promql}});
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
        return std::nullopt;
    Series series;
    const QJsonDocument answer = QJsonDocument::fromJson(reply->readAll());
    for (const QJsonValue& s : answer[QLatin1String("data")][QLatin1String("result")].toArray()) {
        auto& values = series[s[QLatin1String("metric")][QLatin1String("sensor")].toString()];
        const QJsonArray points = s[QLatin1String("values")].toArray();
        for (const QJsonValue& p :
             points.isEmpty() ? QJsonArray{s[QLatin1String("value")]} : points)
            values[p[0].toDouble()] = p[1].toString().toDouble();
    }
    return series;
}

// Killed when the test ends, however it ends.
struct Process : QProcess {
    ~Process() override {
        kill();
        waitForFinished(5000);
    }
};

std::set<double> valuesOf(const std::map<double, double>& points) {
    std::set<double> values;
    for (const auto& [time, value] : points)
        values.insert(value);
    return values;
}

} // namespace

TEST(Prometheus, ScrapesReplayedReadings) {
    const QDeadlineTimer deadline(50000);
    int argc = 1;
    char name[] = "test_prometheus", *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("config/Corvanta"));
    const auto write = [&](const char* file, const QString& text) {
        QFile f(dir.filePath(QLatin1String(file)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return f.fileName();
    };
    const QString replay =
        write("replay", QStringLiteral("probe 0\n") + QStringLiteral("0 5203 31036\n").repeated(6) +
                            QStringLiteral("167\n").repeated(6) + QStringLiteral("0 8000 0\n"));
    const QString target = QStringLiteral("127.0.0.1:%1").arg(freePort());
    const quint16 port = freePort();
    // Both sensors read, the port unplugged, then sensor 2 unplugged; sensor 1 has an alarm above
    // 40 °F (the first entry is above it, the last below) and no offset.
    write("config/Corvanta/Kelvano.conf",
          QStringLiteral("[Settings]\nAlarm1HighOn=True\nAlarm1High=40\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("HOME"), dir.path());
    const auto kelvano = [&](Process& process, const QStringList& options) {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KELVANO_BINARY), QStringList{"--headless"} + options);
    };
    Process program, prometheus;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    kelvano(program, {"--replay", replay, "--log", dir.filePath("log.csv"), "--metrics", target});
    prometheus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString config = write(
        "prometheus.yml", "global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                          "scrape_configs: [{job_name: kelvano, static_configs: [{targets: ['" +
                              target + "']}]}]\n");
    prometheus.start(QStringLiteral("prometheus"),
                     {"--config.file=" + config, "--storage.tsdb.path=" + dir.filePath("data"),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                      "--log.level=warn"});
    const auto waitFor = [&](const QString& promql, double least) {
        for (; !deadline.hasExpired(); QThread::msleep(250))
            if (const auto s = query(port, promql);
                s && s->size() == 1 && s->begin()->second.begin()->second >= least)
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor(QStringLiteral("up"), 1)) << "Prometheus never reached the program";

    ASSERT_TRUE(waitFor(QStringLiteral("kelvano_reads_total"), 16)) << "last entry not reached";
    const auto c = [](uint32_t raw, int s) {
        return *steinhartHartCelsius(raw, initialCoefficients(s));
    };
    const auto up = query(port, QStringLiteral("kelvano_port_up[5m]"));
    const auto temperatures = query(port, QStringLiteral("kelvano_temperature_celsius[5m]"));
    ASSERT_TRUE(up && temperatures && up->size() == 1);
    const auto& upPoints = up->begin()->second;
    EXPECT_EQ(valuesOf(upPoints), (std::set<double>{0, 1})) << "the unplugged stretch not scraped";
    std::map<QString, std::set<double>> seen;
    for (const auto& [sensor, points] : *temperatures) {
        seen[sensor] = valuesOf(points);
        for (const auto& [time, value] : points) {
            const auto at = upPoints.find(time);
            EXPECT_TRUE(at == upPoints.end() || at->second == 1) << sensor.toStdString() << time;
        }
    }
    EXPECT_EQ(seen,
              (std::map<QString, std::set<double>>{{QStringLiteral("1"), {c(5203, 1), c(8000, 1)}},
                                                   {QStringLiteral("2"), {c(31036, 2)}}}));

    // Only the limit switched on has a series; the page names the program's version.
    const auto alarm = query(port, QStringLiteral("kelvano_alarm_active[5m]"));
    ASSERT_TRUE(alarm && alarm->size() == 1 && alarm->count(QStringLiteral("1")));
    const auto build = query(port, QStringLiteral("kelvano_build_info{version!=\"\"}"));
    EXPECT_TRUE(build && build->size() == 1);
    EXPECT_EQ(valuesOf(alarm->at(QStringLiteral("1"))), (std::set<double>{0, 1}));
    EXPECT_EQ(alarm->at(QStringLiteral("1")).rbegin()->second, 0);
}
