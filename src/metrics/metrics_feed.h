// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"
#include "metrics/exposition.h"
#include "metrics/metrics_server.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QObject>
#include <memory>
#include <optional>
#include <vector>

// Starts serving metrics at `where`, when given. False when the address cannot be bound; the
// reason has been printed.
bool serveMetrics(const std::optional<ListenAddress>& where,
                  std::unique_ptr<MetricsServer>* server);

// The alarm limits switched on, each with whether it is in alarm.
std::vector<AlarmLimitState> alarmStates(const AlarmMonitor& monitor);

// Publishes the results of each of ticker's sampling ticks to the server, with the alarms'
// states where there are alarms (fed before this runs).
template <typename Ticker>
void publishEachTick(Ticker* ticker, MetricsServer* server, const AlarmMonitor* alarms) {
    if (!server)
        return;
    auto state = std::make_shared<MetricsState>();
    state->version = QCoreApplication::applicationVersion();
    QObject::connect(ticker, &Ticker::ticked, ticker, [ticker, server, state, alarms] {
        state->record(ticker->cycle(), QDateTime::currentMSecsSinceEpoch());
        if (alarms)
            state->alarms = alarmStates(*alarms);
        server->publish(*state);
    });
}
