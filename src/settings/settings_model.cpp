// SPDX-License-Identifier: GPL-3.0-or-later

#include "settings_model.h"

#include "logging/log_run.h"
#include "settings/settings_keys.h"

#include <optional>

using SettingsKeys::Key;

namespace {
const char* const profileCodes[] = {"100", "50", "10"};
const char* const offsetCodes[] = {"3", "2", "1", "0", "-1", "-2", "-3"};

// A stored list position: a whole number from -1 to last; anything else is not a position and
// changes nothing.
std::optional<int> position(const QString& text, int last) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < -1 || value > last)
        return std::nullopt;
    return value;
}

QString& coefficient(Coefficients& k, int i) {
    return i == 0 ? k.a : i == 1 ? k.b : k.c;
}
} // namespace

StoredSettings::StoredSettings(const cl_Kelvano& store)
    : StoredSettings(store.GetAllSettings(SettingsKeys::section())) {}

StoredSettings::StoredSettings(const cl_Kelvano::Values& values) {
    for (const auto& [key, value] : values)
        values_.insert(key, value);
}

QString StoredSettings::value(const QString& key, const QString& current) const {
    return values_.value(key, current);
}

SettingsModel::SettingsModel() {
    for (int s = 1; s <= 2; ++s) {
        Sensor& sensor = at(s);
        sensor.profileText = profilePlaceholder(s);
        for (int n = 1; n <= 3; ++n)
            sensor.names.at(n - 1) = SettingsKeys::defaultText(Key::ProfileName, s, n);
        sensor.entries = sensor.names;
        sensor.coefficients = initialCoefficients(s);
        sensor.profilePosition =
            position(SettingsKeys::defaultText(Key::ProfileSelection), 2).value();
        sensor.offsetPosition = position(SettingsKeys::defaultText(Key::Offset), 6).value();
        sensor.fahrenheit =
            SettingsKeys::readBool(SettingsKeys::defaultText(Key::Fahrenheit)).value();
        sensor.celsius = SettingsKeys::readBool(SettingsKeys::defaultText(Key::Celsius)).value();
    }
    interval_ = position(SettingsKeys::defaultText(Key::Interval), LogRun::choices - 1).value();
}

ChannelInput SettingsModel::channelInput(int s) const {
    const Sensor& sensor = this->sensor(s);
    return {sensor.codes, sensor.coefficients, sensor.profileText};
}

void SettingsModel::setCoefficient(int s, int i, const QString& text) {
    coefficient(at(s).coefficients, i) = text;
}

void SettingsModel::setUnitOptions(int s, bool celsius, bool fahrenheit) {
    at(s).celsius = celsius;
    at(s).fahrenheit = fahrenheit;
}

void SettingsModel::chooseProfile(int s, int position, const StoredSettings& stored) {
    at(s).profilePosition = position;
    if (position < 0 || position > 2)
        return;
    at(s).codes.profile = QLatin1String(profileCodes[position]);
    loadProfile(s, position + 1, stored);
}

void SettingsModel::selectProfile(int s, int position, const StoredSettings& stored) {
    if (at(s).profilePosition != position)
        chooseProfile(s, position, stored);
}

// A profile's stored name and coefficients; what is not stored keeps what is shown, the chooser's
// text falling back to the profile's rename field.
void SettingsModel::loadProfile(int s, int n, const StoredSettings& stored) {
    Sensor& sensor = at(s);
    sensor.profileText =
        stored.value(SettingsKeys::name(Key::ProfileName, s, n), sensor.names[n - 1]);
    for (int i = 0; i < 3; ++i) {
        QString& text = coefficient(sensor.coefficients, i);
        text = stored.value(SettingsKeys::name(SettingsKeys::coefficients[i], s, n), text);
    }
}

void SettingsModel::chooseOffset(int s, int position) {
    at(s).offsetPosition = position;
    if (position >= 0 && position <= 6)
        at(s).codes.offset = QLatin1String(offsetCodes[position]);
}

