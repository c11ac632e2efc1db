// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/metrics_server.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <array>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Reads one answer from the socket: its head and Content-Length bytes of body (none when
// headOnly). Nothing when the server closes the connection unanswered.
std::optional<QByteArray> answer(QTcpSocket& socket, bool headOnly = false) {
    QByteArray data;
    const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
    for (;;) {
        const qsizetype head = data.indexOf("\r\n\r\n") + 4;
        const int body =
            headOnly ? 0 : length.match(QString::fromUtf8(data.left(head))).captured(1).toInt();
        if (head >= 4 && data.size() == head + body)
            return data;
        if (!socket.waitForReadyRead(10000)) {
            EXPECT_NE(socket.state(), QAbstractSocket::ConnectedState) << "no answer in 10 s";
            return std::nullopt;
        }
        data += socket.readAll();
    }
}

// Sends request bytes on a new connection and reads one answer.
std::optional<QByteArray> exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket.waitForConnected(10000));
    socket.write(request);
    return answer(socket, request.startsWith("HEAD"));
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

// Clients that hold every connection the server allows while another asks for the page. The
// new connection takes the place of the one idle longest; one in the middle of a request keeps
// its place, and when all are, the new one is closed at once. The others are answered after.
TEST(MetricsServer, ConnectionLimit) {
    const QByteArray whole = "GET / HTTP/1.1\r\n\r\n", part = "GET / HTTP/1.1\r\n";
    struct Case {
        const char* what;
        std::array<QByteArray, 3> sent; // by each connection in turn, its answer read
        bool answered;
        int displaced; // the connection closed to make room
    };
    const Case cases[] = {
        {"idle", {"", "", ""}, true, 0},
        {"the oldest answered", {whole, "", ""}, true, 0},
        {"the oldest mid-request", {whole + part, "", ""}, true, 1},
        {"all mid-request", {whole + part, whole + part, whole + part}, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Served s({3, 1024, 60000});
        QTcpSocket held[3];
        for (int i = 0; i < 3; ++i) {
            held[i].connectToHost(QHostAddress::LocalHost, s.server.port());
            ASSERT_TRUE(held[i].waitForConnected(10000));
            held[i].write(c.sent[i]);
            ASSERT_TRUE(c.sent[i].isEmpty() || answer(held[i]));
        }
        EXPECT_EQ(exchange(s.server.port(), whole).has_value(), c.answered);
        for (int i = 0; i < 3; ++i) {
            if (i == c.displaced) {
                EXPECT_TRUE(held[i].waitForDisconnected(10000));
                continue;
            }
            held[i].write(c.sent[i].endsWith(part) ? "\r\n" : whole);
            EXPECT_TRUE(answer(held[i]).value_or("").startsWith("HTTP/1.1 200 OK\r\n")) << i;
        }
    }
}

// A client that sends requests without reading the answers: once the answers waiting for it
// pass the limit, its requests are no longer read, until the client can send no more; when it
// reads, it gets every answer.
TEST(MetricsServer, UnreadAnswersHoldBackRequests) {
    Served s;
    const QByteArray request =
        "GET /metrics HTTP/1.1\r\nX-Pad: " + QByteArray(400, 'x') + "\r\n\r\n";
    const qint64 limit = ConnectionLimits{}.maxUnsentBytes;
    const qint64 bound = limit + exchange(s.server.port(), request).value_or("").size();

    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.server.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int buffer = 65536; // a fixed size, not one that grows with the traffic
    ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const int count = 10000; // 4 MB of requests and 13 MB of answers, more than buffers take
    const QByteArray all = request.repeated(count);
    // Sends without waiting; where the socket takes nothing more, waits until it does, at most
    // a minute, unless the server holds the requests back: then the client is stuck for good.
    qsizetype sent = 0;
    while (sent < all.size()) {
        const ssize_t n = ::send(client, all.constData() + sent, size_t(all.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        ASSERT_EQ(errno, EAGAIN);
        if (s.server.largestBacklog() > limit)
            break;
        pollfd writable{client, POLLOUT, 0};
        ASSERT_EQ(::poll(&writable, 1, 60000), 1) << "the server read nothing for a minute";
    }
    EXPECT_LT(sent, all.size()) << "every request was read, all answers waiting";
    EXPECT_GT(s.server.largestBacklog(), limit);
    EXPECT_LE(s.server.largestBacklog(), bound);

    std::thread sender([&] {
        for (ssize_t n = 0; sent < all.size() && n >= 0; sent += n)
            n = ::send(client, all.constData() + sent, size_t(all.size() - sent), MSG_NOSIGNAL);
    });
    const timeval timeout{10, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray tail;
    int answers = 0;
    for (char buffer[65536]; answers < count;) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        tail += QByteArray(buffer, n);
        answers += int(tail.count("HTTP/1.1 200 OK\r\n"));
        tail = tail.right(16);
    }
    EXPECT_EQ(answers, count);
    ::shutdown(client, SHUT_RDWR);
    sender.join();
    ::close(client);
}
