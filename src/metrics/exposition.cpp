// SPDX-License-Identifier: GPL-3.0-or-later
#include "exposition.h"

#include "sensor/sampling_cycle.h"

#include <QLocale>

void MetricsState::record(const SamplingCycle& cycle, int64_t msecsSinceEpoch) {
    const PortReading& reading = cycle.reading();
    read = true;
    portCode = reading.result;
    lastReadTime = double(msecsSinceEpoch) / 1000.0;
    ++reads;
    if (reading.result != PortCode::Ok)
        ++readErrors[reading.result];
    // After a failed read the tick converts the previous raw values again;
    // those are not this read's, so they give no temperature here.
    const std::array<uint32_t, 2> raws = {reading.x, reading.y};
    for (int i = 0; i < 2; ++i) {
        Sensor& sensor = sensors[i];
        sensor.name = sensorName(cycle.displays(), i + 1);
        sensor.raw = raws[i];
        sensor.celsius.reset();
        if (reading.result == PortCode::Ok && !isUnplugged(raws[i]))
            sensor.celsius = cycle.readout(i + 1).exactCelsius;
    }
}

QString escapeLabelValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

namespace {

// A sample value as the format writes it: the shortest decimal text that reads
// back as the same double. Every value here is finite (the conversion gives no
// other), so the format's NaN and Inf are never needed.
QByteArray number(double value) {
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest).toUtf8();
}

class Writer {
  public:
    void family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }
    // labels: name and value pairs; values unescaped.
    void sample(std::initializer_list<std::pair<const char*, QString>> labels, double value) {
        text_ += name_;
        if (labels.size() > 0) {
            char separator = '{';
            for (const auto& [label, labelValue] : labels) {
                text_ += separator;
                text_ += label;
                text_ += "=\"";
                text_ += escapeLabelValue(labelValue).toUtf8();
                text_ += '"';
                separator = ',';
            }
            text_ += '}';
        }
        text_ += ' ';
        text_ += number(value);
        text_ += '\n';
    }
    QByteArray take() { return std::move(text_); }

  private:
    QByteArray text_;
    const char* name_ = "";
};

QString sensorLabel(int index) {
    return QString::number(index + 1);
}

} // namespace

QByteArray expositionText(const MetricsState& state) {
    Writer out;
    out.family("kelvano_temperature_celsius", "gauge",
               "Temperature of the sensor in degrees Celsius after the offset, unrounded. "
               "No sample while the sensor's last read failed.");
    for (int i = 0; i < 2; ++i) {
        if (state.read && state.sensors[i].celsius)
            out.sample({{"sensor", sensorLabel(i)}, {"name", state.sensors[i].name}},
                       *state.sensors[i].celsius);
    }
    out.family("kelvano_raw_value", "gauge",
               "Raw value of the sensor's axis at the last successful read of the port "
               "(0: the sensor is unplugged).");
    for (int i = 0; i < 2; ++i) {
        if (state.read && state.portCode == 0)
            out.sample({{"sensor", sensorLabel(i)}}, state.sensors[i].raw);
    }
    out.family("kelvano_port_up", "gauge",
               "1 while the last read of the game port succeeded, else 0.");
    out.sample({}, state.read && state.portCode == 0 ? 1 : 0);
    out.family("kelvano_port_status_code", "gauge",
               "Result code of the last read of the game port (0 success, 167 unplugged, "
               "165 no device, anything else a read error).");
    if (state.read)
        out.sample({}, state.portCode);
    out.family("kelvano_reads_total", "counter",
               "Reads of the game port since the program started.");
    out.sample({}, double(state.reads));
    out.family("kelvano_read_errors_total", "counter",
               "Failed reads of the game port since the program started, by result code.");
    for (const auto& [code, count] : state.readErrors)
        out.sample({{"code", QString::number(code)}}, double(count));
    out.family("kelvano_last_read_timestamp_seconds", "gauge",
               "Time of the last read of the game port, in seconds since 1970.");
    if (state.read)
        out.sample({}, state.lastReadTime);
    if (!state.alarms.empty()) {
        out.family("kelvano_alarm_active", "gauge",
                   "1 while the alarm of this limit is on, else 0; one series per limit that is "
                   "switched on.");
        for (const AlarmLimitState& alarm : state.alarms)
            out.sample({{"sensor", QString::number(alarm.sensor)}, {"limit", alarm.limit}},
                       alarm.active ? 1 : 0);
    }
    if (state.mqttConnected) {
        out.family("kelvano_mqtt_connected", "gauge",
                   "1 while the MQTT broker given with --mqtt is connected, else 0.");
        out.sample({}, *state.mqttConnected ? 1 : 0);
    }
    out.family("kelvano_build_info", "gauge", "Always 1; the version of the running program.");
    out.sample({{"version", state.version}}, 1);
    return out.take();
}
