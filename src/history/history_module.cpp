// SPDX-License-Identifier: GPL-3.0-or-later
#include "history_module.h"

#include "history/history_window.h"
#include "shell/frm_help.h"

extern "C" QWidget* kelvano_history_show(QWidget* window, const QString* path) {
    auto* history = qobject_cast<HistoryWindow*>(window);
    if (!history) {
        history = new HistoryWindow;
        history->setWindowIcon(programIcon());
    }
    history->show();
    history->raise();
    history->activateWindow();
    // It follows the file as the log writes it.
    if (history->fileName() != *path)
        history->openFile(*path);
    return history;
}
