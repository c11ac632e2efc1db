// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics_server.h"

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/ioctl.h>
#include <utility>

QString addressText(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<ListenAddress> {
        *error = QStringLiteral("kelvano: --metrics %1: %2").arg(text, why);
        return std::nullopt;
    };
    const QString example = QStringLiteral(" (for example --metrics %1 or --metrics 0.0.0.0:%1)")
                                .arg(defaultMetricsPort);
    if (text.isEmpty())
        return fail(QStringLiteral("give a port") + example);
    QString host;
    QString port;
    bool bracketed = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("the IPv6 address lacks its closing bracket, as in [::1]:%1")
                            .arg(defaultMetricsPort));
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return fail(QStringLiteral("expected a colon and a port after the bracket"));
        port = rest.mid(1);
        bracketed = true;
        if (rest.isEmpty())
            port = QString::number(defaultMetricsPort);
    } else if (text.count(QLatin1Char(':')) > 1) {
        return fail(QStringLiteral("write an IPv6 address in brackets, as in [::1]:%1")
                        .arg(defaultMetricsPort));
    } else if (const qsizetype colon = text.indexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.isEmpty())
            return fail(QStringLiteral("give the address before the colon (0.0.0.0 serves every "
                                       "network interface)"));
    } else if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); })) {
        port = text;
    } else {
        host = text;
        port = QString::number(defaultMetricsPort);
    }

    bool digits = !port.isEmpty() && port.size() <= 5;
    for (const QChar c : port)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const uint number = digits ? port.toUInt() : 0;
    if (number < 1 || number > 65535)
        return fail(QStringLiteral("the port must be a whole number from 1 to 65535") + example);

    ListenAddress result;
    result.port = quint16(number);
    if (host.isEmpty()) {
        result.address = QHostAddress(QHostAddress::LocalHost);
    } else if (host == QLatin1String("localhost")) {
        result.address = QHostAddress(QHostAddress::LocalHost);
    } else if (!result.address.setAddress(host) || !result.address.scopeId().isEmpty() ||
               bracketed != (result.address.protocol() == QAbstractSocket::IPv6Protocol) ||
               (!bracketed && host.count(QLatin1Char('.')) != 3)) {
        // (Qt also reads the old short forms such as 10.1 for 10.0.0.1; nobody means those.)
        return fail(QStringLiteral("'%1' is not an IP address").arg(host) + example);
    }
    return result;
}

struct MetricsServer::Shared {
    std::mutex mutex;
    QByteArray page; // the text of the last published state
    std::atomic<qint64> largestBacklog{0};
};

namespace {

using Clock = std::chrono::steady_clock;

// One client's connection. The HTTP server reads the next request when the
// socket has bytes available (at once for requests sent ahead, else when new
// bytes come in); so while more than maxUnsentBytes of answers wait for the
// client to read them, this socket reports no bytes available and takes in at
// most one more byte from the network. The client's further requests stay in
// the system's buffers, its sends then block, and the answers waiting here
// never pile up beyond that limit and one answer. When the client has read
// enough of them, the requests are read again.
class Connection : public QTcpSocket {
  public:
    Connection(const ConnectionLimits& limits, MetricsServer::Shared& shared, QObject* parent)
        : QTcpSocket(parent), limits_(limits), shared_(shared) {
        setReadBufferSize(limits_.maxRequestBytes);
        connect(this, &QIODevice::readyRead, this, [this] { lastActive_ = Clock::now(); });
        connect(this, &QIODevice::bytesWritten, this, [this] {
            lastActive_ = Clock::now();
            if (paused_ && !backlogged()) {
                paused_ = false;
                setReadBufferSize(limits_.maxRequestBytes);
                // The requests that came in while paused wait for no new bytes.
                QTimer::singleShot(0, this, [this] {
                    if (!backlogged() && QTcpSocket::bytesAvailable() > 0)
                        Q_EMIT readyRead();
                });
            }
        });
    }

