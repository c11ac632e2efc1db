// SPDX-License-Identifier: GPL-3.0-or-later
// A real Prometheus server scrapes the program every second while it replays a
// file that reads both sensors, unplugs the port, then unplugs sensor 2; what
// Prometheus stored is checked against the conversion of the replayed raw
// values. Everything runs on loopback and ends by itself within a minute.
#include "sensor/conversion.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
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

#include <csignal>
#include <map>
#include <set>
#include <unistd.h>

namespace {

const QDeadlineTimer deadline(50000); // the whole test, from its start

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One sample of a series: its labels (without job and instance) and its values by time.
using Labels = std::map<QString, QString>;
using Series = std::map<Labels, std::map<double, double>>;

class Prometheus {
  public:
    explicit Prometheus(quint16 port) : port_(port) {}

    // The result of an instant query, series by labels; nothing when Prometheus does not answer.
    std::optional<Series> query(const QString& promql) {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port_));
        QUrlQuery q;
        q.addQueryItem(QStringLiteral("query"), promql);
        url.setQuery(q);
        QNetworkReply* reply = network_.get(QNetworkRequest(url));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
            return std::nullopt;
        const QJsonObject data =
            QJsonDocument::fromJson(reply->readAll()).object()[QLatin1String("data")].toObject();
        Series series;
        for (const QJsonValue& s : data[QLatin1String("result")].toArray()) {
            Labels labels;
            const QJsonObject metric = s[QLatin1String("metric")].toObject();
            for (auto it = metric.begin(); it != metric.end(); ++it)
                if (it.key() != QLatin1String("job") && it.key() != QLatin1String("instance"))
                    labels[it.key()] = it.value().toString();
            auto& values = series[labels];
            QJsonArray points = s[QLatin1String("values")].toArray();
            if (points.isEmpty())
                points.append(s[QLatin1String("value")]);
            for (const QJsonValue& p : points)
                values[p[0].toDouble()] = p[1].toString().toDouble();
        }
        return series;
    }

    // Waits until the query's single value satisfies ok.
    bool waitFor(const QString& promql, const std::function<bool(double)>& ok) {
        while (!deadline.hasExpired()) {
            const auto s = query(promql);
            if (s && s->size() == 1 && !s->begin()->second.empty() &&
                ok(s->begin()->second.rbegin()->second))
                return true;
            QThread::msleep(250);
        }
        return false;
    }

  private:
    quint16 port_;
    QNetworkAccessManager network_;
};

// Runs a program in a process group of its own; the group is killed when the test ends.
struct Running {
    Running() {
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
    }
    ~Running() {
        if (process.processId() > 0)
            ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }
    QProcess process;
};

// The program as the test runs it: without a window where it can, else in the window on a
// virtual display.
void startKelvano(QProcess& process, const QStringList& options, const QProcessEnvironment& env) {
    process.setProcessEnvironment(env);
    QProcess help;
    help.start(QStringLiteral(KELVANO_BINARY), {QStringLiteral("--help")});
    help.waitForFinished(10000);
    if (help.readAllStandardOutput().contains("--headless"))
        process.start(QStringLiteral(KELVANO_BINARY),
                      QStringList{QStringLiteral("--headless")} + options);
    else
        process.start(QStringLiteral("xvfb-run"),
                      QStringList{QStringLiteral("-a"), QStringLiteral(KELVANO_BINARY)} + options);
}

} // namespace

