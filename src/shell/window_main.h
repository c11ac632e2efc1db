// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mqtt/mqtt_options.h"
#include "sensor/game_port.h"

#include <QString>
#include <memory>
#include <optional>

// Why no window opens where no display answers.
inline constexpr char noDisplayMessage[] =
    "kelvano: cannot open a window: no display (set DISPLAY, or use --headless to log without a "
    "window)\n";

// What the program hands to its window library once the command line has been read and
// everything that can fail without a window has been checked.
struct WindowStart {
    int* argc = nullptr;   // with argv: the GUI application object is made from them; null: one
    char** argv = nullptr; // exists already (tests)
    std::unique_ptr<GamePortSource> source; // the main window's port; null with historyPath
    QString historyPath;                    // the history window alone, on this log
    std::optional<QString> metrics;         // serve metrics here (--metrics)
    std::optional<MqttOptions> mqtt;        // publish to this broker
};

// The window library's entry: the main window on the source, or the history window alone,
// until the last window closes. Returns the exit status.
extern "C" int kelvano_window_main(WindowStart* start);
using WindowMain = int (*)(WindowStart*);
