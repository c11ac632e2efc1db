// SPDX-License-Identifier: GPL-3.0-or-later

#include "strip_chart.h"

#include "sensor/conversion.h"

#include <QPainter>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {
constexpr int gridStep = 25;
// New segments join the last column that holds a point to the new point's
// column. The column right of them is never drawn on.
constexpr int lastColumn = StripChart::Width - 3;
constexpr int newColumn = StripChart::Width - 2;
} // namespace

StripChart::StripChart(const QColor& background)
    : image_(Width, Height, QImage::Format_RGB32),
      gridPen_(Qt::black, 1), tracePens_{QPen(QColor(255, 0, 0), 2), QPen(QColor(0, 0, 255), 2)} {
    image_.fill(background);
    QPainter painter(&image_);
    painter.setPen(gridPen_);
    for (int y = gridStep; y < Height; y += gridStep)
        painter.drawLine(0, y, Width, y);
    for (int x = gridStep; x < Width; x += gridStep)
        painter.drawLine(x, 0, x, Height);
}

QRect StripChart::newestColumns() {
    // A 2-pixel pen reaches a column to the left of where its segment starts.
    return QRect(lastColumn - 1, 0, Width - (lastColumn - 1), Height);
}

std::optional<int> StripChart::row(const QString& value) {
    const std::optional<double> fahrenheit = parseNumber(value);
    if (!fahrenheit)
        return std::nullopt;
    const double r = 200.0 - roundHalfEven(*fahrenheit);
    if (r < std::numeric_limits<int16_t>::min() || r > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return int(r);
}

void StripChart::scroll() {
    // Columns 1..399 move onto 0..398. The rightmost column keeps what it got
    // at the start, background and horizontal grid, and so carries the grid
    // into every new column.
    uchar* line = image_.bits();
    for (int y = 0; y < Height; ++y, line += image_.bytesPerLine())
        std::memmove(line, line + sizeof(QRgb), (Width - 1) * sizeof(QRgb));
}

void StripChart::tick(const std::array<QString, 2>& values) {
    scroll();
    QPainter painter(&image_);
    painter.setClipRect(0, 0, Width - 1, Height);
    if (tickCount_ % gridStep == 0) {
        painter.setPen(gridPen_);
        painter.drawLine(newColumn, 0, newColumn, Height);
    }
    for (std::size_t s = 0; s < values.size(); ++s) {
        const std::optional<int> now = row(values[s]);
        if (now) {
            const int from = previousRow_[s].value_or(*now);
            // A segment wholly above or below the chart draws nothing, so the
            // pen's width never brings a reading beyond the scale onto the
            // edge row.
            if (std::max(from, *now) >= 0 && std::min(from, *now) < Height) {
                painter.setPen(tracePens_[s]);
                painter.drawLine(lastColumn, from, newColumn, *now);
            }
        }
        previousRow_[s] = now;
    }
    ++tickCount_;
}
