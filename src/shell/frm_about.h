// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The About window: logo, name, version and a few lines about the program on
// a white background, and a Close button. A top-level window that deletes
// itself when closed.
class frmAbout : public QWidget {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label6;
    QLabel* Label2;
    QLabel* Label4;
    QLabel* Label5;
    QPushButton* Command1;

  private:
    void Command1_Click();
};
