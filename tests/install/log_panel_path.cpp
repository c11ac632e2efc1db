// SPDX-License-Identifier: GPL-3.0-or-later
// Prints where the log panel says the log goes, then starts a log there and says whether the file
// was made: log_folder.sh runs it from a folder that the user may not write.
#include "logging/log_panel.h"

#include <QApplication>
#include <QFileInfo>
#include <QRadioButton>
#include <QWidget>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget client;
    LogPanel panel(&client, [] { return std::array<int16_t, 2>{0, 0}; });
    panel.Option1->click(); // "log it"
    std::printf("%s %s\n", qUtf8Printable(panel.Option1->toolTip()),
                QFileInfo::exists(panel.Option1->toolTip()) ? "written" : "missing");
}
