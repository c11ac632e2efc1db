// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMessageBox>
#include <QString>

// Every modal box of the program goes through here, so that tests can answer
// a box instead of a person and read what it said.
namespace Dialogs {

struct Box {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

QMessageBox::StandardButton show(QWidget* parent, const Box& box);

// For tests: the next box is not shown but answered with this button.
void setNextAnswer(QMessageBox::StandardButton answer);
// For tests: the last box that was asked for, shown or answered.
const Box& lastBox();
int boxesShown();

} // namespace Dialogs
