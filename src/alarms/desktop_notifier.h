// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QThread;

// Shows desktop notifications through the freedesktop notification service
// on the session bus: a new notification for every call, never replacing an
// earlier one, so the desktop's history keeps them all. Nothing touches the
// bus, nor loads the D-Bus libraries, until the first notification. When no service answers, the
// fallback (the tray icon's balloon) shows it; without one, or when it cannot, one line goes to
// standard error.
//
// The bus is reached from a thread of its own, so a bus that never answers
// holds up no reading: notify() returns at once, and the notifications wait
// there one behind the other, at most queueLimit of them; past that the
// oldest is dropped, with a line on standard error. A bus that does not
// answer is told once on standard error, until it answers again.
class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    // True when the fallback showed the message.
    using Fallback =
        std::function<bool(const QString& summary, const QString& body, bool critical)>;
    using Output = std::function<void(const QString& line)>;

    // Notifications waiting for the bus behind the one being sent.
    static constexpr std::size_t queueLimit = 16;

    explicit DesktopNotifier(QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void setFallback(Fallback fallback) { fallback_ = std::move(fallback); }
    // Where the last-resort line and the lines about the bus go (standard
    // error unless set); with enabled false, a message no service took is
    // dropped.
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
    struct Link; // the bus's side, in its thread
    struct Note {
        QString summary, body;
        bool critical = false;
    };

    void fallBack(const QString& summary, const QString& body, bool critical);
    void sendNext();
    // The bus's answer to the note sent last: shown, or why not (busProblem
    // empty when the bus answered).
    void sent(bool shown, const QString& busProblem);
    void say(const QString& line) const;

    Fallback fallback_;
    bool lastResort_ = true;
    bool existingBusOnly_ = false;
    Output output_;
    std::deque<Note> waiting_;
    Note sending_;
    bool busy_ = false;      // sending_ is on its way
    bool busSilent_ = false; // said so on standard error
    QThread* thread_ = nullptr;
    std::shared_ptr<Link> link_;
};
