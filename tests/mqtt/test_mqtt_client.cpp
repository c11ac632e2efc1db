// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "test_mqtt", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives to the end
}

// Runs the event loop until done() holds, for at most 20 s.
bool waitFor(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

// A mosquitto broker on a free loopback port, with its own configuration file; with a user
// "kelvano" of password "right", or with TLS, when asked.
struct Broker {
    enum Kind { Open, Password, Tls };
    explicit Broker(Kind kind = Open) : kind(kind), port(freePort()) {
        QString conf =
            QStringLiteral("listener %1 127.0.0.1\npersistence false\nlog_type error\n").arg(port);
        if (geteuid() == 0)
            conf += "user root\n"; // else it could not read the files in the test's folder
        if (kind == Password) {
            EXPECT_TRUE(run(MOSQUITTO_PASSWD, {"-b", "-c", path("passwords"), "kelvano", "right"}));
            conf += "allow_anonymous false\npassword_file " + path("passwords") + "\n";
        } else {
            conf += "allow_anonymous true\n";
        }
        if (kind == Tls) {
            // A certificate authority of the test's own, and the broker's certificate for
            // 127.0.0.1.
            QFile ext(path("ext"));
            EXPECT_TRUE(ext.open(QIODevice::WriteOnly));
            ext.write("subjectAltName=IP:127.0.0.1\n");
            ext.close();
            const QStringList key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                     "-nodes"};
            EXPECT_TRUE(
                run(OPENSSL, QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Test CA",
                                         "-keyout", path("ca.key"), "-out", path("ca.crt")} +
                                 key));
            EXPECT_TRUE(run(OPENSSL, QStringList{"req", "-subj", "/CN=127.0.0.1", "-keyout",
                                                 path("server.key"), "-out", path("server.csr")} +
                                         key));
            EXPECT_TRUE(
                run(OPENSSL, {"x509", "-req", "-days", "2", "-in", path("server.csr"), "-CA",
                              path("ca.crt"), "-CAkey", path("ca.key"), "-CAcreateserial",
                              "-extfile", path("ext"), "-out", path("server.crt")}));
            conf += "cafile " + path("ca.crt") + "\ncertfile " + path("server.crt") + "\nkeyfile " +
                    path("server.key") + "\n";
        }
        QFile file(path("mosquitto.conf"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(conf.toUtf8());
        file.close();
        start();
    }
    ~Broker() { stop(); }
    QString path(const QString& name) const { return dir.filePath(name); }
    void start() {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(MOSQUITTO, {"-c", path("mosquitto.conf")});
        EXPECT_TRUE(waitFor([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(1000);
        })) << "the broker does not listen";
    }
    void stop() {
        process.terminate();
        process.waitForFinished(10000);
    }
    // The options of a client of this broker.
    MqttOptions options(const QString& id) const {
        MqttOptions o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = port;
        o.id = id;
        o.intervalSeconds = 1;
        o.tls = kind == Tls;
        if (o.tls)
            o.caFile = path("ca.crt");
        return o;
    }
    // mosquitto_pub or _sub with the address and login of this broker.
    QStringList client(const QStringList& arguments) const {
        QStringList all = {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1"};
        if (kind == Password)
            all += QStringList{"-u", "kelvano", "-P", "right"};
        if (kind == Tls)
            all += QStringList{"--cafile", path("ca.crt")};
        return all + arguments;
    }

    QTemporaryDir dir;
    Kind kind;
    quint16 port;
    QProcess process;
};

// mosquitto_sub on everything this program and Home Assistant publish: "topic payload" lines.
struct Subscriber {
    explicit Subscriber(const Broker& broker) {
        process.start(MOSQUITTO_SUB,
                      broker.client({"-v", "-t", "kelvano/#", "-t", "homeassistant/#"}));
        // Subscribed once a message published after the start comes through.
        EXPECT_TRUE(::waitFor([&] {
            run(MOSQUITTO_PUB, broker.client({"-t", "kelvano/probe", "-m", "ready"}));
            return !on("kelvano/probe").isEmpty();
        }));
    }
    ~Subscriber() {
        process.kill();
        process.waitForFinished();
    }
    QString read() {
        text += QString::fromUtf8(process.readAllStandardOutput());
        return text;
    }
    // The messages on a topic (under a prefix when it ends in /), oldest first.
    QStringList on(const QString& topic) {
        QStringList payloads;
        for (const QString& line : read().split('\n'))
            if (line.startsWith(topic.endsWith('/') ? topic : topic + ' '))
                payloads += line.mid(line.indexOf(' ') + 1);
        return payloads;
    }
    // The discovery configs received.
    qsizetype configs() {
        return read().count(
            QRegularExpression("^homeassistant/\\S+/config ", QRegularExpression::MultilineOption));
    }
    bool waitFor(const QString& topic, const QString& payload, int count = 1) {
        return ::waitFor([&] { return on(topic).count(payload) >= count; });
    }

    QProcess process;
    QString text;
};

// A client with short pauses whose status lines are kept.
struct Client {
    explicit Client(const MqttOptions& options, int answerMs = 5000)
        : client(std::make_unique<MqttClient>(options, QStringLiteral("1.0.0"))) {
        client->setOutput([this](const QString& line) { lines += line; });
        client->setTimings(50, 400, answerMs);
        client->start();
    }
    bool said(const QString& part) {
        return waitFor([&] { return lines.join('\n').contains(part); });
    }

    QStringList lines;
    std::unique_ptr<MqttClient> client;
};

MqttSnapshot snapshot(qint64 seconds, std::optional<double> celsius1) {
    MqttSnapshot s;
    s.time = QDateTime::fromSecsSinceEpoch(seconds, Qt::OffsetFromUTC, 3600);
    s.port = QStringLiteral("sensors connected");
    if (celsius1)
        s.sensors[0] = MqttSnapshot::Sensor{*celsius1, 4000, QStringLiteral("Fridge")};
    return s;
}

} // namespace

// Connected: "online", the four discovery configs, the state and the alarm states reach a
// subscriber; Home Assistant's birth message brings the configs again; a client that dies
// leaves "offline" behind through its last will.
TEST(MqttClient, PublishesAndLeavesItsWill) {
    ensureApplication();
    Broker broker;
    Subscriber sub(broker);
    Client c(broker.options("t1"));
    ASSERT_TRUE(sub.waitFor("kelvano/t1/status", "online"));
    EXPECT_TRUE(c.client->connected());
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d([+-]\d\d:\d\d|Z) MQTT: )"
                                   R"(connected to mqtt://127.0.0.1:\d+ as kelvano/t1/$)")
                    .match(c.lines.value(0))
                    .hasMatch())
        << c.lines.join('\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return sub.configs() == 4; }));
    const QJsonObject config =
        QJsonDocument::fromJson(
            sub.on("homeassistant/sensor/kelvano_t1/sensor1/config").value(0).toUtf8())
            .object();
    EXPECT_EQ(config.value("unique_id"), QJsonValue("kelvano_t1_sensor1"));
    EXPECT_EQ(sub.on("homeassistant/binary_sensor/kelvano_t1/alarm2/config").size(), 1);

    c.client->publishState(snapshot(1000, 21.5));
    c.client->publishState(snapshot(1000, 30)); // within the interval: not published
    c.client->publishState(snapshot(1001, std::nullopt));
    ASSERT_TRUE(waitFor([&] { return sub.on("kelvano/t1/state").size() == 2; }));
    const QJsonObject state =
        QJsonDocument::fromJson(sub.on("kelvano/t1/state")[0].toUtf8()).object();
    EXPECT_EQ(state.value("sensor1").toObject().value("celsius").toDouble(), 21.5);
    EXPECT_TRUE(state.value("sensor2").isNull());
    EXPECT_EQ(
        sub.on("kelvano/t1/state")[1],
        R"({"port":"sensors connected","sensor1":null,"sensor2":null,"time":"1970-01-01T01:16:41+01:00"})");
    c.client->publishAlarms({"high", "off"});
    EXPECT_TRUE(sub.waitFor("kelvano/t1/alarm", R"({"sensor1":"high","sensor2":"off"})"));

    // Everything is retained: a subscriber that comes later gets the latest of each topic. (It
    // is started while the connection is open, and must not hold it open.)
    Subscriber late(broker);
    EXPECT_TRUE(late.waitFor("kelvano/t1/alarm", R"({"sensor1":"high","sensor2":"off"})"));
    EXPECT_EQ(late.on("kelvano/t1/state"), sub.on("kelvano/t1/state").mid(1));
    EXPECT_EQ(late.on("kelvano/t1/status"), QStringList{"online"});
    EXPECT_EQ(late.configs(), 4);

    EXPECT_TRUE(run(MOSQUITTO_PUB, broker.client({"-t", "homeassistant/status", "-m", "online"})));
    EXPECT_TRUE(waitFor([&] { return sub.configs() == 8; }));

    c.client.reset();
    EXPECT_TRUE(sub.waitFor("kelvano/t1/status", "offline")); // though "late" outlives the client
}

