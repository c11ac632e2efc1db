// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The ReadMe window: the program's built-in ReadMe text in a read-only text
// box, and a Close button. A top-level window that deletes itself when closed.
class frmHelp : public QWidget {
    Q_OBJECT
  public:
    explicit frmHelp(QWidget* parent = nullptr);

    // The ReadMe text, compiled into the program (never read from disk).
    static QString readMeText();

    QPlainTextEdit* txtFile;
    QPushButton* cmdClose;

  private:
    void cmdClose_Click();
};

// Registers the shell's compiled-in resources (icons, ReadMe). Safe to call
// more than once; the windows call it themselves.
void initShellResources();

// The program's icon, for its windows and the tray.
QIcon programIcon();
