// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"
#include "metrics/exposition.h"
#include "metrics/metrics_server.h"
#include "station/station.h"

#include <memory>
#include <optional>
#include <vector>

// Starts serving metrics at `where`, when given. False when the address cannot be bound; the
// reason has been printed.
bool serveMetrics(const std::optional<ListenAddress>& where,
                  std::unique_ptr<MetricsServer>* server);

// The alarm limits switched on, each with whether it is in alarm.
std::vector<AlarmLimitState> alarmStates(const AlarmMonitor& monitor);

// Publishes the results of each of the station's ticks to the server, with the alarms' states.
void publishEachTick(Station* station, MetricsServer* server);
