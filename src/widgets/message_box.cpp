// SPDX-License-Identifier: GPL-3.0-or-later

#include "message_box.h"

namespace Dialogs {
namespace {
QMessageBox::StandardButton nextAnswer = QMessageBox::NoButton;
Box last;
int count = 0;
} // namespace

QMessageBox::StandardButton show(QWidget* parent, const Box& box) {
    last = box;
    ++count;
    if (nextAnswer != QMessageBox::NoButton) {
        const auto answer = nextAnswer;
        nextAnswer = QMessageBox::NoButton;
        return answer;
    }
    QMessageBox message(box.icon, box.title, box.text, box.buttons, parent);
    message.setDefaultButton(box.defaultButton);
    return QMessageBox::StandardButton(message.exec());
}

void setNextAnswer(QMessageBox::StandardButton answer) {
    nextAnswer = answer;
}
const Box& lastBox() {
    return last;
}
int boxesShown() {
    return count;
}

} // namespace Dialogs
