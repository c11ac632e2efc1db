// SPDX-License-Identifier: GPL-3.0-or-later
// A real Prometheus server scrapes the program every second while it replays both sensors
// read, the port unplugged, then sensor 2 unplugged; what Prometheus stored is checked
// against the conversion of the replayed raw values. Everything runs on loopback and ends
// by itself within a minute.
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

// Values by time for each series, the series named by their sensor label.
using Series = std::map<QString, std::map<double, double>>;

// An instant query; nothing when Prometheus does not answer.
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
    const QJsonObject data =
        QJsonDocument::fromJson(reply->readAll())[QLatin1String("data")].toObject();
    for (const QJsonValue& s : data[QLatin1String("result")].toArray()) {
        auto& values = series[s[QLatin1String("metric")][QLatin1String("sensor")].toString()];
        const QJsonArray points = s[QLatin1String("values")].toArray();
        for (const QJsonValue& p :
             points.isEmpty() ? QJsonArray{s[QLatin1String("value")]} : points)
            values[p[0].toDouble()] = p[1].toString().toDouble();
    }
    return series;
}

// Runs a program, killed when the test ends.
struct Running {
    ~Running() {
        process.kill();
        process.waitForFinished(5000);
    }
    void kelvano(const QStringList& options) {
        process.start(QStringLiteral(KELVANO_BINARY),
                      QStringList{QStringLiteral("--headless")} + options);
    }
    QProcess process;
};

} // namespace

TEST(Prometheus, ScrapesReplayedReadings) {
    const QDeadlineTimer deadline(50000);
    int argc = 1;
    char name[] = "test_prometheus";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const auto write = [&](const QString& file, const QString& text) {
        QFile f(dir.filePath(file));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return f.fileName();
    };
    // Six reads of both sensors, six with the port unplugged, then sensor 2 unplugged.
    const QString replay =
        write(QStringLiteral("replay"),
              QStringLiteral("probe 0\n") + QStringLiteral("0 5203 31036\n").repeated(6) +
                  QStringLiteral("167\n").repeated(6) + QStringLiteral("0 8000 0\n"));
    const QString target = QStringLiteral("127.0.0.1:%1").arg(freePort());
    const quint16 port = freePort();
    const QString config =
        write(QStringLiteral("prometheus.yml"),
              QStringLiteral("global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                             "scrape_configs:\n  - job_name: kelvano\n"
                             "    static_configs: [{targets: ['%1']}]\n")
                  .arg(target));

    // Stored settings: only an alarm above 40 °F on sensor 1, so both sensors convert with
    // their initial coefficients and no offset; the first entry is above it, the last below.
    QDir(dir.path()).mkpath(QStringLiteral("config/Corvanta"));
    write(QStringLiteral("config/Corvanta/Kelvano.conf"),
          QStringLiteral("[Settings]\nAlarm1HighOn=True\nAlarm1High=40\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("HOME"), dir.path());
    Running kelvano, prometheus, second;
    kelvano.process.setProcessEnvironment(env);
    kelvano.process.setProcessChannelMode(QProcess::ForwardedChannels);
    kelvano.kelvano({QStringLiteral("--replay"), replay, QStringLiteral("--log"),
                     dir.filePath(QStringLiteral("log.csv")), QStringLiteral("--metrics"), target});
    prometheus.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prometheus.process.start(
        QStringLiteral("prometheus"),
        {QStringLiteral("--config.file=") + config,
         QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
         QStringLiteral("--log.level=warn")});
    const auto waitFor = [&](const QString& promql, double least) {
        for (; !deadline.hasExpired(); QThread::msleep(250))
            if (const auto s = query(port, promql);
                s && s->size() == 1 && s->begin()->second.begin()->second >= least)
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor(QStringLiteral("up"), 1)) << "Prometheus never reached the program";

    // A second program on the same address stops before it starts, with the reason.
    second.process.setProcessEnvironment(env);
    second.kelvano({QStringLiteral("--demo"), QStringLiteral("--metrics"), target});
    ASSERT_TRUE(second.process.waitForFinished(20000));
    EXPECT_EQ(second.process.exitCode(), 2);
    EXPECT_TRUE(second.process.readAllStandardError().contains(
        QStringLiteral("kelvano: cannot serve metrics on %1: the port is in use by another program")
            .arg(target)
            .toUtf8()));

    // Past the unplugged stretch and a few reads into the last entry: only sensor 1 now.
    ASSERT_TRUE(waitFor(QStringLiteral("kelvano_reads_total"), 16))
        << "too slow to reach the last entry";
    const double a1 = *steinhartHartCelsius(5203, initialCoefficients(1));
    const double a2 = *steinhartHartCelsius(31036, initialCoefficients(2));
    const double b1 = *steinhartHartCelsius(8000, initialCoefficients(1));
    const auto now = query(port, QStringLiteral("kelvano_temperature_celsius"));
    ASSERT_TRUE(now && now->size() == 1 && now->count(QStringLiteral("1")));
    EXPECT_EQ(now->at(QStringLiteral("1")).begin()->second, b1);

    // Everything stored: each temperature the conversion of a raw value replayed while it was
    // read, none scraped while the port was unplugged.
    const auto up = query(port, QStringLiteral("kelvano_port_up[5m]"));
    const auto temperatures = query(port, QStringLiteral("kelvano_temperature_celsius[5m]"));
    ASSERT_TRUE(up && temperatures && up->size() == 1);
    std::set<double> down, upValues;
    for (const auto& [time, value] : up->begin()->second) {
        upValues.insert(value);
        if (value == 0)
            down.insert(time);
    }
    EXPECT_EQ(upValues, (std::set<double>{0, 1})) << "the unplugged stretch was not scraped";
    std::map<QString, std::set<double>> seen;
    for (const auto& [sensor, values] : *temperatures)
        for (const auto& [time, value] : values) {
            EXPECT_EQ(down.count(time), 0u) << "sensor " << sensor.toStdString() << " at " << time;
            seen[sensor].insert(value);
        }
    EXPECT_EQ(seen, (std::map<QString, std::set<double>>{{QStringLiteral("1"), {a1, b1}},
                                                         {QStringLiteral("2"), {a2}}}));

    // Sensor 1's alarm was on, and is off now.
    const auto alarm = query(port, QStringLiteral("kelvano_alarm_active{limit=\"high\"}[5m]"));
    ASSERT_TRUE(alarm && alarm->size() == 1);
    std::set<double> alarmValues;
    for (const auto& [time, value] : alarm->at(QStringLiteral("1")))
        alarmValues.insert(value);
    EXPECT_EQ(alarmValues, (std::set<double>{0, 1}));
    EXPECT_EQ(alarm->at(QStringLiteral("1")).rbegin()->second, 0);
}
