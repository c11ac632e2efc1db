// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <optional>

// Every key the settings are stored under, all in one section, with what it holds while nothing
// is stored under it. Users' files hold these names: they never change.
namespace SettingsKeys {

inline QString section() {
    return QStringLiteral("Settings");
}

enum class Key {
    ProfileSelection, // the profile chooser's position, -1 (none) to 2
    ProfileName,
    CoefficientA, // the profile's coefficients, in the order of the panel's fields
    CoefficientB,
    CoefficientC,
    Offset,     // the offset chooser's position, -1 (none) to 6
    Fahrenheit, // the unit options
    Celsius,
    Interval, // the log interval chooser's position, -1 (none) to 6
    AlarmHighOn,
    AlarmHigh,
    AlarmLowOn,
    AlarmLow,
    AlarmHysteresis,
    AlarmHold,
    AlarmCommand,
};

// A key's name and its default, where %1 stands for the sensor (1 or 2) and %2 for the profile
// (1 to 3); a default that differs by sensor has sensor 2's own.
struct StoredKey {
    Key key;
    const char* name;
    const char* defaultText;
    const char* sensor2Default = nullptr;
};

inline constexpr StoredKey table[] = {
    {Key::ProfileSelection, "cboThermList%1", "-1"},
    {Key::ProfileName, "Sensor%1-%2 Name", "Sensor %1-%2"},
    {Key::CoefficientA, "A%1-%2_value", "0.001194033", "0.001355699"},
    {Key::CoefficientB, "B%1-%2_value", "0.000256377", "0.000196433"},
    {Key::CoefficientC, "C%1-%2_value", "0.000000230", "0.000000130"},
    {Key::Offset, "Offset%1", "-1"},
    {Key::Fahrenheit, "Fahrenheit%1", "True"},
    {Key::Celsius, "Celsius%1", "False"},
    {Key::Interval, "cboTimerL", "-1"},
    {Key::AlarmHighOn, "Alarm%1HighOn", "False"},
    {Key::AlarmHigh, "Alarm%1High", ""},
    {Key::AlarmLowOn, "Alarm%1LowOn", "False"},
    {Key::AlarmLow, "Alarm%1Low", ""},
    {Key::AlarmHysteresis, "Alarm%1Hysteresis", "1"},
    {Key::AlarmHold, "Alarm%1Hold", "0"},
    {Key::AlarmCommand, "AlarmCommand", ""},
};

// The three coefficients of a profile, in the order of the panel's fields, and their letters.
inline constexpr Key coefficients[] = {Key::CoefficientA, Key::CoefficientB, Key::CoefficientC};
inline constexpr char coefficientLetters[] = {'A', 'B', 'C'};

// The name of a key of sensor (1 or 2) and profile (1 to 3), and what it holds while nothing is
// stored under it.
QString name(Key key, int sensor = 1, int profile = 1);
QString defaultText(Key key, int sensor = 1, int profile = 1);

// An option as stored: "True" or "False" in any case, or a number, 0 being false; nothing for
// any other text (which changes nothing).
std::optional<bool> readBool(const QString& text);
// An option as the program stores it: "True" or "False".
QString boolText(bool value);

} // namespace SettingsKeys