void SettingsModel::setUnitOption(int s, TemperatureUnit unit, bool checked) {
    Sensor& sensor = at(s);
    bool& option = unit == TemperatureUnit::Celsius ? sensor.celsius : sensor.fahrenheit;
    bool& other = unit == TemperatureUnit::Celsius ? sensor.fahrenheit : sensor.celsius;
    if (!checked || option) {
        option = checked;
        return;
    }
    option = true;
    other = false;
    sensor.codes.unit = unit;
}

void SettingsModel::load(const cl_Kelvano& store) {
    load(StoredSettings(store));
}

// In the order of the panel's own load: each step sees what the steps before it did.
void SettingsModel::load(const StoredSettings& stored) {
    for (int s = 1; s <= 2; ++s) {
        Sensor& sensor = at(s);
        const auto storedSelection = [&] {
            return position(stored.value(SettingsKeys::name(Key::ProfileSelection, s),
                                         QString::number(sensor.profilePosition)),
                            2);
        };
        if (const auto p = storedSelection())
            selectProfile(s, *p, stored);
        for (int n = 1; n <= 3; ++n)
            sensor.names[n - 1] =
                stored.value(SettingsKeys::name(Key::ProfileName, s, n), sensor.names[n - 1]);
        // The entries take the names; the chooser's text stays.
        fillEntries(s);
        if (const auto p = storedSelection(); p && *p >= 0)
            loadProfile(s, *p + 1, stored);
    }

    for (int s = 1; s <= 2; ++s) {
        const QString current = QString::number(sensor(s).offsetPosition);
        const auto p = position(stored.value(SettingsKeys::name(Key::Offset, s), current), 6);
        if (p && *p != sensor(s).offsetPosition)
            chooseOffset(s, *p);
    }

    for (int s = 1; s <= 2; ++s) {
        const std::pair<QString, TemperatureUnit> options[] = {
            {SettingsKeys::name(Key::Fahrenheit, s), TemperatureUnit::Fahrenheit},
            {SettingsKeys::name(Key::Celsius, s), TemperatureUnit::Celsius}};
        for (const auto& [key, unit] : options) {
            const bool checked =
                unit == TemperatureUnit::Celsius ? sensor(s).celsius : sensor(s).fahrenheit;
            if (const auto on =
                    SettingsKeys::readBool(stored.value(key, SettingsKeys::boolText(checked))))
                setUnitOption(s, unit, *on);
        }
    }

    if (const auto p =
            position(stored.value(SettingsKeys::name(Key::Interval), QString::number(interval_)),
                     LogRun::choices - 1))
        interval_ = *p;
}

cl_Kelvano::Values SettingsModel::prepareSave(const StoredSettings& stored) {
    cl_Kelvano::Values values;
    const auto save = [&](const QString& key, const QString& value) {
        values.emplace_back(key, value);
    };
    for (int s = 1; s <= 2; ++s) {
        Sensor& sensor = at(s);
        // A profile name typed into the chooser selects that profile, which loads its stored name
        // and coefficients before they are written back; of two matches the later wins.
        for (int n = 0; n < 3; ++n) {
            if (sensor.profileText == sensor.names[n])
                selectProfile(s, n, stored);
        }
        const int selected = sensor.profilePosition;
        save(SettingsKeys::name(Key::ProfileSelection, s), QString::number(selected));
        for (int n = 1; n <= 3; ++n)
            save(SettingsKeys::name(Key::ProfileName, s, n), sensor.names[n - 1]);
        if (selected >= 0 && selected <= 2) {
            for (int i = 0; i < 3; ++i)
                save(SettingsKeys::name(SettingsKeys::coefficients[i], s, selected + 1),
                     coefficient(sensor.coefficients, i));
        }
    }
    for (int s = 1; s <= 2; ++s)
        save(SettingsKeys::name(Key::Offset, s), QString::number(sensor(s).offsetPosition));
    for (int s = 1; s <= 2; ++s) {
        save(SettingsKeys::name(Key::Fahrenheit, s), SettingsKeys::boolText(sensor(s).fahrenheit));
        save(SettingsKeys::name(Key::Celsius, s), SettingsKeys::boolText(sensor(s).celsius));
    }
    save(SettingsKeys::name(Key::Interval), QString::number(interval_));
    return values;
}
