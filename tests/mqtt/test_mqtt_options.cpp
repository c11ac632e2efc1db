// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_options.h"
#include "mqtt/mqtt_payloads.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <QtCore>
#include <gtest/gtest.h>

namespace {

// The options as one line, so that a table can hold what each command line
// gives.
QString summary(const MqttOptions& o) {
    return QStringLiteral("%1 user=%2 password=%3 ca=%4 id=%5 every %6 s discovery=%7")
        .arg(o.address(), o.user, o.password, o.caFile.isEmpty() ? "-" : "file", o.id)
        .arg(o.intervalSeconds)
        .arg(o.discoveryPrefix.isEmpty() ? "off" : o.discoveryPrefix);
}

} // namespace

// Each command line's options ("URL option=value...", "password" and "missing" being a readable
// file and none); each refusal names what is wrong (whole messages: command_line.sh).
TEST(MqttOptions, CommandLines) {
    QTemporaryDir dir;
    QFile file(dir.filePath("password"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("s3cret word\r\nsecond line\n");
    file.close();
    const std::pair<const char*, const char*> cases[] = {
        // the summary, or a part of the refusal
        {"mqtt://broker", "mqtt://broker:1883 user= password= ca=- id=lab-pc_local every 10 s "
                          "discovery=homeassistant"},
        {"mqtts://ha@broker.lan:8884/", "mqtts://broker.lan:8884 user=ha password="},
        {"mqtts://[::1]", "mqtts://[::1]:8883"},
        {"MQTT://h%40m@10.0.0.2:1", "mqtt://10.0.0.2:1 user=h@m"},
        {"mqtt://h:65535", "mqtt://h:65535"},
        {"mqtt://u@h env=env id=Kitchen_2-b", "password=env ca=- id=Kitchen_2-b"},
        {"mqtt://h env=env", "user= password= "},
        {"mqtt://u@h env=env passwordFile=password", "password=s3cret word ca"},
        {"mqtts://h ca=password interval=86400", "ca=file id=lab-pc_local every 86400 s"},
        {"mqtt://h discovery=off", "every 10 s discovery=off"},
        {"mqtt://h discovery=ha/disc", "discovery=ha/disc"},
        // Refusals.
        {"broker", "kelvano: --mqtt broker: not a broker address; write mqtt://"},
        {"mqtt://", "not a broker address"},
        {"mqtt://h/path", "not a broker address"},
        {"http://h", "unknown scheme 'http'"},
        {"mqtt://h:0", "from 1 to 65535"},
        {"mqtt://h:65536", "from 1 to 65535"},
        {"mqtt://h:123456", "from 1 to 65535"},
        {"mqtt://u:@h", "KELVANO_MQTT_PASSWORD"},
        {"mqtt://h ca=password", "mqtts:// address only"},
        {"mqtt://u@h passwordFile=missing", "cannot read it"},
        {"mqtt://h passwordFile=password", "needs a user"},
        {"mqtt://h interval=0", "--mqtt-interval 0: give"},
        {"mqtt://h interval=86401", "from 1 to 86400"},
        {"mqtt://h interval=1.5", "from 1 to 86400"},
        {"mqtt://h id=a/b", "--mqtt-id a/b"},
        {"mqtt://h discovery=ha/#", "--mqtt-discovery ha/#"},
    };
    for (const auto& [line, expected] : cases) {
        const QStringList words = QString::fromUtf8(line).split(u' ');
        MqttArguments a{words[0], {}, {}, {}, {}, {}, {}, QStringLiteral("Lab-PC.local")};
        for (const QString& word : words.mid(1)) {
            const QString name = word.section(u'=', 0, 0), value = word.section(u'=', 1);
            const QString path =
                value == "password" || value == "missing" ? dir.filePath(value) : value;
            (name == "id"          ? a.id
             : name == "interval"  ? a.interval
             : name == "discovery" ? a.discovery
             : name == "ca"        ? a.caFile
             : name == "env"       ? a.envPassword
                                   : a.passwordFile) = path;
        }
        const MqttOptionsResult result = parseMqttOptions(a);
        const QString text = result.options ? summary(*result.options) : result.error;
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected)))
            << line << " gives " << text.toStdString();
        EXPECT_NE(result.options.has_value(), result.error.startsWith("kelvano: "));
    }
    EXPECT_EQ(defaultMqttId(QStringLiteral("Ünï Box.2_a-b")), QStringLiteral("_n__box_2_a-b"));
}

// The state and alarm payloads as a subscriber reads them.
TEST(MqttPayloads, StateAndAlarm) {
    MqttSnapshot snapshot;
    snapshot.time = QDateTime(QDate(2026, 12, 7), QTime(6, 10, 55), Qt::OffsetFromUTC, 3600);
    snapshot.port = QStringLiteral("sensors connected");
    snapshot.sensors[0] =
        MqttSnapshot::Sensor{21.370000000000001, 5203, QStringLiteral("Fridge \"A\"")};
    EXPECT_EQ(mqttStateJson(snapshot),
              R"({"port":"sensors connected","sensor1":{"celsius":21.37,"name":"Fridge \"A\"",)"
              R"("raw":5203},"sensor2":null,"time":"2026-12-07T06:10:55+01:00"})");
    EXPECT_EQ(
        mqttAlarmJson({mqttAlarmWord(true, false, false), mqttAlarmWord(false, false, false)}),
        R"({"sensor1":"high","sensor2":"off"})");
    EXPECT_EQ(mqttAlarmWord(false, true, false) + mqttAlarmWord(true, true, true), "lowunplugged");
}

