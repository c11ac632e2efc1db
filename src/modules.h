// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The window and the history window are libraries of their own, loaded only when a window of
// theirs opens: a run without a window maps no widget, drawing or plot library. So is the desktop
// notifications' side of the session bus, loaded with the first notification. They lie in the
// folder of the program's core library (in the build folder, beside the program; installed, in
// the package's private library folder).

// The function `symbol` of the library libkelvano-NAME.so, loaded on first use and kept loaded.
// Null, with the reason in *error, when the library or the function cannot be found.
void* moduleFunction(const char* name, const char* symbol, QString* error);
