// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class SamplingCycle;

// One limit of the alarm rule: "high" or "low" of sensor 1 or 2.
struct AlarmLimitState {
    int sensor = 1;
    QString limit;
    bool active = false;
};

// What the metrics page reports: the results of the last tick and the counts
// since the program started.
struct MetricsState {
    struct Sensor {
        QString name;                  // the profile's name, as the readout's title shows it
        uint32_t raw = 0;              // the last raw value
        std::optional<double> celsius; // none while this sensor's last read failed
    };

    QString version;
    bool read = false;                      // the port has been read at least once
    int32_t portCode = 0;                   // the last read's result code
    double lastReadTime = 0;                // seconds since 1970
    uint64_t reads = 0;                     // reads since start
    std::map<int32_t, uint64_t> readErrors; // failed reads since start, by result code
    std::array<Sensor, 2> sensors;
    std::vector<AlarmLimitState> alarms; // one entry per limit that is switched on
    std::optional<bool> mqttConnected;   // with a broker (--mqtt): whether it is connected

    // Takes in the results of a tick made at msecsSinceEpoch.
    void record(const SamplingCycle& cycle, int64_t msecsSinceEpoch);
};

// The state in the Prometheus text exposition format, version 0.0.4.
QByteArray expositionText(const MetricsState& state);

// The content type of that text.
inline const char* expositionContentType() {
    return "text/plain; version=0.0.4; charset=utf-8";
}

// A label value as the format writes it between its quotes: backslash, double
// quote and line feed escaped.
QString escapeLabelValue(const QString& value);
