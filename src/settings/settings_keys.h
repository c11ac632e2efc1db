// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The names under which the settings are stored, all in one section.
namespace SettingsKeys {

inline QString section() {
    return QStringLiteral("Settings");
}

// The three coefficients of a profile, in the order of the panel's fields.
inline constexpr char coefficientLetters[] = {'A', 'B', 'C'};

// sensor is 1 or 2, profile 1 to 3, letter 'A', 'B' or 'C'.
inline QString profileSelection(int sensor) {
    return QStringLiteral("cboThermList%1").arg(sensor);
}
inline QString profileName(int sensor, int profile) {
    return QStringLiteral("Sensor%1-%2 Name").arg(sensor).arg(profile);
}
inline QString coefficient(char letter, int sensor, int profile) {
    return QStringLiteral("%1%2-%3_value").arg(QLatin1Char(letter)).arg(sensor).arg(profile);
}
inline QString offset(int sensor) {
    return QStringLiteral("Offset%1").arg(sensor);
}
inline QString fahrenheit(int sensor) {
    return QStringLiteral("Fahrenheit%1").arg(sensor);
}
inline QString celsius(int sensor) {
    return QStringLiteral("Celsius%1").arg(sensor);
}
inline QString interval() {
    return QStringLiteral("cboTimerL");
}

} // namespace SettingsKeys
