// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/metrics_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// The server's thread needs an application object; the test's own sockets block.
void needApplication() {
    static int argc = 1;
    static char name[] = "test_metrics";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

struct Response {
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    bool closed = false; // the server closed the connection without answering
};

// Sends raw request bytes on a new connection and reads one answer: the head,
// then Content-Length bytes of body (none after HEAD).
Response exchange(quint16 port, const QByteArray& request, bool head = false) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket.waitForConnected(10000));
    socket.write(request);
    socket.waitForBytesWritten(10000);
    QByteArray data;
    Response r;
    qsizetype headEnd = -1;
    qsizetype length = -1;
    while (headEnd < 0 || data.size() < headEnd + 4 + length) {
        if (!socket.waitForReadyRead(10000)) {
            // Closed by the server, not merely slow.
            r.closed = data.isEmpty() && socket.state() != QAbstractSocket::ConnectedState;
            return r;
        }
        data += socket.readAll();
        if (headEnd < 0 && (headEnd = data.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = data.left(headEnd).split('\n');
            r.statusLine = lines[0].trimmed();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                r.headers[lines[i].left(colon).trimmed().toLower()] =
                    lines[i].mid(colon + 1).trimmed();
            }
            length = head ? 0 : r.headers.value("content-length").toLongLong();
        }
    }
    r.body = data.mid(headEnd + 4);
    return r;
}

// Serves on a free loopback port.
struct Served {
    explicit Served(ConnectionLimits limits = {}) : server(limits) {
        needApplication();
        QString error;
        EXPECT_TRUE(server.start({QHostAddress(QHostAddress::LocalHost), 0}, &error))
            << error.toStdString();
    }
    MetricsServer server;
};

} // namespace

// --metrics values: what is accepted and where it listens; each malformed one is refused
// with a message that repeats it.
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
    const char* bad[] = {
        "0",           "65536",        "",        "99999999999", "abc:12",         "1.2.3.4:",
        ":9843",       "::1:9843",     "[::1",    "[::1]x",      "[127.0.0.1]:80", "127.0.0.1:+80",
        "1.2.3.4:8 0", "localhost:-1", "10.1:80", "fe80::1%eth0"};
    for (const char* text : bad) {
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
    const Response metrics = exchange(s.server.port(), "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(metrics.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(metrics.headers.value("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(metrics.body, expositionText(state));

    struct Case {
        QByteArray request;
        QByteArray status, contentType, bodyPart;
    };
    const Case cases[] = {
        {"GET /metrics?debug=1 HTTP/1.0\r\n\r\n", "200", "text/plain; version=0.0.4",
         "kelvano_build_info{version=\"9.9\"} 1\n"},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "200", "text/html", "<a href=\"/metrics\">"},
        {"GET /metrics/ HTTP/1.1\r\nHost: x\r\n\r\n", "404", "text/plain", "/metrics"},
        {"GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n", "404", "text/plain", "/metrics"},
        {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab", "405", "text/plain",
         "GET and HEAD"},
        {"DELETE /nothing HTTP/1.1\r\nHost: x\r\n\r\n", "405", "text/plain", "GET and HEAD"},
    };
    for (const Case& c : cases) {
        const Response r = exchange(s.server.port(), c.request);
        EXPECT_TRUE(r.statusLine.startsWith("HTTP/1.1 " + c.status)) << c.request.data();
        EXPECT_TRUE(r.headers.value("content-type").startsWith(c.contentType)) << c.request.data();
        EXPECT_TRUE(r.body.contains(c.bodyPart)) << c.request.data();
        if (c.status == "405") {
            EXPECT_EQ(r.headers.value("allow"), "GET, HEAD");
        }
    }

    // HEAD: the head that GET would get, without the body.
    const Response head =
        exchange(s.server.port(), "HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n", true);
    EXPECT_EQ(head.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head.headers.value("content-length").toInt(), metrics.body.size());
    EXPECT_TRUE(head.body.isEmpty());

    // A client that asks to close gets its answer, then the end of the connection (the
    // others stay open for ten seconds).
    QTcpSocket closing;
    closing.connectToHost(QHostAddress::LocalHost, s.server.port());
    closing.write("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(closing.waitForDisconnected(5000));
    EXPECT_TRUE(closing.readAll().startsWith("HTTP/1.1 200 OK\r\n"));
}

// A port in use and an address that is not this computer's: refused with the reason.
TEST(MetricsServer, CannotBind) {
    Served first;
    const std::pair<ListenAddress, QString> cases[] = {
        {{QHostAddress(QHostAddress::LocalHost), first.server.port()},
         QStringLiteral("kelvano: cannot serve metrics on 127.0.0.1:%1: the port is in use by "
                        "another program")
             .arg(first.server.port())},
        {{QHostAddress(QStringLiteral("192.0.2.1")), 9843},
         QStringLiteral("kelvano: cannot serve metrics on 192.0.2.1:9843: 192.0.2.1 is not an "
                        "address of this computer")},
    };
    for (const auto& [where, message] : cases) {
        MetricsServer second;
        QString error;
        EXPECT_FALSE(second.start(where, &error));
        EXPECT_EQ(error, message);
    }
}

// Clients that send a huge head, never finish a request or send no HTTP at all are
// cut off, and the server goes on answering others.
TEST(MetricsServer, UnfinishedRequestsCutOff) {
    Served s({64, 1024, 300});
    const quint16 port = s.server.port();
    EXPECT_TRUE(exchange(port, "GET /metrics HTTP/1.1\r\nHost: x\r\n").closed);
    EXPECT_TRUE(
        exchange(port, "GET /metrics HTTP/1.1\r\nX-Big: " + QByteArray(200000, 'a') + "\r\n\r\n")
            .closed);
    EXPECT_TRUE(exchange(port, "\x16\x03\x01 not http at all\r\n\r\n").closed);
    EXPECT_EQ(exchange(port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n").statusLine,
              "HTTP/1.1 200 OK");
}

// Connections beyond the limit are closed at once; once one of the others has gone,
// requests are answered again.
TEST(MetricsServer, ConnectionLimit) {
    Served s({3, 1024, 60000});
    const quint16 port = s.server.port();
    QTcpSocket idle[3];
    for (QTcpSocket& socket : idle) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(socket.waitForConnected(10000));
    }
    EXPECT_TRUE(exchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n").closed);
    idle[0].close();
    QElapsedTimer clock;
    clock.start();
    Response r;
    do
        r = exchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    while (r.closed && clock.elapsed() < 10000);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
}
