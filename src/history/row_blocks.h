// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log_reader.h"

#include <array>
#include <utility>
#include <vector>

// The least, mean and greatest value of one sensor over some rows.
struct SensorStats {
    qsizetype count = 0;
    int min = 0, max = 0;
    double mean = 0;
};

// Each sensor's least and greatest value and sum over blocks of rows, so that
// a view of a week of rows is measured, and drawn, in a few thousand steps
// rather than a week's rows.
class RowBlocks {
  public:
    static constexpr qsizetype rowsPerBlock = 32;
    using Range = std::pair<qsizetype, qsizetype>; // rows [first, second)

    // Brings the blocks up to rows that grew at their end; after any other
    // change of the rows, clear() first.
    void update(const LogRows& rows);
    void clear();

    SensorStats stats(const LogRows& rows, int sensor, Range range) const;

    // The rows that draw a sensor's line over a range of time as all of them
    // would on a plot that many pixels wide: of every pixel's rows the least
    // and the greatest value, in time order; all rows when there are few.
    // The rows just before and after the range lead the line in and out.
    std::vector<qsizetype> rowsToDraw(const LogRows& rows, int sensor, double from, double to,
                                      int pixels) const;

  private:
    struct Block {
        qsizetype minRow = 0, maxRow = 0;
        qint64 sum = 0;
    };
    // The rows of the least and the greatest value in a range, and its sum.
    Block extremes(const LogRows& rows, int sensor, Range range) const;

    std::array<std::vector<Block>, 2> blocks_;
    qsizetype rows_ = 0; // rows the blocks cover
};
