// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_rule.h"
#include "settings/cl_kelvano.h"
#include "settings/settings_model.h"

#include <QString>
#include <QStringList>
#include <array>

// Everything the alarms dialog sets: both sensors' limits (each in its
// sensor's unit) and the command run for every event.
struct AlarmSettings {
    std::array<AlarmLimits, 2> sensors;
    QString command;
};

// One sensor's limits as texts, as typed into the dialog or stored.
struct AlarmLimitTexts {
    bool highOn = false;
    QString high;
    bool lowOn = false;
    QString low;
    QString hysteresis = QStringLiteral("1");
    QString hold = QStringLiteral("0");
};

// What is wrong with each text; empty where nothing is.
struct AlarmLimitErrors {
    QString high, low, hysteresis, hold;
    bool any() const {
        return !high.isEmpty() || !low.isEmpty() || !hysteresis.isEmpty() || !hold.isEmpty();
    }
};

// Checks the texts of one sensor in its unit and, where they parse, sets the
// values of limits (a limit that is off is not checked).
AlarmLimitErrors checkLimits(const AlarmLimitTexts& texts, TemperatureUnit unit,
                             AlarmLimits& limits);
AlarmLimitTexts textsOf(const AlarmLimits& limits);

// The longest command, in characters.
constexpr int maxCommandLength = 4096;
// What is wrong with a command; empty when nothing is.
QString commandError(const QString& command);

// The stored alarm settings, the limits taken in the given units. A sensor
// with a stored value that the dialog would refuse has no limit on, and a
// command it would refuse is none; each refused key adds a line to refused.
AlarmSettings readAlarmSettings(const StoredSettings& stored,
                                const std::array<TemperatureUnit, 2>& units,
                                QStringList* refused = nullptr);
// True when any alarm key is stored.
bool alarmSettingsStored(const StoredSettings& stored);
// The keys and texts that store settings.
cl_Kelvano::Values alarmValues(const AlarmSettings& settings);
