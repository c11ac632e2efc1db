// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/metrics_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// Sends request bytes on a new connection and reads one answer: its head and Content-Length
// bytes of body (none after HEAD). Nothing when the server closes the connection unanswered.
std::optional<QByteArray> exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket.waitForConnected(10000));
    socket.write(request);
    QByteArray data;
    const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
    for (;;) {
        const qsizetype head = data.indexOf("\r\n\r\n") + 4;
        const int body = request.startsWith("HEAD")
                             ? 0
                             : length.match(QString::fromUtf8(data.left(head))).captured(1).toInt();
        if (head >= 4 && data.size() == head + body)
            return data;
        if (!socket.waitForReadyRead(10000)) {
            EXPECT_NE(socket.state(), QAbstractSocket::ConnectedState) << "no answer in 10 s";
            return std::nullopt;
        }
        data += socket.readAll();
    }
}

// Serves on a free loopback port (its thread needs an application object; our sockets block).
struct Served {
    explicit Served(ConnectionLimits limits = {}) : server(limits) {
        static int argc = 1;
        static char name[] = "test_metrics", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv); // lives to the end
        QString error;
        EXPECT_TRUE(server.start({QHostAddress(QHostAddress::LocalHost), 0}, &error))
            << error.toStdString();
    }
    MetricsServer server;
};

} // namespace

// --metrics values: where each listens; a malformed one refused with a message that repeats it.
TEST(MetricsServer, ListenAddressParsing) {
    const std::pair<const char*, const char*> good[] = {
        {"9843", "127.0.0.1 9843"},     {"0.0.0.0:80", "0.0.0.0 80"},
        {"[::]:65535", ":: 65535"},     {"[::1]", "::1 9843"},
        {"localhost:1", "127.0.0.1 1"}, {"192.168.1.20", "192.168.1.20 9843"},
    };
    for (const auto& [text, expected] : good) {
        QString error;
        const auto a = parseListenAddress(QString::fromLatin1(text), &error);
        ASSERT_TRUE(a) << text << ": " << error.toStdString();
        EXPECT_EQ(a->address.toString() + QLatin1Char(' ') + QString::number(a->port),
                  QLatin1String(expected));
    }
    for (const char* text :
         {"0", "65536", "", "abc:12", "1.2.3.4:", ":9843", "::1:9843", "[::1", "[::1]x",
          "[127.0.0.1]:80", "1.2.3.4:+80", "10.1:80", "fe80::1%eth0"}) {
        QString error;
        EXPECT_FALSE(parseListenAddress(QString::fromLatin1(text), &error)) << "[" << text << "]";
        EXPECT_TRUE(error.startsWith(QStringLiteral("kelvano: --metrics %1: ").arg(text)))
            << error.toStdString();
    }
}

// What each request gets: the page for Prometheus, the index page, 404 and 405.
TEST(MetricsServer, Answers) {
    Served s;
    MetricsState state;
    state.version = QStringLiteral("9.9");
    s.server.publish(state);
    const QByteArray page = expositionText(state);
    const QByteArray metrics = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; "
                               "charset=utf-8\r\nContent-Length: " +
                               QByteArray::number(page.size()) + "\r\n\r\n";
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", metrics + page},
        {"GET /metrics?debug=1 HTTP/1.0\r\n\r\n", metrics + page},
        {"HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n", metrics},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Type: text/html"},
        {"GET /metrics/ HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab",
         "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n"},
        {"DELETE /x HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
    };
    for (const auto& [request, answer] : cases)
        EXPECT_TRUE(exchange(s.server.port(), request).value_or("").startsWith(answer))
            << request.data();
    EXPECT_TRUE(exchange(s.server.port(), "GET / HTTP/1.1\r\n\r\n")->contains("href=\"/metrics\""));

    // A client that asks to close gets its answer, then the end of the connection.
    QTcpSocket closing;
    closing.connectToHost(QHostAddress::LocalHost, s.server.port());
    closing.write("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(closing.waitForDisconnected(5000));
    EXPECT_TRUE(closing.readAll().startsWith("HTTP/1.1 200 OK\r\n"));
}

// A port in use and an address that is not this computer's: refused with the reason.
TEST(MetricsServer, CannotBind) {
    Served first;
    const quint16 port = first.server.port();
    const std::pair<ListenAddress, QString> cases[] = {
        {{QHostAddress(QHostAddress::LocalHost), port},
         QStringLiteral("127.0.0.1:%1: the port is in use by another program").arg(port)},
        {{QHostAddress(QStringLiteral("192.0.2.1")), 9843},
         QStringLiteral("192.0.2.1:9843: 192.0.2.1 is not an address of this computer")},
    };
    for (const auto& [where, message] : cases) {
        MetricsServer second;
        QString error;
        EXPECT_FALSE(second.start(where, &error));
        EXPECT_EQ(error, QStringLiteral("kelvano: cannot serve metrics on ") + message);
    }
}

// A huge head, a request never finished and bytes that are no HTTP: cut off, and the
// server goes on answering.
TEST(MetricsServer, UnfinishedRequestsCutOff) {
    Served s({64, 1024, 300});
    for (const QByteArray& request :
         {QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n"),
          "GET /metrics HTTP/1.1\r\nX-Big: " + QByteArray(200000, 'a') + "\r\n\r\n",
          QByteArray("\x16\x03\x01 not http at all\r\n\r\n")})
        EXPECT_FALSE(exchange(s.server.port(), request)) << request.left(40).data();
    EXPECT_TRUE(exchange(s.server.port(), "GET / HTTP/1.1\r\n\r\n"));
}

// Connections beyond the limit are closed at once; once one of the others has gone,
// requests are answered again.
TEST(MetricsServer, ConnectionLimit) {
    Served s({3, 1024, 60000});
    QTcpSocket idle[3];
    for (QTcpSocket& socket : idle) {
        socket.connectToHost(QHostAddress::LocalHost, s.server.port());
        ASSERT_TRUE(socket.waitForConnected(10000));
    }
    EXPECT_FALSE(exchange(s.server.port(), "GET / HTTP/1.1\r\n\r\n"));
    idle[0].close();
    std::optional<QByteArray> answer;
    for (QDeadlineTimer until(10000); !answer && !until.hasExpired();)
        answer = exchange(s.server.port(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(answer);
}
