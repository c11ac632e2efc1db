// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "game_port.h"

#include <QString>
#include <optional>
#include <vector>

// Replays given probe and read results, for tests and for --replay.
//
// Script text, one entry per line; '#' starts a comment, blank lines are
// ignored:
//   probe CODE   optional, first entry only: the probe's result (default 0)
//   CODE X Y     a read that returns CODE and writes X and Y (0..65535)
//   CODE         a read that returns CODE and leaves x and y as they were
// After the last entry the last read repeats.
class ScriptedSource : public GamePortSource {
  public:
    struct Read {
        int32_t code = 0;
        std::optional<uint32_t> x, y; // both set or neither
    };

    explicit ScriptedSource(std::vector<Read> reads, int32_t probeCode = 0);

    // Parses script text; on failure returns nothing and sets error to
    // "LINE: what is wrong", quoting at most 40 characters of the file.
    static std::optional<ScriptedSource> parse(const QString& text, QString* error);
    // The largest script file read, in bytes (16 MB).
    static constexpr qint64 maxFileSize = qint64(16) << 20;

    // Reads and parses a regular file of at most maxFileSize bytes; errors read
    // "FILE:LINE: what is wrong", "FILE: not a regular file" or
    // "FILE: larger than 16 MB".
    static std::optional<ScriptedSource> fromFile(const QString& path, QString* error);

    int32_t probeDevice() override;
    int32_t readAxes(PortReading& reading) override;

    int readsDone() const { return readsDone_; }

  private:
    std::vector<Read> reads_;
    int32_t probeCode_ = 0;
    int readsDone_ = 0;
};
