// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QImage>
#include <QPen>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The graph's strip chart, without a window: a 400 x 250 pixel image with one
// column per second and one row per degree Fahrenheit, row 0 being 200 °F and
// row 249 being -49 °F. Every tick scrolls it one pixel to the left and draws
// the newest segment of both traces at its right edge. The image is the only
// history; nothing is ever redrawn from readings.
class StripChart {
  public:
    static constexpr int Width = 400;
    static constexpr int Height = 250;

    // A fresh chart: the background with the grid every 25 rows and columns.
    explicit StripChart(const QColor& background);

    // One second: values are the two sensors' graph value texts (°F, decimal
    // point), sensor 1 first.
    void tick(const std::array<QString, 2>& values);

    const QImage& image() const { return image_; }

    // The columns a tick draws on, at the right edge; the rest of the image
    // after a tick is the image before it, moved one column to the left.
    static QRect newestColumns();

    // The chart row of a graph value text: 200 minus the value rounded to the
    // nearest whole number, a half going to the even neighbour. Nothing for a
    // text that is not a number or a row that does not fit 16 bits.
    static std::optional<int> row(const QString& value);

  private:
    void scroll();

    QImage image_;
    QPen gridPen_;
    std::array<QPen, 2> tracePens_;
    // The row each trace ended on in the last tick; nothing when it plotted
    // nothing there, so that its next point starts a fresh segment.
    std::array<std::optional<int>, 2> previousRow_;
    int32_t tickCount_ = 0;
};
