// SPDX-License-Identifier: GPL-3.0-or-later

#include "settings/settings_keys.h"

#include <QLocale>

namespace SettingsKeys {

namespace {
// The table holds every key once, in the order of Key.
constexpr bool inOrder() {
    int i = 0;
    for (const StoredKey& k : table)
        if (int(k.key) != i++)
            return false;
    return i == int(Key::AlarmCommand) + 1;
}
static_assert(inOrder());

QString filled(const char* pattern, int sensor, int profile) {
    return QString::fromLatin1(pattern)
        .replace(QLatin1String("%1"), QString::number(sensor))
        .replace(QLatin1String("%2"), QString::number(profile));
}
} // namespace

QString name(Key key, int sensor, int profile) {
    return filled(table[int(key)].name, sensor, profile);
}

QString defaultText(Key key, int sensor, int profile) {
    const StoredKey& k = table[int(key)];
    return filled(sensor == 2 && k.sensor2Default ? k.sensor2Default : k.defaultText, sensor,
                  profile);
}

std::optional<bool> readBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(t, &ok);
    if (!ok)
        return std::nullopt;
    return number != 0.0;
}

QString boolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace SettingsKeys
