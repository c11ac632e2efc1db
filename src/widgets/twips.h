// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QRect>

// The windows are designed in twips; 15 twips make one pixel at 96 dpi, and
// Qt scales pixels for high-dpi screens.
inline QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}
