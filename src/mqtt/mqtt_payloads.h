// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mqtt/mqtt_options.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class SamplingCycle;

// What one publication of the readings holds.
struct MqttSnapshot {
    struct Sensor {
        double celsius = 0; // after the offset, unrounded, in °C whatever unit is shown
        uint32_t raw = 0;
        QString name; // the profile's name, as the metrics page gives it
    };

    QDateTime time;
    QString port; // the port status, as the status line says it after "port status:"
    // None while the sensor's last read failed or it is unplugged.
    std::array<std::optional<Sensor>, 2> sensors;

    // The results of a tick made at time.
    static MqttSnapshot of(const SamplingCycle& cycle, const QDateTime& time);
};

// Each sensor's alarm word: "high", "low", "unplugged" or "off".
using MqttAlarms = std::array<QString, 2>;

// The word for a sensor's alarm conditions; an unplugged sensor says so first,
// a high reading before a low one.
QString mqttAlarmWord(bool high, bool low, bool unplugged);

// A time as the status lines write it: ISO 8601 with the offset from UTC.
QString isoTimeWithOffset(const QDateTime& time);

// The payload of the state topic, for example
// {"port":"sensors connected","sensor1":{"celsius":21.37,"name":"Fridge","raw":5203},
//  "sensor2":null,"time":"2026-12-07T06:10:55+01:00"}
QByteArray mqttStateJson(const MqttSnapshot& snapshot);
// The payload of the alarm topic: {"sensor1":"high","sensor2":"off"}
QByteArray mqttAlarmJson(const MqttAlarms& alarms);

// One retained message.
struct MqttMessage {
    QString topic;
    QByteArray payload;
};

// The discovery configs that make both sensors and their alarms appear in
// Home Assistant by themselves; none when discovery is off.
std::vector<MqttMessage> mqttDiscoveryConfigs(const MqttOptions& options, const QString& version);

// Whether a snapshot goes out now: the first one, one whose port status
// differs from the last one published, or one an interval after it (or before
// it, when the clock was set back).
bool mqttStateDue(const std::optional<MqttSnapshot>& lastPublished, const MqttSnapshot& next,
                  int intervalSeconds);
