// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_monitor.h"
#include "metrics/exposition.h"
#include "metrics/metrics_server.h"
#include "station/station.h"

#include <functional>
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
// With broker, the page also says whether the broker is connected (0 until told otherwise)
// through the function returned, which is empty without a server.
std::function<void(bool)> publishEachTick(Station* station, MetricsServer* server,
                                          bool broker = false);
