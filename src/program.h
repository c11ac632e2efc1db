// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStringList>

// main(): reads the command line before any application object exists and
// makes the one the run needs, a GUI application only for a window, so that
// everything but the window works without a display. Returns the exit status.
int kelvanoMain(int argc, char* argv[]);

// Runs the program as the command line asks, in an application object that
// exists already: the port source, start-up, then the event loop until the
// last window closes; or, for --list-devices, the joystick list. Returns the
// exit status: 0 after a normal end, 1 when there was no game-port device (or
// no joystick to list), 2 for a command line, device name or replay file it
// cannot use.
int runProgram(const QStringList& arguments);
