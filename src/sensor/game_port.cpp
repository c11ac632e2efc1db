// SPDX-License-Identifier: GPL-3.0-or-later

#include "game_port.h"

PortStatus PortStatus::fromReadCode(int32_t code) {
    if (code == PortCode::Ok)
        return {Connected, code};
    if (code == PortCode::Unplugged)
        return {Unplugged, code};
    return {ReadError, code};
}

PortStatus PortStatus::sensorUnplugged(int sensor) {
    return {sensor == 1 ? Sensor1Unplugged : Sensor2Unplugged, 0};
}

QString PortStatus::text() const {
    switch (kind) {
    case NotYetRead:
        return QStringLiteral("port status:");
    case Connected:
        return QStringLiteral("port status: sensors connected");
    case Unplugged:
        return QStringLiteral("port status: sensors unplugged");
    case ReadError:
        return QStringLiteral("port status: joyGetPosEx error, rc = ") + QString::number(code);
    case Sensor1Unplugged:
        return QStringLiteral("port status: sensor 1 unplugged");
    case Sensor2Unplugged:
        return QStringLiteral("port status: sensor 2 unplugged");
    }
    return {};
}
