// SPDX-License-Identifier: GPL-3.0-or-later

#include "alarms/alarm_settings.h"
#include "logging/log_run.h"
#include "settings/settings_model.h"

#include <gtest/gtest.h>

// Every option reads alike: a unit option and an alarm limit's switch, as the program stores them
// ("True", "False"), typed in another case, or as a number, 0 being false. Other texts change
// nothing: the Fahrenheit option stays on, the high limit off.
TEST(StoredSettings, OptionsReadAlike) {
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
        EXPECT_EQ(readAlarmSettings(alarm, {}).sensors[0].highOn, highOn) << text;
    }
}

// How far apart each of the log interval chooser's entries writes the rows; a position outside
// them (none chosen) means the first.
TEST(StoredSettings, LogIntervals) {
    QStringList ms;
    for (int position = -1; position <= LogRun::choices; ++position)
        ms << QString::number(LogRun::intervalMs(position));
    EXPECT_EQ(ms.join(u' ').toStdString(), "1000 1000 5000 6000 10000 15000 30000 60000 1000");
}
