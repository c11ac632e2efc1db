// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop_notifier.h"

#include "alarms/notifier_bus.h"
#include "modules.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <cstdio>

// The bus's side, shared by the notifier and its thread: the bus library is loaded, and the
// notifications sent, in that thread only; the answers go back to the notifier while there is
// one.
struct DesktopNotifier::Link {
    QMutex mutex;
    DesktopNotifier* owner = nullptr; // null once the notifier is gone
    QObject* context = nullptr;       // lives in the thread
    QString name;                     // the connection's
    std::unique_ptr<NotifierBus> bus; // from the first note on, in the thread

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
    if (!bus) {
        QString error;
        const auto make = reinterpret_cast<MakeNotifierBus>(
            moduleFunction("bus", "kelvano_notifier_bus", &error));
        if (!make)
            return answer(false,
                          QStringLiteral("the session bus cannot be reached (%1)").arg(error));
        bus.reset(make(&name, context));
    }
    bus->send(note.summary, note.body, note.critical,
              [self](bool shown, const QString& busProblem) { self->answer(shown, busProblem); });
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
        connect(thread_, &QThread::finished, link_->context, [link = link_] { link->bus.reset(); });
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
