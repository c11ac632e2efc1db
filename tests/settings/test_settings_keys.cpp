// SPDX-License-Identifier: GPL-3.0-or-later

#include "alarms/alarm_settings.h"
#include "logging/log_run.h"
#include "settings/settings_keys.h"
#include "settings/settings_model.h"

#include <gtest/gtest.h>

using SettingsKeys::Key;

// The names users' files hold, and what a key holds while nothing is stored under it.
TEST(SettingsKeys, NamesAndDefaults) {
    const std::tuple<Key, int, int, const char*, const char*> cases[] = {
        {Key::ProfileSelection, 2, 1, "cboThermList2", "-1"},
        {Key::ProfileName, 1, 3, "Sensor1-3 Name", "Sensor 1-3"},
        {Key::CoefficientA, 1, 2, "A1-2_value", "0.001194033"},
        {Key::CoefficientC, 2, 3, "C2-3_value", "0.000000130"},
        {Key::Offset, 2, 1, "Offset2", "-1"},
        {Key::Fahrenheit, 1, 1, "Fahrenheit1", "True"},
        {Key::Celsius, 2, 1, "Celsius2", "False"},
        {Key::Interval, 2, 1, "cboTimerL", "-1"},
        {Key::AlarmHighOn, 2, 1, "Alarm2HighOn", "False"},
        {Key::AlarmLow, 1, 1, "Alarm1Low", ""},
        {Key::AlarmHysteresis, 2, 1, "Alarm2Hysteresis", "1"},
        {Key::AlarmHold, 1, 1, "Alarm1Hold", "0"},
        {Key::AlarmCommand, 2, 1, "AlarmCommand", ""},
    };
    for (const auto& [key, sensor, profile, name, value] : cases) {
        EXPECT_EQ(SettingsKeys::name(key, sensor, profile).toStdString(), name);
        EXPECT_EQ(SettingsKeys::defaultText(key, sensor, profile).toStdString(), value) << name;
    }
}

// Every option reads alike: a unit option and an alarm limit's switch, as the program stores them
// ("True", "False"), typed in another case, or as a number, 0 being false. Other texts change
// nothing: the Fahrenheit option stays on, the high limit off.
TEST(SettingsKeys, OptionsReadAlike) {
    const std::tuple<const char*, bool, bool> cases[] = {
        {"True", true, true}, {"false", false, false}, {"TRUE", true, true}, {"1", true, true},
        {"0", false, false},  {"2", true, true},       {"", true, false},    {"yes", true, false},
    };
    for (const auto& [text, fahrenheit, highOn] : cases) {
        SettingsModel model;
        model.load(StoredSettings(cl_Kelvano::Values{{"Fahrenheit1", text}}));
        EXPECT_EQ(model.sensor(1).fahrenheit, fahrenheit) << text;
        const StoredSettings alarm(
            cl_Kelvano::Values{{"Alarm1HighOn", text}, {"Alarm1High", "25"}});
        EXPECT_EQ(readAlarmSettings(alarm, {'F', 'F'}).sensors[0].highOn, highOn) << text;
    }
}

// The log interval chooser's entries and how far apart each writes the rows; a stored position
// outside them is the first.
TEST(SettingsKeys, LogIntervals) {
    EXPECT_EQ(LogRun::intervalLabels().join(u',').toStdString(),
              "1 Second,5 Seconds,6 Seconds,10 Seconds,15 Seconds,30 Seconds,1 Minute");
    const std::pair<int, int> cases[] = {{-1, 1000}, {0, 1000},  {1, 5000},  {2, 6000}, {3, 10000},
                                         {4, 15000}, {5, 30000}, {6, 60000}, {7, 1000}};
    for (const auto& [position, ms] : cases)
        EXPECT_EQ(LogRun::intervalMs(position), ms) << position;
}
