// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QFileInfo>
#include <cstdio>

#ifndef KELVANO_APP_ID
#define KELVANO_APP_ID "io.github.corvanta.Kelvano"
#endif

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

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
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallBack(summary, body, critical);
        return;
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
    // A service that does not answer in 10 s counts as none; nothing waits for it meanwhile.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, summary, body, critical] {
                watcher->deleteLater();
                if (watcher->isError())
                    fallBack(summary, body, critical);
            });
}

void DesktopNotifier::fallBack(const QString& summary, const QString& body, bool critical) {
    if (fallback_ && fallback_(summary, body, critical))
        return;
    if (lastResort_) {
        const QString text = line(QDateTime::currentMSecsSinceEpoch(), summary, body);
        if (output_) {
            output_(text);
        } else {
            std::fprintf(stderr, "%s\n", qUtf8Printable(text));
            std::fflush(stderr);
        }
    }
}
