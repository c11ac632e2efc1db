// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Helpers shared by the tests that drive the windows.

#include "logging/log_panel.h"
#include "sensor/scripted_source.h"
#include "shell/frm_temp1.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

// The tests' own settings folder, in place before the first test: never the user's.
struct ConfigHome : QTemporaryDir {
    ConfigHome() { qputenv("XDG_CONFIG_HOME", path().toLocal8Bit()); }
};
static const ConfigHome configHome;

// A file's bytes, "(missing)" when it cannot be read.
inline QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// A main window on a replayed port, started up as the program starts it;
// null when start-up ended the program.
inline std::unique_ptr<frmTemp1> loadedWindow(const char* script = "0 5203 31036\n") {
    auto source = ScriptedSource::parse(QString::fromLatin1(script), nullptr);
    auto window = std::make_unique<frmTemp1>(std::make_unique<ScriptedSource>(std::move(*source)));
    if (!window->Form_Load())
        return nullptr;
    return window;
}

// A chooser's entries as one text.
inline QString entries(const QComboBox* chooser) {
    QStringList list;
    for (int i = 0; i < chooser->count(); ++i)
        list << chooser->itemText(i);
    return list.join(QLatin1Char(','));
}
