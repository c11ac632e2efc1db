// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sensor/sampling_cycle.h"
#include "settings/cl_kelvano.h"

#include <QHash>
#include <QString>
#include <array>

// The values of the settings section as one read of the store found them.
class StoredSettings {
  public:
    StoredSettings() = default; // nothing stored
    explicit StoredSettings(const cl_Kelvano& store);
    explicit StoredSettings(const cl_Kelvano::Values& values);

    // The stored text of key, or current when nothing is stored under it.
    QString value(const QString& key, const QString& current) const;

  private:
    QHash<QString, QString> values_;
};

// The live settings of both sensors and of the log interval: what every sampling tick and the log
// read, and what the setup panel shows and edits. No widget in sight, so the run without a window
// loads and uses the settings exactly as the window does.
//
// Positions are list positions of the panel's choosers (-1: no entry selected). The operations
// named after the panel's handlers do what choosing on the panel does; the plain setters only
// record what a control now shows.
class SettingsModel {
  public:
    struct Sensor {
        int profilePosition = -1;
        QString profileText;            // the profile chooser's text: the name the readout shows
        std::array<QString, 3> entries; // the profile chooser's three entries
        std::array<QString, 3> names;   // the rename fields
        Coefficients coefficients;      // the active profile's A, B and C fields
        int offsetPosition = -1;
        bool celsius = false; // the unit options
        bool fahrenheit = true;
        ChannelSettings codes;
    };

    // The settings as the window has them after start-up, before the stored settings are loaded.
    SettingsModel();

    // Loads the stored settings as start-up and "Refresh Settings" do, with one read of the store:
    // a stored value replaces the current one, a missing or unusable one changes nothing.
    void load(const cl_Kelvano& store);
    void load(const StoredSettings& stored);

    // Save: a profile name typed into a sensor's chooser first selects that profile (loading it
    // from stored); then the values to store, every setting under its key.
    cl_Kelvano::Values prepareSave(const StoredSettings& stored);

    // What the sampling tick needs of a sensor (1 or 2).
    ChannelInput channelInput(int sensor) const;
    int intervalPosition() const { return interval_; }

    // s is 1 or 2; any other number is a fault of the caller, which throws.
    const Sensor& sensor(int s) const { return sensors_.at(s - 1); }
    ChannelSettings& codes(int s) { return sensors_.at(s - 1).codes; }

    // A profile chosen from the list, even the one already selected: its code, and its stored name
    // and coefficients where they are stored.
    void chooseProfile(int s, int position, const StoredSettings& stored);
    // A selection made in code: as chooseProfile, but only when the position changes; clearing
    // the selection keeps the chooser's text.
    void selectProfile(int s, int position, const StoredSettings& stored);
    void chooseOffset(int s, int position);
    // Selecting an option clears the sensor's other one and, when it was not selected yet, sets
    // the unit code; clearing an option only clears it.
    void setUnitOption(int s, TemperatureUnit unit, bool checked);

    void setProfilePosition(int s, int position) { at(s).profilePosition = position; }
    void setProfileText(int s, const QString& text) { at(s).profileText = text; }
    // The chooser's entries become the rename fields' texts, as at start-up.
    void fillEntries(int s) { at(s).entries = at(s).names; }
    void setName(int s, int n, const QString& text) { at(s).names[n - 1] = text; }
    void setCoefficient(int s, int i, const QString& text);
    void setUnitOptions(int s, bool celsius, bool fahrenheit);
    void setIntervalPosition(int position) { interval_ = position; }

  private:
    Sensor& at(int s) { return sensors_.at(s - 1); }
    void loadProfile(int s, int n, const StoredSettings& stored);

    std::array<Sensor, 2> sensors_;
    int interval_ = -1;
};
