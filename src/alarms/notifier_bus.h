// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

class QObject;

// The session bus's side of the desktop notifications. It is a library of its own
// (libkelvano-bus, with the D-Bus libraries), loaded by the notifier with the first notification
// it sends, so a run that never notifies maps none of them. It lives in the notifier's thread
// and is used from there only.
class NotifierBus {
  public:
    // Shown, or why not (busProblem empty when the bus answered); called in the bus's thread.
    using Answer = std::function<void(bool shown, const QString& busProblem)>;

    virtual ~NotifierBus() = default;
    // Sends one notification; answer is called once, at once or when the bus answers.
    virtual void send(const QString& summary, const QString& body, bool critical,
                      Answer answer) = 0;
};

// The library's entry: a bus side whose connection is called *name, with context (living in the
// bus's thread) the parent of what waits for the bus. Deleted, it ends its connection.
extern "C" NotifierBus* kelvano_notifier_bus(const QString* name, QObject* context);
using MakeNotifierBus = NotifierBus* (*)(const QString* name, QObject* context);
