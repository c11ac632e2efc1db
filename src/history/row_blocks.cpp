// SPDX-License-Identifier: GPL-3.0-or-later
#include "row_blocks.h"

#include <algorithm>

void RowBlocks::clear() {
    for (auto& blocks : blocks_)
        blocks.clear();
    rows_ = 0;
}

void RowBlocks::update(const LogRows& rows) {
    // The last block may have been partly filled: made again.
    const qsizetype first = rows_ / rowsPerBlock;
    for (int sensor = 1; sensor <= 2; ++sensor) {
        std::vector<Block>& blocks = blocks_[sensor - 1];
        blocks.resize(first);
        for (qsizetype start = first * rowsPerBlock; start < rows.size(); start += rowsPerBlock) {
            Block block{start, start, 0};
            const QList<qint16>& values = rows.sensor(sensor);
            const qsizetype end = qMin(start + rowsPerBlock, rows.size());
            for (qsizetype i = start; i < end; ++i) {
                if (values[i] < values[block.minRow])
                    block.minRow = i;
                if (values[i] > values[block.maxRow])
                    block.maxRow = i;
                block.sum += values[i];
            }
            blocks.push_back(block);
        }
    }
    rows_ = rows.size();
}

RowBlocks::Block RowBlocks::extremes(const LogRows& rows, int sensor, Range range) const {
    const QList<qint16>& values = rows.sensor(sensor);
    const std::vector<Block>& blocks = blocks_[sensor - 1];
    Block result{range.first, range.first, 0};
    auto row = [&](qsizetype i) {
        if (values[i] < values[result.minRow])
            result.minRow = i;
        if (values[i] > values[result.maxRow])
            result.maxRow = i;
        result.sum += values[i];
    };
    // Whole blocks inside the range count as blocks, the rows at its ends one by one.
    const qsizetype firstBlock = (range.first + rowsPerBlock - 1) / rowsPerBlock;
    const qsizetype endBlock = qMin<qsizetype>(range.second / rowsPerBlock, blocks.size());
    if (firstBlock >= endBlock) {
        for (qsizetype i = range.first; i < range.second; ++i)
            row(i);
        return result;
    }
    for (qsizetype i = range.first; i < firstBlock * rowsPerBlock; ++i)
        row(i);
    for (qsizetype b = firstBlock; b < endBlock; ++b) {
        const Block& block = blocks[b];
        if (values[block.minRow] < values[result.minRow])
            result.minRow = block.minRow;
        if (values[block.maxRow] > values[result.maxRow])
            result.maxRow = block.maxRow;
        result.sum += block.sum;
    }
    for (qsizetype i = endBlock * rowsPerBlock; i < range.second; ++i)
        row(i);
    return result;
}

SensorStats RowBlocks::stats(const LogRows& rows, int sensor, Range range) const {
    SensorStats stats;
    if (range.second <= range.first)
        return stats;
    const Block block = extremes(rows, sensor, range);
    const QList<qint16>& values = rows.sensor(sensor);
    stats.count = range.second - range.first;
    stats.min = values[block.minRow];
    stats.max = values[block.maxRow];
    stats.mean = double(block.sum) / double(stats.count);
    return stats;
}

std::vector<qsizetype> RowBlocks::rowsToDraw(const LogRows& rows, int sensor, double from,
                                             double to, int pixels) const {
    const Range range = rows.between(from, to);
    std::vector<qsizetype> drawn;
    if (range.first > 0)
        drawn.push_back(range.first - 1);
    if (range.second - range.first <= 4 * qsizetype(pixels)) {
        for (qsizetype i = range.first; i < range.second; ++i)
            drawn.push_back(i);
    } else {
        const double step = (to - from) / pixels;
        qsizetype start = range.first;
        for (int pixel = 1; pixel <= pixels && start < range.second; ++pixel) {
            const qsizetype end =
                pixel == pixels
                    ? range.second
                    : std::upper_bound(rows.times.cbegin() + start,
                                       rows.times.cbegin() + range.second, from + pixel * step) -
                          rows.times.cbegin();
            if (end > start) {
                const Block block = extremes(rows, sensor, {start, end});
                drawn.push_back(qMin(block.minRow, block.maxRow));
                if (block.maxRow != block.minRow)
                    drawn.push_back(qMax(block.minRow, block.maxRow));
            }
            start = end;
        }
    }
    if (range.second < rows.size())
        drawn.push_back(range.second);
    return drawn;
}
