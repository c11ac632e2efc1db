// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mqtt/mqtt_options.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Station;

// The broker client lives in a library of its own, with the MQTT library it links, and is loaded
// only by a run with --mqtt: any other run maps neither it nor its TLS libraries.

// What a run hands to the broker library.
struct MqttStart {
    Station* station = nullptr; // whose ticks, port status and alarm events are published
    MqttOptions options;
    QString version;                             // the program's, for the discovery configs
    std::function<void(bool)> connectionChanged; // may be empty: told when the broker comes or goes
};

// In the broker library: a listener of the station that keeps a connection to the broker and
// publishes to it until it is deleted; deleting it says "offline" and leaves the broker.
extern "C" QObject* kelvano_mqtt_start(const MqttStart* start);
using MqttStartFunction = QObject* (*)(const MqttStart*);

// The same through the loaded library, when options are given (a run with --mqtt); the
// listener is kept in *listener. False when the library cannot be loaded; the reason has been
// printed.
bool startMqtt(const std::optional<MqttOptions>& options, Station* station,
               std::function<void(bool)> connectionChanged, std::unique_ptr<QObject>* listener);
