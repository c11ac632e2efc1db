// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QScopeGuard>
#include <QThread>
#include <cerrno>
#include <cstddef>
#include <cstdio>
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
} // namespace

// The bus's side, shared by the notifier and its thread: the connection is made, and the
// notifications sent, in that thread only; the answers go back to the notifier while there is
// one.
struct DesktopNotifier::Link {
    QMutex mutex;
    DesktopNotifier* owner = nullptr; // null once the notifier is gone
    QObject* context = nullptr;       // lives in the thread
    QString name;                     // the connection's

    void send(const std::shared_ptr<Link>& self, const Note& note);
    void answer(bool shown, const QString& busProblem);
};

void DesktopNotifier::Link::answer(bool shown, const QString& busProblem) {
    const QMutexLocker locker(&mutex);
    if (owner)
        QMetaObject::invokeMethod(
            owner, [to = owner, shown, busProblem] { to->sent(shown, busProblem); },
            Qt::QueuedConnection);
}

void DesktopNotifier::Link::send(const std::shared_ptr<Link>& self, const Note& note) {
    QDBusConnection bus(name);
    if (!bus.isConnected()) {
        // Never reached, or lost: a new connection, once a bus answers on the socket (the
        // library's own opening waits for an answer without end).
        QDBusConnection::disconnectFromBus(name);
        const BusSocket socket = sessionSocket();
        if (!socket.path.isEmpty()) {
            const QString problem = probe(socket);
            if (!problem.isEmpty())
                return answer(false, problem);
        }
        bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
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
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(note.critical ? 2 : 1))},
        {QStringLiteral("desktop-entry"), appId},
    };
    // Replacing no earlier notification (id 0); the service's own display time.
    call << QStringLiteral("Kelvano") << uint(0) << appId << note.summary << note.body
         << QStringList() << hints << int(-1);
    // A service that does not answer in time counts as none.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, notifyMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [self, watcher] {
        watcher->deleteLater();
        const QDBusError::ErrorType error = watcher->error().type();
        const bool silent = error == QDBusError::NoReply || error == QDBusError::Timeout ||
                            error == QDBusError::Disconnected;
        self->answer(!watcher->isError(),
                     silent ? QStringLiteral("the session bus does not answer (%1)")
                                  .arg(watcher->error().message())
                            : QString());
    });
}

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

DesktopNotifier::~DesktopNotifier() {
    if (!thread_)
        return;
    {
        const QMutexLocker locker(&link_->mutex);
        link_->owner = nullptr;
    }
    thread_->requestInterruption();
    thread_->quit();
    // A bus that stops while the library opens a connection holds the thread there: it is left
    // behind rather than waited for.
    if (!thread_->wait(QDeadlineTimer(2000)))
        thread_->setParent(nullptr);
}

void DesktopNotifier::setLastResort(bool enabled, Output output) {
    lastResort_ = enabled;
    output_ = std::move(output);
}

QString DesktopNotifier::line(qint64 wallMs, const QString& summary, const QString& body) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(wallMs);
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate) + QLatin1Char(' ') +
           summary + QStringLiteral(": ") + body;
}

namespace {
bool sessionBusThere() {
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
            QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus")));
}
} // namespace

void DesktopNotifier::notify(const QString& summary, const QString& body, bool critical) {
    if (existingBusOnly_ && !sessionBusThere()) {
        fallBack(summary, body, critical);
        return;
    }
    if (waiting_.size() == queueLimit) {
        const Note& oldest = waiting_.front();
        say(QStringLiteral("kelvano: desktop notification dropped, %1 newer ones wait for the "
                           "session bus: %2: %3")
                .arg(queueLimit)
                .arg(oldest.summary, oldest.body));
        waiting_.pop_front();
    }
    waiting_.push_back({summary, body, critical});
    sendNext();
}

void DesktopNotifier::sendNext() {
    if (busy_ || waiting_.empty())
        return;
    if (!thread_) {
        thread_ = new QThread(this);
        link_ = std::make_shared<Link>();
        link_->owner = this;
        link_->name = QStringLiteral("kelvano-notifier-%1").arg(quintptr(this), 0, 16);
        link_->context = new QObject;
        link_->context->moveToThread(thread_);
        connect(thread_, &QThread::finished, link_->context,
                [name = link_->name] { QDBusConnection::disconnectFromBus(name); });
        connect(thread_, &QThread::finished, link_->context, &QObject::deleteLater);
        thread_->start();
    }
    sending_ = waiting_.front();
    waiting_.pop_front();
    busy_ = true;
    QMetaObject::invokeMethod(
        link_->context, [link = link_, note = sending_] { link->send(link, note); },
        Qt::QueuedConnection);
}

void DesktopNotifier::sent(bool shown, const QString& busProblem) {
    busy_ = false;
    if (busProblem.isEmpty()) {
        busSilent_ = false;
    } else if (!busSilent_) {
        busSilent_ = true;
        say(QStringLiteral("kelvano: no desktop notifications: ") + busProblem);
    }
    if (!shown)
        fallBack(sending_.summary, sending_.body, sending_.critical);
    sendNext();
}

void DesktopNotifier::say(const QString& text) const {
    if (output_) {
        output_(text);
    } else {
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        std::fflush(stderr);
    }
}

void DesktopNotifier::fallBack(const QString& summary, const QString& body, bool critical) {
    if (fallback_ && fallback_(summary, body, critical))
        return;
    if (lastResort_)
        say(line(QDateTime::currentMSecsSinceEpoch(), summary, body));
}
