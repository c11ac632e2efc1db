// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_module.h"

#include "mqtt/mqtt_client.h"
#include "station/station.h"

namespace {

// Each sensor's alarm word now.
MqttAlarms alarmWords(const AlarmMonitor& alarms) {
    MqttAlarms words;
    for (int s = 1; s <= 2; ++s)
        words[s - 1] = mqttAlarmWord(alarms.inAlarm(s, AlarmCondition::High),
                                     alarms.inAlarm(s, AlarmCondition::Low),
                                     alarms.inAlarm(s, AlarmCondition::Unplugged));
    return words;
}

// Publishes what the station announces: the readings after each tick when they are due (at
// once when the port status changed), the alarm states after each alarm event.
class MqttListener : public QObject {
  public:
    explicit MqttListener(const MqttStart& start) : client_(start.options, start.version) {
        Station* station = start.station;
        if (start.connectionChanged)
            connect(&client_, &MqttClient::connectedChanged, this, start.connectionChanged);
        connect(station, &Station::ticked, this, [this, station] {
            client_.publishState(MqttSnapshot::of(station->cycle(), QDateTime::currentDateTime()));
        });
        connect(&station->alarms(), &AlarmMonitor::alarmEvent, this,
                [this, station] { client_.publishAlarms(alarmWords(station->alarms())); });
        client_.publishAlarms(alarmWords(station->alarms()));
        client_.start();
    }
    ~MqttListener() override { client_.stop(); }

  private:
    MqttClient client_;
};

} // namespace

extern "C" QObject* kelvano_mqtt_start(const MqttStart* start) {
    return new MqttListener(*start);
}
