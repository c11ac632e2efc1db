// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

// The history window lives in a library of its own, with the plot library it draws with, and is
// loaded when the first history window opens.

// In the history library: shows `window`, or a new history window when it is null, on the log
// at *path, and brings it up. Returns the window shown; it deletes itself when closed.
extern "C" QWidget* kelvano_history_show(QWidget* window, const QString* path);
using HistoryShow = QWidget* (*)(QWidget*, const QString*);

// In the window library: the same through the loaded history library. Null, with the reason in
// *error, when that library cannot be loaded.
QWidget* showHistoryWindow(QWidget* window, const QString& path, QString* error);