// A tick's snapshot: each sensor's temperature after its offset (+2 on sensor
// 1), unrounded, and its name ("Sensor 2" while no profile is chosen); an
// unplugged sensor and a failed read give none; the port status without its
// heading.
TEST(MqttPayloads, SnapshotOfATick) {
    ScriptedSource source({{0, 5203, 31036}, {0, 5203, 0}, {167, {}, {}}});
    std::array<ChannelInput, 2> inputs;
    for (int s : {1, 2})
        inputs[s - 1].coefficients = initialCoefficients(s);
    inputs[0].profileText = QStringLiteral("Fridge");
    inputs[0].codes.offset = QStringLiteral("2");
    SamplingCycle cycle;
    const QDateTime time = QDateTime::fromSecsSinceEpoch(1000);
    const auto tick = [&] {
        cycle.tick(source, inputs);
        const MqttSnapshot snapshot = MqttSnapshot::of(cycle, time);
        QString text = snapshot.port;
        for (const auto& sensor : snapshot.sensors)
            text += sensor ? QStringLiteral("|%1 %2 %3")
                                 .arg(sensor->celsius, 0, 'g', 12)
                                 .arg(sensor->raw)
                                 .arg(sensor->name)
                           : QStringLiteral("|none");
        return text.toStdString();
    };
    EXPECT_EQ(tick(), "sensors connected|11.9791095779 5203 Fridge|10.0379643502 31036 Sensor 2");
    EXPECT_EQ(tick(), "sensor 2 unplugged|11.9791095779 5203 Fridge|none");
    EXPECT_EQ(tick(), "sensor 2 unplugged|none|none"); // the raw values kept from the last read
}

// A publication goes out first, on a change of the port status, and on the tick
// nearest an interval after the last, however its time jitters.
TEST(MqttPayloads, StateDue) {
    MqttSnapshot last;
    last.time = QDateTime::fromMSecsSinceEpoch(1000000);
    last.port = QStringLiteral("sensors connected");
    const std::tuple<qint64, const char*, bool> cases[] = {{1009400, "sensors connected", false},
                                                           {1009600, "sensors connected", true},
                                                           {999999, "sensors connected", true},
                                                           {1001000, "no device", true}};
    EXPECT_TRUE(mqttStateDue(std::nullopt, last, 10));
    for (const auto& [ms, port, due] : cases) {
        MqttSnapshot next = last;
        next.time = QDateTime::fromMSecsSinceEpoch(ms);
        next.port = QString::fromUtf8(port);
        EXPECT_EQ(mqttStateDue(last, next, 10), due) << ms << " " << port;
    }
}

// The discovery configs: topics, and the fields Home Assistant reads.
TEST(MqttPayloads, DiscoveryConfigs) {
    MqttOptions options;
    options.id = QStringLiteral("lab");
    options.intervalSeconds = 7;
    options.discoveryPrefix = QStringLiteral("ha");
    const std::vector<MqttMessage> configs = mqttDiscoveryConfigs(options, QStringLiteral("1.2.3"));
    ASSERT_EQ(configs.size(), 4u);
    const auto text = [&](int i) {
        return (configs[i].topic + u' ' + QString::fromUtf8(configs[i].payload)).toStdString();
    };
    const std::string common =
        R"({"availability_topic":"kelvano/lab/status","device":{"identifiers":["kelvano_lab"],)"
        R"("manufacturer":"Corvanta","model":"Kelvano","name":"Kelvano lab","sw_version":"1.2.3"},)";
    EXPECT_EQ(text(2), "ha/sensor/kelvano_lab/sensor2/config " + common +
                           R"("device_class":"temperature","expire_after":21,"name":"Sensor 2",)"
                           R"("state_class":"measurement","state_topic":"kelvano/lab/state",)"
                           R"("suggested_display_precision":1,"unique_id":"kelvano_lab_sensor2",)"
                           R"("unit_of_measurement":"°C","value_template":"{{ )"
                           R"(value_json.sensor2.celsius if value_json.sensor2 else None }}"})");
    EXPECT_EQ(text(3),
              "ha/binary_sensor/kelvano_lab/alarm2/config " + common +
                  R"("device_class":"problem","name":"Sensor 2 alarm","payload_off":"OFF",)"
                  R"("payload_on":"ON","state_topic":"kelvano/lab/alarm",)"
                  R"("unique_id":"kelvano_lab_alarm2","value_template":"{{ 'OFF' if )"
                  R"(value_json.sensor2 == 'off' else 'ON' }}"})");
    options.discoveryPrefix.clear();
    EXPECT_TRUE(mqttDiscoveryConfigs(options, QStringLiteral("1")).empty());
}
