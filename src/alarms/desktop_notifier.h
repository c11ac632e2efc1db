// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <functional>

// Shows desktop notifications through the freedesktop notification service
// on the session bus: a new notification for every call, never replacing an
// earlier one, so the desktop's history keeps them all. Nothing touches the
// bus until the first notification. When no service answers, the fallback
// (the tray icon's balloon) shows it; without one, or when it cannot, one line
// goes to standard error.
class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    // True when the fallback showed the message.
    using Fallback =
        std::function<bool(const QString& summary, const QString& body, bool critical)>;
    using Output = std::function<void(const QString& line)>;

    explicit DesktopNotifier(QObject* parent = nullptr);

    void setFallback(Fallback fallback) { fallback_ = std::move(fallback); }
    // Where the last-resort line goes (standard error unless set); with
    // enabled false, a message no service took is dropped.
    void setLastResort(bool enabled, Output output = {});
    // With true, a session bus is used only when one is already there (named
    // in the environment, or at its usual place in the runtime folder); none
    // is started for the notification.
    void setExistingBusOnly(bool only) { existingBusOnly_ = only; }

    void notify(const QString& summary, const QString& body, bool critical);

    // A message as one line of standard error: the local time in ISO 8601
    // with its offset from UTC, the summary, the body.
    static QString line(qint64 wallMs, const QString& summary, const QString& body);

  private:
    void fallBack(const QString& summary, const QString& body, bool critical);

    Fallback fallback_;
    bool lastResort_ = true;
    bool existingBusOnly_ = false;
    Output output_;
};
