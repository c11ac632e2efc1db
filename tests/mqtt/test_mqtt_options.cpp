// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_options.h"
#include "mqtt/mqtt_payloads.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The options as one line, so that a table can hold what each command line gives.
QString summary(const MqttOptions& o) {
    return QStringLiteral("%1 user=%2 password=%3 ca=%4 id=%5 every %6 s discovery=%7")
        .arg(o.address(), o.user, o.password, o.caFile.isEmpty() ? "-" : "file", o.id)
        .arg(o.intervalSeconds)
        .arg(o.discoveryPrefix.isEmpty() ? "off" : o.discoveryPrefix);
}

} // namespace

// Each command line's options; each refusal names what is wrong (and, for a password in the
// address, the two ways to give it).
TEST(MqttOptions, CommandLines) {
    QTemporaryDir dir;
    const QString password = dir.filePath("password"), missing = dir.filePath("missing");
    QFile file(password);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("s3cret word\r\nsecond line\n");
    file.close();
    struct Case {
        MqttArguments arguments;
        const char* expected; // the summary, or a part of the refusal
    };
    const auto url = [](const char* text) {
        MqttArguments a;
        a.url = text;
        a.hostName = QStringLiteral("Lab-PC.local");
        return a;
    };
    auto with = [](MqttArguments a, auto member, const QString& value) {
        a.*member = value;
        return a;
    };
    const Case cases[] = {
        {url("mqtt://broker"), "mqtt://broker:1883 user= password= ca=- id=lab-pc_local every 10 s "
                               "discovery=homeassistant"},
        {url("mqtts://ha@broker.lan:8884/"), "mqtts://broker.lan:8884 user=ha password="},
        {url("mqtts://[::1]"), "mqtts://[::1]:8883"},
        {url("MQTT://h%40m@10.0.0.2:1"), "mqtt://10.0.0.2:1 user=h@m"},
        {url("mqtt://h:65535"), "mqtt://h:65535"},
        {with(with(url("mqtt://u@h"), &MqttArguments::envPassword, "env"), &MqttArguments::id,
              "Kitchen_2-b"),
         "password=env ca=- id=Kitchen_2-b"},
        {with(url("mqtt://h"), &MqttArguments::envPassword, "env"), "user= password= "},
        {with(with(url("mqtt://u@h"), &MqttArguments::envPassword, "env"),
              &MqttArguments::passwordFile, password),
         "password=s3cret word ca"},
        {with(with(url("mqtts://h"), &MqttArguments::caFile, password), &MqttArguments::interval,
              "86400"),
         "ca=file id=lab-pc_local every 86400 s"},
        {with(url("mqtt://h"), &MqttArguments::discovery, "off"), "every 10 s discovery=off"},
        {with(url("mqtt://h"), &MqttArguments::discovery, "ha/disc"), "discovery=ha/disc"},
        // Refusals.
        {url("broker"), "kelvano: --mqtt broker: not a broker address; write mqtt://"},
        {url("mqtt://"), "not a broker address"},
        {url("mqtt://h/path"), "not a broker address"},
        {url("http://h"), "unknown scheme 'http'"},
        {url("mqtt://h:0"), "from 1 to 65535"},
        {url("mqtt://h:65536"), "from 1 to 65535"},
        {url("mqtt://h:123456"), "from 1 to 65535"},
        {url("mqtt://u:pw@h"), "password, which every user of this computer can read; give it in "
                               "the environment variable KELVANO_MQTT_PASSWORD or in a file named "
                               "by --mqtt-password-file"},
        {url("mqtt://u:@h"), "KELVANO_MQTT_PASSWORD"},
        {with(url("mqtts://h"), &MqttArguments::caFile, missing), "--mqtt-ca"},
        {with(url("mqtt://h"), &MqttArguments::caFile, password), "mqtts:// address only"},
        {with(url("mqtt://u@h"), &MqttArguments::passwordFile, missing), "cannot read it"},
        {with(url("mqtt://h"), &MqttArguments::passwordFile, password), "needs a user"},
        {with(url("mqtt://h"), &MqttArguments::interval, "0"), "--mqtt-interval 0: give"},
        {with(url("mqtt://h"), &MqttArguments::interval, "86401"), "from 1 to 86400"},
        {with(url("mqtt://h"), &MqttArguments::interval, "1.5"), "from 1 to 86400"},
        {with(url("mqtt://h"), &MqttArguments::id, "a/b"), "--mqtt-id a/b"},
        {with(url("mqtt://h"), &MqttArguments::discovery, "ha/#"), "--mqtt-discovery ha/#"},
    };
    for (const Case& c : cases) {
        const MqttOptionsResult result = parseMqttOptions(c.arguments);
        const QString text = result.options ? summary(*result.options) : result.error;
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.expected)))
            << c.arguments.url.toStdString() << " gives " << text.toStdString();
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
    EXPECT_EQ(mqttAlarmWord(false, true, false), QStringLiteral("low"));
    EXPECT_EQ(mqttAlarmWord(true, true, true), QStringLiteral("unplugged"));
}