    qint64 bytesAvailable() const override {
        return backlogged() ? 0 : QTcpSocket::bytesAvailable();
    }

    // No request in progress: nothing received since the last answer (in the
    // system's buffer, in ours, or part of a request read so far) and nothing
    // of the answer still to send.
    bool idle() const {
        int unread = 0;
        return ::ioctl(int(socketDescriptor()), FIONREAD, &unread) == 0 && unread == 0 &&
               QTcpSocket::bytesAvailable() == 0 && !isTransactionStarted() &&
               QTcpSocket::bytesToWrite() == 0;
    }
    // When bytes were last received or sent.
    Clock::time_point lastActive() const { return lastActive_; }

  protected:
    qint64 writeData(const char* data, qint64 size) override {
        const qint64 written = QTcpSocket::writeData(data, size);
        const qint64 backlog = QTcpSocket::bytesToWrite();
        qint64 largest = shared_.largestBacklog;
        while (backlog > largest && !shared_.largestBacklog.compare_exchange_weak(largest, backlog))
            ;
        if (backlogged() && !paused_) {
            paused_ = true;
            setReadBufferSize(1);
            // The HTTP server goes on to requests sent ahead through queued
            // readyRead() calls, some possibly already queued: drop them.
            QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
        }
        return written;
    }

  private:
    bool backlogged() const { return QTcpSocket::bytesToWrite() > limits_.maxUnsentBytes; }

    const ConnectionLimits limits_;
    MetricsServer::Shared& shared_;
    Clock::time_point lastActive_ = Clock::now();
    bool paused_ = false;
};

// A TCP server that keeps each connection within the limits: a connection
// that has not sent a whole request in time is closed, a request's reading
// stops at the size limit (so it never completes and times out), and a
// connection beyond the limit takes the place of the one idle longest, or is
// closed at once when every one is in the middle of a request.
class BoundedTcpServer : public QTcpServer {
  public:
    BoundedTcpServer(const ConnectionLimits& limits, MetricsServer::Shared& shared, QObject* parent)
        : QTcpServer(parent), limits_(limits), shared_(shared) {}

  protected:
    void incomingConnection(qintptr handle) override {
        auto* socket = new Connection(limits_, shared_, this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        // (One that is closing counts until it has sent what it still has to send.)
        open_.removeIf([](const QPointer<Connection>& c) {
            return !c || c->state() == QAbstractSocket::UnconnectedState;
        });
        if (open_.size() >= limits_.maxConnections) {
            Connection* displaced = nullptr;
            for (Connection* c : std::as_const(open_))
                if (c->idle() && (!displaced || c->lastActive() < displaced->lastActive()))
                    displaced = c;
            if (!displaced) {
                socket->abort();
                socket->deleteLater();
                return;
            }
            // Closed as a client would close it: what it was sent still reaches it.
            open_.removeOne(displaced);
            displaced->disconnectFromHost();
        }
        open_.append(socket);
        // Qt's HTTP server closes a connection whose bytes are no HTTP, but waits
        // for the rest of an unfinished request without end: this ends it.
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->callOnTimeout(socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::bytesWritten, deadline,
                [deadline, this] { deadline->start(limits_.requestTimeoutMs); });
        deadline->start(limits_.requestTimeoutMs);
        addPendingConnection(socket);
    }

  private:
    ConnectionLimits limits_;
    MetricsServer::Shared& shared_;
    QList<QPointer<Connection>> open_;
};

class Endpoint : public QAbstractHttpServer {
  public:
    Endpoint(std::shared_ptr<MetricsServer::Shared> shared) : shared_(std::move(shared)) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        using Status = QHttpServerResponder::StatusCode;
        using Method = QHttpServerRequest::Method;
        QHttpServerResponder responder = makeResponder(request, socket);
        const bool close = request.value("connection").toLower().contains("close");
        const Method method = request.method();
        const QString path = request.url().path();
        if (method != Method::Get && method != Method::Head) {
            responder.writeStatusLine(Status::MethodNotAllowed);
            responder.writeHeader("Allow", "GET, HEAD");
            answer(responder, false, "text/plain; charset=utf-8",
                   "Only GET and HEAD are served here.\n");
        } else if (path == QLatin1String("/metrics")) {
            QByteArray page;
            {
                std::lock_guard<std::mutex> lock(shared_->mutex);
                page = shared_->page; // shared, not copied
            }
            responder.writeStatusLine(Status::Ok);
            answer(responder, method == Method::Head, expositionContentType(), page);
        } else if (path == QLatin1String("/")) {
            responder.writeStatusLine(Status::Ok);
            answer(
                responder, method == Method::Head, "text/html; charset=utf-8",
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Kelvano "
                "metrics</title></head>\n<body><h1>Kelvano</h1>\n<p>The thermometer's "
                "readings for Prometheus: <a href=\"/metrics\">/metrics</a></p></body></html>\n");
        } else {
            responder.writeStatusLine(Status::NotFound);
            answer(responder, method == Method::Head, "text/plain; charset=utf-8",
                   "Not found. The metrics are at /metrics.\n");
        }
        // The server keeps every connection open; a client that asks for the
        // opposite gets it.
        if (close)
            socket->disconnectFromHost();
        return true;
    }

    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

