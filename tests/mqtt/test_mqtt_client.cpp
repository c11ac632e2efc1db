// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_client.h"

#include <QTcpServer>
#include <QtCore>
#include <gtest/gtest.h>

// Nobody listens: the pause before each new attempt doubles up to the longest, and the failure
// is said once. (Everything else the client does is tested on real brokers by broker.sh.)
TEST(MqttClient, PausesDouble) {
    static int argc = 1;
    static char name[] = "test_mqtt", *argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    MqttOptions options;
    options.host = QStringLiteral("127.0.0.1");
    {
        QTcpServer server; // a port nobody listens on once it is closed
        server.listen(QHostAddress::LocalHost);
        options.port = server.serverPort();
    }
    options.id = QStringLiteral("t7");
    MqttClient client(options, QStringLiteral("1.0.0"));
    client.setTimings(10, 80, 5000);
    QStringList lines;
    client.setOutput([&](const QString& line) { lines += line; });
    std::vector<int> pauses;
    QObject::connect(&client, &MqttClient::waiting, [&](int ms) { pauses.push_back(ms); });
    client.start();
    const QDeadlineTimer deadline(20000);
    while (pauses.size() < 6 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_GE(pauses.size(), 6u);
    EXPECT_EQ(std::vector<int>(pauses.begin(), pauses.begin() + 6),
              (std::vector<int>{10, 20, 40, 80, 80, 80}));
    EXPECT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.value(0).endsWith(
        QStringLiteral("cannot reach mqtt://127.0.0.1:%1: connection refused").arg(options.port)));
}
