// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics_server.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <mutex>

namespace {

QString addressText(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

} // namespace

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
};

namespace {

// A TCP server that keeps each connection within the limits: a connection
// that has not sent a whole request in time is closed, a request's reading
// stops at the size limit (so it never completes and times out), and
// connections beyond the limit are closed at once.
class BoundedTcpServer : public QTcpServer {
  public:
    BoundedTcpServer(const ConnectionLimits& limits, QObject* parent)
        : QTcpServer(parent), limits_(limits) {}

  protected:
    void incomingConnection(qintptr handle) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        open_.removeAll(nullptr);
        if (open_.size() >= limits_.maxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        open_.append(socket);
        socket->setReadBufferSize(limits_.maxRequestBytes);
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
    QList<QPointer<QTcpSocket>> open_;
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
            auto* tcp = new BoundedTcpServer(limits_, endpoint);
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
