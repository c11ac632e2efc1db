// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QComboBox>
#include <QPalette>

// A chooser with no entry selected shows its text as an ordinary entry would,
// not greyed out as if the chooser were disabled.
inline void showPlaceholderAsText(QComboBox* chooser, const QString& text) {
    chooser->setPlaceholderText(text);
    QPalette palette = chooser->palette();
    palette.setColor(QPalette::PlaceholderText, palette.color(QPalette::ButtonText));
    chooser->setPalette(palette);
}