TEST(Prometheus, ScrapesReplayedReadings) {
    int argc = 1;
    char name[] = "test_prometheus";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    // Six reads of both sensors, six with the port unplugged, then sensor 2 unplugged.
    const uint32_t rawA1 = 5203, rawA2 = 31036, rawB1 = 8000;
    QString script = QStringLiteral("probe 0\n");
    for (int i = 0; i < 6; ++i)
        script += QStringLiteral("0 %1 %2\n").arg(rawA1).arg(rawA2);
    script += QStringLiteral("167\n").repeated(6);
    script += QStringLiteral("0 %1 0\n").arg(rawB1);
    QFile replay(dir.filePath(QStringLiteral("replay.txt")));
    ASSERT_TRUE(replay.open(QIODevice::WriteOnly));
    replay.write(script.toUtf8());
    replay.close();

    const quint16 kelvanoPort = freePort();
    const quint16 prometheusPort = freePort();
    const QString target = QStringLiteral("127.0.0.1:%1").arg(kelvanoPort);
    QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                "scrape_configs:\n  - job_name: kelvano\n    static_configs:\n"
                                "      - targets: ['%1']\n")
                     .arg(target)
                     .toUtf8());
    config.close();

    // The stored settings: none, so both sensors use their initial coefficients, no offset.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    Running kelvano;
    kelvano.process.setProcessChannelMode(QProcess::ForwardedChannels);
    startKelvano(
        kelvano.process,
        {QStringLiteral("--replay"), replay.fileName(), QStringLiteral("--metrics"), target}, env);
    Running prometheus;
    prometheus.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prometheus.process.start(
        QStringLiteral("prometheus"),
        {QStringLiteral("--config.file=") + config.fileName(),
         QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort),
         QStringLiteral("--log.level=warn")});
    ASSERT_TRUE(prometheus.process.waitForStarted(10000));

    Prometheus p(prometheusPort);
    ASSERT_TRUE(p.waitFor(QStringLiteral("up{job=\"kelvano\"}"), [](double v) { return v == 1; }))
        << "Prometheus never reached the program";

    // A second program on the same address stops before it starts, with the reason.
    Running second;
    startKelvano(second.process, {QStringLiteral("--demo"), QStringLiteral("--metrics"), target},
                 env);
    ASSERT_TRUE(second.process.waitForFinished(20000));
    EXPECT_EQ(second.process.exitCode(), 2);
    EXPECT_TRUE(second.process.readAllStandardError().contains(
        QStringLiteral("kelvano: cannot serve metrics on %1: the port is in use by another program")
            .arg(target)
            .toUtf8()));

    // Past the unplugged stretch and a few reads into the last entry.
    ASSERT_TRUE(p.waitFor(QStringLiteral("kelvano_reads_total"), [](double v) { return v >= 16; }))
        << "the reads did not reach the last entry in time";

    const double a1 = *steinhartHartCelsius(rawA1, initialCoefficients(1));
    const double a2 = *steinhartHartCelsius(rawA2, initialCoefficients(2));
    const double b1 = *steinhartHartCelsius(rawB1, initialCoefficients(1));
    const auto now = p.query(QStringLiteral("kelvano_temperature_celsius"));
    ASSERT_TRUE(now);
    ASSERT_EQ(now->size(), 1u) << "sensor 2 is unplugged: only sensor 1 has a temperature";
    EXPECT_EQ(now->begin()->first.at(QStringLiteral("sensor")), QStringLiteral("1"));
    EXPECT_DOUBLE_EQ(now->begin()->second.begin()->second, b1);

    // Everything stored: each temperature is the conversion of a raw value replayed while it
    // was read, and none was scraped while the port was unplugged.
    const auto up = p.query(QStringLiteral("kelvano_port_up[5m]"));
    const auto temperatures = p.query(QStringLiteral("kelvano_temperature_celsius[5m]"));
    ASSERT_TRUE(up && temperatures);
    std::set<double> down;
    std::set<double> upValues;
    for (const auto& [time, value] : up->begin()->second) {
        upValues.insert(value);
        if (value == 0)
            down.insert(time);
    }
    EXPECT_EQ(upValues, (std::set<double>{0, 1})) << "the unplugged stretch was not scraped";
    std::map<QString, std::set<double>> seen;
    for (const auto& [labels, values] : *temperatures) {
        const QString sensor = labels.at(QStringLiteral("sensor"));
        for (const auto& [time, value] : values) {
            EXPECT_EQ(down.count(time), 0u) << "sensor " << sensor.toStdString() << " at " << time;
            seen[sensor].insert(value);
        }
    }
    EXPECT_EQ(seen[QStringLiteral("1")], (std::set<double>{a1, b1}));
    EXPECT_EQ(seen[QStringLiteral("2")], (std::set<double>{a2}));
}
