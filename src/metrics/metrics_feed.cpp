// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics_feed.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

bool serveMetrics(const std::optional<ListenAddress>& where,
                  std::unique_ptr<MetricsServer>* server) {
    if (!where)
        return true;
    *server = std::make_unique<MetricsServer>();
    QString error;
    if ((*server)->start(*where, &error)) {
        MetricsState state;
        state.version = QCoreApplication::applicationVersion();
        (*server)->publish(state);
        return true;
    }
    std::fprintf(stderr, "%s\n", qUtf8Printable(error));
    server->reset();
    return false;
}

std::vector<AlarmLimitState> alarmStates(const AlarmMonitor& monitor) {
    std::vector<AlarmLimitState> states;
    const AlarmSettings settings = monitor.settings();
    for (int sensor : {1, 2}) {
        const AlarmLimits& limits = settings.sensors[sensor - 1];
        if (limits.highOn)
            states.push_back(
                {sensor, QStringLiteral("high"), monitor.inAlarm(sensor, AlarmCondition::High)});
        if (limits.lowOn)
            states.push_back(
                {sensor, QStringLiteral("low"), monitor.inAlarm(sensor, AlarmCondition::Low)});
    }
    return states;
}

std::function<void(bool)> publishEachTick(Station* station, MetricsServer* server, bool broker) {
    if (!server)
        return {};
    auto state = std::make_shared<MetricsState>();
    state->version = QCoreApplication::applicationVersion();
    if (broker)
        state->mqttConnected = false;
    QObject::connect(station, &Station::ticked, station, [station, server, state] {
        state->record(station->cycle(), QDateTime::currentMSecsSinceEpoch());
        state->alarms = alarmStates(station->alarms());
        server->publish(*state);
    });
    return [server, state](bool connected) {
        state->mqttConnected = connected;
        server->publish(*state);
    };
}