// The broker goes away and comes back: the client says so, connects again, says "online" and
// publishes its configs and the latest state again; a clean stop leaves "offline".
TEST(MqttClient, ReconnectsAndStops) {
    ensureApplication();
    Broker broker;
    Client c(broker.options("t2"));
    ASSERT_TRUE(c.said("connected to"));
    broker.stop();
    EXPECT_TRUE(c.said(QStringLiteral("disconnected from mqtt://127.0.0.1:%1: ").arg(broker.port)));
    EXPECT_FALSE(c.client->connected());
    c.client->publishState(snapshot(1000, 19.25)); // kept, not queued
    c.client->publishState(snapshot(1000, 20.25));
    broker.start();
    Subscriber sub(broker);
    EXPECT_TRUE(sub.waitFor("kelvano/t2/status", "online"));
    EXPECT_TRUE(waitFor([&] { return sub.configs() == 4; }));
    ASSERT_EQ(sub.on("kelvano/t2/state").size(), 1);
    EXPECT_TRUE(sub.on("kelvano/t2/state")[0].contains(R"("celsius":20.25)"));
    EXPECT_EQ(c.lines.filter("connected to").size(), 2) << c.lines.join('\n').toStdString();
    c.client->stop();
    EXPECT_TRUE(sub.waitFor("kelvano/t2/status", "offline"));
    EXPECT_FALSE(c.client->connected());
    EXPECT_TRUE(c.lines.last().endsWith(": stopped"));
}