  private:
    // The rest of an answer after its status line (and any header of its own).
    static void answer(QHttpServerResponder& responder, bool headOnly, const char* contentType,
                       const QByteArray& body) {
        responder.writeHeader("Content-Type", contentType);
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
        responder.writeBody(headOnly ? QByteArray() : body);
    }

    std::shared_ptr<MetricsServer::Shared> shared_;
};

} // namespace

MetricsServer::MetricsServer(ConnectionLimits limits)
    : limits_(limits), shared_(std::make_shared<Shared>()) {
    shared_->page = expositionText(MetricsState{});
    thread_.setObjectName(QStringLiteral("metrics"));
}

MetricsServer::~MetricsServer() {
    if (!thread_.isRunning())
        return;
    QMetaObject::invokeMethod(
        endpoint_, [this] { delete endpoint_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool MetricsServer::start(const ListenAddress& where, QString* error) {
    thread_.start();
    auto* context = new QObject;
    context->moveToThread(&thread_);
    QString failure;
    // The server and its sockets are made in the thread that runs them.
    QMetaObject::invokeMethod(
        context,
        [&] {
            auto* endpoint = new Endpoint(shared_);
            auto* tcp = new BoundedTcpServer(limits_, *shared_, endpoint);
            // Room for a burst of new connections, so that a client opening many
            // at once does not crowd out a scrape's.
            tcp->setListenBacklogSize(256);
            if (!tcp->listen(where.address, where.port)) {
                QString why;
                switch (tcp->serverError()) {
                case QAbstractSocket::AddressInUseError:
                    why = QStringLiteral("the port is in use by another program");
                    break;
                case QAbstractSocket::SocketAddressNotAvailableError:
                    why = QStringLiteral("%1 is not an address of this computer")
                              .arg(where.address.toString());
                    break;
                case QAbstractSocket::SocketAccessError:
                    why = QStringLiteral("permission denied (ports below 1024 need "
                                         "administrator rights)");
                    break;
                default:
                    why = tcp->errorString();
                }
                failure = QStringLiteral("kelvano: cannot serve metrics on %1: %2")
                              .arg(addressText(where.address, where.port), why);
                delete endpoint;
            } else {
                endpoint->bind(tcp);
                port_ = tcp->serverPort();
                endpoint_ = endpoint;
            }
            delete context;
        },
        Qt::BlockingQueuedConnection);
    if (!endpoint_) {
        thread_.quit();
        thread_.wait();
        *error = failure;
        return false;
    }
    return true;
}

void MetricsServer::publish(const MetricsState& state) {
    // Written once a tick rather than for each request; outside the lock.
    QByteArray page = expositionText(state);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->page.swap(page);
}

qint64 MetricsServer::largestBacklog() const {
    return shared_->largestBacklog;
}
