// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_module.h"

#include "modules.h"

std::unique_ptr<QObject> startMqtt(const MqttStart& start, QString* error) {
    const auto function =
        reinterpret_cast<MqttStartFunction>(moduleFunction("mqtt", "kelvano_mqtt_start", error));
    return std::unique_ptr<QObject>(function ? function(&start) : nullptr);
}
