// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_payloads.h"

#include "sensor/sampling_cycle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

MqttSnapshot MqttSnapshot::of(const SamplingCycle& cycle, const QDateTime& time) {
    MqttSnapshot snapshot;
    snapshot.time = time;
    // The status line's text without its "port status:" heading.
    snapshot.port = cycle.displays().status;
    snapshot.port.remove(QRegularExpression(QStringLiteral("^port status:\\s*")));
    const PortReading& reading = cycle.reading();
    // After a failed read the tick converts the previous raw values again;
    // those are not this read's, so they give no temperature here.
    const std::array<uint32_t, 2> raws = {reading.x, reading.y};
    for (int i = 0; i < 2; ++i) {
        const std::optional<double>& celsius = cycle.readout(i + 1).exactCelsius;
        if (reading.result == PortCode::Ok && !isUnplugged(raws[i]) && celsius)
            snapshot.sensors[i] = Sensor{*celsius, raws[i], sensorName(cycle.displays(), i + 1)};
    }
    return snapshot;
}

QString mqttAlarmWord(bool high, bool low, bool unplugged) {
    if (unplugged)
        return QStringLiteral("unplugged");
    if (high)
        return QStringLiteral("high");
    return low ? QStringLiteral("low") : QStringLiteral("off");
}

QString isoTimeWithOffset(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

namespace {

QString sensorKey(int index) {
    return QStringLiteral("sensor") + QString::number(index + 1);
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray mqttStateJson(const MqttSnapshot& snapshot) {
    QJsonObject object{{QStringLiteral("time"), isoTimeWithOffset(snapshot.time)},
                       {QStringLiteral("port"), snapshot.port}};
    for (int i = 0; i < 2; ++i) {
        const std::optional<MqttSnapshot::Sensor>& sensor = snapshot.sensors[i];
        object.insert(sensorKey(i),
                      sensor ? QJsonValue(QJsonObject{{QStringLiteral("celsius"), sensor->celsius},
                                                      {QStringLiteral("raw"), qint64(sensor->raw)},
                                                      {QStringLiteral("name"), sensor->name}})
                             : QJsonValue(QJsonValue::Null));
    }
    return compact(object);
}

QByteArray mqttAlarmJson(const MqttAlarms& alarms) {
    return compact({{sensorKey(0), alarms[0]}, {sensorKey(1), alarms[1]}});
}

std::vector<MqttMessage> mqttDiscoveryConfigs(const MqttOptions& options, const QString& version) {
    std::vector<MqttMessage> configs;
    if (options.discoveryPrefix.isEmpty())
        return configs;
    const QString node = QStringLiteral("kelvano_") + options.id;
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{node}},
                             {QStringLiteral("name"), QStringLiteral("Kelvano ") + options.id},
                             {QStringLiteral("manufacturer"), QStringLiteral("Corvanta")},
                             {QStringLiteral("model"), QStringLiteral("Kelvano")},
                             {QStringLiteral("sw_version"), version}};
    const QString status = options.topic(QStringLiteral("status"));
    for (int i = 0; i < 2; ++i) {
        const QString key = sensorKey(i);
        const QString number = QString::number(i + 1);
        // Home Assistant renders "None" as an unknown state: a null sensor is unknown, not 0.
        const QJsonObject sensor{
            {QStringLiteral("name"), QStringLiteral("Sensor ") + number},
            {QStringLiteral("unique_id"), node + QLatin1Char('_') + key},
            {QStringLiteral("device_class"), QStringLiteral("temperature")},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("unit_of_measurement"), QStringLiteral("°C")},
            {QStringLiteral("suggested_display_precision"), 1},
            {QStringLiteral("state_topic"), options.topic(QStringLiteral("state"))},
            {QStringLiteral("value_template"),
             QStringLiteral("{{ value_json.%1.celsius if value_json.%1 else None }}").arg(key)},
            {QStringLiteral("availability_topic"), status},
            {QStringLiteral("expire_after"), 3 * options.intervalSeconds},
            {QStringLiteral("device"), device}};
        configs.push_back(
            {QStringLiteral("%1/sensor/%2/%3/config").arg(options.discoveryPrefix, node, key),
             compact(sensor)});
        const QJsonObject alarm{
            {QStringLiteral("name"), QStringLiteral("Sensor %1 alarm").arg(number)},
            {QStringLiteral("unique_id"), node + QStringLiteral("_alarm") + number},
            {QStringLiteral("device_class"), QStringLiteral("problem")},
            {QStringLiteral("state_topic"), options.topic(QStringLiteral("alarm"))},
            {QStringLiteral("value_template"),
             QStringLiteral("{{ 'OFF' if value_json.%1 == 'off' else 'ON' }}").arg(key)},
            {QStringLiteral("payload_on"), QStringLiteral("ON")},
            {QStringLiteral("payload_off"), QStringLiteral("OFF")},
            {QStringLiteral("availability_topic"), status},
            {QStringLiteral("device"), device}};
        configs.push_back({QStringLiteral("%1/binary_sensor/%2/alarm%3/config")
                               .arg(options.discoveryPrefix, node, number),
                           compact(alarm)});
    }
    return configs;
}

bool mqttStateDue(const std::optional<MqttSnapshot>& lastPublished, const MqttSnapshot& next,
                  int intervalSeconds) {
    if (!lastPublished || lastPublished->port != next.port)
        return true;
    // Ticks come a second apart, give or take the time a read takes: the tick nearest the
    // interval's end is due, even if it came a few milliseconds early.
    const qint64 elapsedMs = lastPublished->time.msecsTo(next.time);
    return elapsedMs < 0 || elapsedMs >= qint64(intervalSeconds) * 1000 - 500;
}
