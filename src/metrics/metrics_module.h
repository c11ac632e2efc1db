// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Station;

// The metrics endpoint lives in a library of its own, with Qt's network and HTTP libraries, and is
// loaded only by a run with --metrics: any other run maps none of them.

// What a run hands to the metrics library.
struct MetricsStart {
    QString address;            // the value of --metrics
    Station* station = nullptr; // whose ticks are published
    bool broker = false;        // the page also says whether the broker is connected
};

// In the metrics library: whether the value of --metrics names an address of this computer that
// a page can be served on. False, with the user's message in *error, when it does not.
extern "C" bool kelvano_metrics_check(const QString* address, QString* error);
using MetricsCheckFunction = bool (*)(const QString*, QString*);

// In the metrics library: binds the address, which kelvano_metrics_check has passed, and publishes
// the station's readings and alarm states after each tick, until the page returned is deleted. With
// broker, the page says "not connected" until *brokerShown is told otherwise. Null, with the user's
// message in *error, when the address cannot be bound.
extern "C" QObject* kelvano_metrics_serve(const MetricsStart* start,
                                          std::function<void(bool)>* brokerShown, QString* error);
using MetricsServeFunction = QObject* (*)(const MetricsStart*, std::function<void(bool)>*,
                                          QString*);

// The same through the loaded library. Both print the reason when they return false.
bool checkMetricsAddress(const QString& address);
// Nothing to do without an address (a run without --metrics). With one, the page is kept in *page
// and *brokerShown says to it whether the broker is connected.
bool serveMetrics(const std::optional<QString>& address, Station* station, bool broker,
                  std::unique_ptr<QObject>* page, std::function<void(bool)>* brokerShown);