// A broker with a password file: the right password connects, a wrong one is refused with the
// broker's reason.
TEST(MqttClient, Login) {
    ensureApplication();
    Broker broker(Broker::Password);
    const std::pair<const char*, const char*> cases[] = {
        {"right", "connected to"},
        {"wrong", "refused the connection: not authorised"},
    };
    for (const auto& [password, line] : cases) {
        MqttOptions options = broker.options("t3");
        options.user = QStringLiteral("kelvano");
        options.password = QString::fromUtf8(password);
        Client c(options);
        EXPECT_TRUE(c.said(line)) << c.lines.join('\n').toStdString();
        EXPECT_EQ(c.client->connected(), QByteArray(password) == "right");
    }
}

// TLS with the test's own certificate authority: reached with its certificate, refused without.
TEST(MqttClient, Tls) {
    ensureApplication();
    Broker broker(Broker::Tls);
    Subscriber sub(broker);
    Client c(broker.options("t4"));
    EXPECT_TRUE(sub.waitFor("kelvano/t4/status", "online"));
    EXPECT_TRUE(c.said(QStringLiteral("connected to mqtts://127.0.0.1:%1").arg(broker.port)));
    MqttOptions system = broker.options("t5");
    system.caFile.clear();
    Client d(system);
    EXPECT_TRUE(d.said(QStringLiteral("cannot reach mqtts://127.0.0.1:%1: ").arg(broker.port)));
    EXPECT_FALSE(d.client->connected());
}

// A broker that accepts the connection and never answers: the event loop runs on while the
// client waits for it, and the client gives up and tries again.
TEST(MqttClient, SilentBrokerBlocksNothing) {
    ensureApplication();
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    MqttOptions options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = silent.serverPort();
    options.id = QStringLiteral("t6");
    int ticks = 0, ticksBeforeGivingUp = -1;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    Client c(options, 2000);
    c.client->setOutput([&](const QString& line) {
        c.lines += line;
        if (ticksBeforeGivingUp < 0)
            ticksBeforeGivingUp = ticks;
    });
    EXPECT_TRUE(
        c.said(QStringLiteral("mqtt://127.0.0.1:%1 did not answer within 2 s").arg(options.port)));
    EXPECT_GE(ticksBeforeGivingUp, 5);
    EXPECT_FALSE(c.client->connected());
}

// Nobody listens: the pause before each new attempt doubles up to the longest, and the
// failure is said once.
TEST(MqttClient, PausesDouble) {
    ensureApplication();
    MqttOptions options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = freePort();
    options.id = QStringLiteral("t7");
    MqttClient client(options, QStringLiteral("1.0.0"));
    client.setTimings(10, 80, 5000);
    QStringList lines;
    client.setOutput([&](const QString& line) { lines += line; });
    std::vector<int> pauses;
    QObject::connect(&client, &MqttClient::waiting, [&](int ms) { pauses.push_back(ms); });
    client.start();
    ASSERT_TRUE(waitFor([&] { return pauses.size() >= 6; }));
    EXPECT_EQ(std::vector<int>(pauses.begin(), pauses.begin() + 6),
              (std::vector<int>{10, 20, 40, 80, 80, 80}));
    EXPECT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.value(0).endsWith(
        QStringLiteral("cannot reach mqtt://127.0.0.1:%1: connection refused").arg(options.port)));
}
