// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier_bus.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef KELVANO_APP_ID
#define KELVANO_APP_ID "io.github.corvanta.Kelvano"
#endif

namespace {
// How long the bus has to answer: the opening of a connection, and a notification.
constexpr int openingMs = 5000;
constexpr int notifyMs = 10000;

// The session bus's socket as the D-Bus library finds it: the first address named in the
// environment, else the runtime folder's "bus" when there is one. Empty when the address is no
// local socket (or none is there and the library would start a bus by other means).
struct BusSocket {
    QByteArray path;
    bool abstract = false; // a name in the abstract namespace, not a file
};
BusSocket sessionSocket() {
    const QByteArray named = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (named.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const QString bus = runtime + QStringLiteral("/bus");
        if (!runtime.isEmpty() && QFileInfo::exists(bus))
            return {QFile::encodeName(bus)};
        return {};
    }
    const QByteArray first = named.split(';').constFirst();
    if (!first.startsWith("unix:"))
        return {};
    for (const QByteArray& pair : first.mid(5).split(',')) {
        const QByteArray value = QByteArray::fromPercentEncoding(pair.mid(pair.indexOf('=') + 1));
        if (pair.startsWith("path="))
            return {value};
        if (pair.startsWith("abstract="))
            return {value, true};
    }
    return {};
}

// Whether a bus answers on its socket: the opening of a connection (a NUL byte, then an AUTH
// line that names no mechanism), which a bus answers with the mechanisms it takes. A stopped bus
// still accepts the connection, so only the answer shows it is there. Empty when it answered,
// else what happened; gives up early when the thread is asked to end.
QString probe(const BusSocket& bus) {
    const QString where = QStringLiteral("the session bus at %1")
                              .arg(QFile::decodeName((bus.abstract ? "@" : "") + bus.path));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = bus.abstract ? 1 : 0;
    if (offset + std::size_t(bus.path.size()) >= sizeof(address.sun_path))
        return where + QStringLiteral(" cannot be reached (the name is too long)");
    std::memcpy(address.sun_path + offset, bus.path.constData(), std::size_t(bus.path.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + offset +
                                  std::size_t(bus.path.size()) + (bus.abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return where + QStringLiteral(" cannot be reached (%1)").arg(qt_error_string(errno));
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    const QString silent = where + QStringLiteral(" does not answer");
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        // A full backlog: nothing takes the connections.
        if (errno == EAGAIN)
            return silent;
        return where + QStringLiteral(" cannot be reached (%1)").arg(qt_error_string(errno));
    }
    static const char opening[] = "\0AUTH\r\n";
    if (::send(fd, opening, sizeof opening - 1, MSG_NOSIGNAL) != ssize_t(sizeof opening - 1))
        return silent;
    const QDeadlineTimer deadline(openingMs);
    pollfd readable{fd, POLLIN, 0};
    while (!deadline.hasExpired() && !QThread::currentThread()->isInterruptionRequested()) {
        const int ready = ::poll(&readable, 1, int(qMin<qint64>(deadline.remainingTime(), 100)));
        if (ready > 0) {
            char c;
            return ::recv(fd, &c, 1, 0) == 1 ? QString()
                                             : where + QStringLiteral(" closed the connection");
        }
    }
    return silent;
}

// The connection is made, and the notifications sent, in the notifier's thread only.
class SessionBus : public NotifierBus {
  public:
    SessionBus(const QString& name, QObject* context) : name_(name), context_(context) {}
    ~SessionBus() override { QDBusConnection::disconnectFromBus(name_); }

    void send(const QString& summary, const QString& body, bool critical, Answer answer) override;

  private:
    QString name_;
    QObject* context_;
};

void SessionBus::send(const QString& summary, const QString& body, bool critical, Answer answer) {
    QDBusConnection bus(name_);
    if (!bus.isConnected()) {
        // Never reached, or lost: a new connection, once a bus answers on the socket (the
        // library's own opening waits for an answer without end).
        QDBusConnection::disconnectFromBus(name_);
        const BusSocket socket = sessionSocket();
        if (!socket.path.isEmpty()) {
            const QString problem = probe(socket);
            if (!problem.isEmpty())
                return answer(false, problem);
        }
        bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_);
        if (!bus.isConnected())
            return answer(false, QStringLiteral("the session bus cannot be reached (%1)")
                                     .arg(bus.lastError().message()));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appId = QStringLiteral(KELVANO_APP_ID);
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(critical ? 2 : 1))},
        {QStringLiteral("desktop-entry"), appId},
    };
    // Replacing no earlier notification (id 0); the service's own display time.
    call << QStringLiteral("Kelvano") << uint(0) << appId << summary << body << QStringList()
         << hints << int(-1);
    // A service that does not answer in time counts as none.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, notifyMs), context_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_, [answer, watcher] {
        watcher->deleteLater();
        const QDBusError::ErrorType error = watcher->error().type();
        const bool silent = error == QDBusError::NoReply || error == QDBusError::Timeout ||
                            error == QDBusError::Disconnected;
        answer(!watcher->isError(), silent ? QStringLiteral("the session bus does not answer (%1)")
                                                 .arg(watcher->error().message())
                                           : QString());
    });
}
} // namespace

NotifierBus* kelvano_notifier_bus(const QString* name, QObject* context) {
    return new SessionBus(*name, context);
}