// A tick's snapshot: each sensor's temperature after its offset (+2 on sensor 1), unrounded,
// and its name ("Sensor 2" while no profile is chosen); an unplugged sensor and a failed read
// give none; the port status without its heading.
TEST(MqttPayloads, SnapshotOfATick) {
    ScriptedSource source({{0, 5203, 31036}, {0, 5203, 0}, {167, {}, {}}});
    std::array<ChannelInput, 2> inputs;
    for (int s : {1, 2})
        inputs[s - 1].coefficients = initialCoefficients(s);
    inputs[0].profileText = QStringLiteral("Fridge");
    inputs[0].codes.offset = QStringLiteral("2");
    SamplingCycle cycle;
    const QDateTime time = QDateTime::fromSecsSinceEpoch(1000);
    cycle.tick(source, inputs);
    MqttSnapshot snapshot = MqttSnapshot::of(cycle, time);
    EXPECT_EQ(snapshot.time, time);
    EXPECT_EQ(snapshot.port, QStringLiteral("sensors connected"));
    ASSERT_TRUE(snapshot.sensors[0] && snapshot.sensors[1]);
    EXPECT_DOUBLE_EQ(snapshot.sensors[0]->celsius,
                     *steinhartHartCelsius(5203, initialCoefficients(1)) + 2);
    EXPECT_EQ(snapshot.sensors[0]->raw, 5203u);
    EXPECT_EQ(snapshot.sensors[0]->name, QStringLiteral("Fridge"));
    EXPECT_EQ(snapshot.sensors[1]->name, QStringLiteral("Sensor 2"));
    cycle.tick(source, inputs);
    snapshot = MqttSnapshot::of(cycle, time);
    EXPECT_EQ(snapshot.port, QStringLiteral("sensor 2 unplugged"));
    EXPECT_TRUE(snapshot.sensors[0] && !snapshot.sensors[1]);
    cycle.tick(source, inputs);
    snapshot = MqttSnapshot::of(cycle, time);
    EXPECT_FALSE(snapshot.sensors[0] || snapshot.sensors[1]);
}

// A publication goes out first, on a change of the port status, and on the tick nearest an
// interval after the last, however its time jitters.
TEST(MqttPayloads, StateDue) {
    MqttSnapshot last;
    last.time = QDateTime::fromMSecsSinceEpoch(1000000);
    last.port = QStringLiteral("sensors connected");
    const struct {
        qint64 ms;
        const char* port;
        bool due;
    } cases[] = {{1009400, "sensors connected", false},
                 {1009600, "sensors connected", true},
                 {999999, "sensors connected", true},
                 {1001000, "no device", true}};
    EXPECT_TRUE(mqttStateDue(std::nullopt, last, 10));
    for (const auto& c : cases) {
        MqttSnapshot next = last;
        next.time = QDateTime::fromMSecsSinceEpoch(c.ms);
        next.port = QString::fromUtf8(c.port);
        EXPECT_EQ(mqttStateDue(last, next, 10), c.due) << c.ms << " " << c.port;
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
    EXPECT_EQ(configs[2].topic, QStringLiteral("ha/sensor/kelvano_lab/sensor2/config"));
    EXPECT_EQ(configs[3].topic, QStringLiteral("ha/binary_sensor/kelvano_lab/alarm2/config"));
    const QJsonObject sensor = QJsonDocument::fromJson(configs[2].payload).object();
    const QJsonObject alarm = QJsonDocument::fromJson(configs[3].payload).object();
    const QJsonObject device{{"identifiers", QJsonArray{"kelvano_lab"}},
                             {"name", "Kelvano lab"},
                             {"manufacturer", "Corvanta"},
                             {"model", "Kelvano"},
                             {"sw_version", "1.2.3"}};
    EXPECT_EQ(sensor,
              (QJsonObject{{"name", "Sensor 2"},
                           {"unique_id", "kelvano_lab_sensor2"},
                           {"device_class", "temperature"},
                           {"state_class", "measurement"},
                           {"unit_of_measurement", "°C"},
                           {"suggested_display_precision", 1},
                           {"state_topic", "kelvano/lab/state"},
                           {"value_template",
                            "{{ value_json.sensor2.celsius if value_json.sensor2 else None }}"},
                           {"availability_topic", "kelvano/lab/status"},
                           {"expire_after", 21},
                           {"device", device}}));
    EXPECT_EQ(alarm, (QJsonObject{
                         {"name", "Sensor 2 alarm"},
                         {"unique_id", "kelvano_lab_alarm2"},
                         {"device_class", "problem"},
                         {"state_topic", "kelvano/lab/alarm"},
                         {"value_template", "{{ 'OFF' if value_json.sensor2 == 'off' else 'ON' }}"},
                         {"payload_on", "ON"},
                         {"payload_off", "OFF"},
                         {"availability_topic", "kelvano/lab/status"},
                         {"device", device}}));
    options.discoveryPrefix.clear();
    EXPECT_TRUE(mqttDiscoveryConfigs(options, QStringLiteral("1")).empty());
}
