// SPDX-License-Identifier: GPL-3.0-or-later
// Kelvano: a two-channel thermometer on the two analogue axes of a game port.

#include "program.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvano"));
    QApplication::setApplicationVersion(QStringLiteral(KELVANO_VERSION));
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KELVANO_APP_ID));
    return runProgram(QApplication::arguments());
}
