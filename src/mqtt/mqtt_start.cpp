// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_module.h"

#include "modules.h"

#include <QCoreApplication>
#include <cstdio>

bool startMqtt(const std::optional<MqttOptions>& options, Station* station,
               std::function<void(bool)> connectionChanged, std::unique_ptr<QObject>* listener) {
    if (!options)
        return true;
    QString error;
    const auto start =
        reinterpret_cast<MqttStartFunction>(moduleFunction("mqtt", "kelvano_mqtt_start", &error));
    if (!start) {
        std::fprintf(stderr, "kelvano: cannot publish to a broker: %s\n", qUtf8Printable(error));
        return false;
    }
    const MqttStart what{station, *options, QCoreApplication::applicationVersion(),
                         std::move(connectionChanged)};
    listener->reset(start(&what));
    return true;
}
