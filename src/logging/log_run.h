// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logging/csv_log.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>

class QLockFile;
class QTimer;

// A logging run: the header, then one row of the shown values per interval,
// due at start + k × interval, into a file that no other run writes at the
// same time. The log panel and the run without a window both drive one.
//
// A start or reopen that fails reports by its result, with the user's
// message in errorMessage(). A run that ends by itself (a write failed, the
// file was removed or replaced) stops first and then emits failed() with the
// message.
class LogRun : public QObject {
    Q_OBJECT
  public:
    using ShownValues = std::function<std::array<int16_t, 2>()>;
    using Clock = std::function<QDateTime()>;

    // The interval chooser's entries, "1 Second" … "1 Minute": how far apart the rows are
    // written, and the entry's text before translation. The history offers the same steps.
    struct Interval {
        int ms;
        const char* label;
    };
    static constexpr Interval intervals[] = {
        {1000, QT_TRANSLATE_NOOP("LogRun", "1 Second")},
        {5000, QT_TRANSLATE_NOOP("LogRun", "5 Seconds")},
        {6000, QT_TRANSLATE_NOOP("LogRun", "6 Seconds")},
        {10000, QT_TRANSLATE_NOOP("LogRun", "10 Seconds")},
        {15000, QT_TRANSLATE_NOOP("LogRun", "15 Seconds")},
        {30000, QT_TRANSLATE_NOOP("LogRun", "30 Seconds")},
        {60000, QT_TRANSLATE_NOOP("LogRun", "1 Minute")},
    };
    static constexpr int choices = int(std::size(intervals));
    // The interval of a chooser position in milliseconds; a position outside
    // the list (-1: nothing chosen) means the first entry's second.
    static int intervalMs(int chooserPosition);
    // The chooser's entries as shown.
    static QStringList intervalLabels();

    // shownValues gives what a row records at the moment it is written.
    explicit LogRun(ShownValues shownValues, QObject* parent = nullptr);
    ~LogRun() override;

    // For tests: the clock that dates the rows.
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // Takes the file's lock (a run that crashed leaves none that counts),
    // keeps a non-empty file of an earlier run under a dated name, creates
    // the file with its header and starts the timer.
    bool start(const QString& path);
    // The same rows to standard output, header first; no lock, nothing kept.
    bool startOnStandardOutput();
    // Closes the file and opens the same path again, appending: for a file
    // that was moved away (log rotation) the rows go on in a new file. The
    // header is written only into a new or empty file. The timer keeps its
    // pace. Returns false, with the run stopped, when the file cannot be
    // opened or its header written.
    bool reopen();
    // Ends the run: timer off, file closed with every whole row in it, lock
    // given back. Nothing when idle.
    void stop();

    // For a run that log rotation looks after: when the path no longer names
    // the open file (moved away, removed, or replaced by a new file), the
    // next row goes to the path, as after reopen(), instead of the run
    // ending with a message.
    void setFollowPath(bool follow) { followPath_ = follow; }

    // A new interval; during a run the next row is one new interval away.
    void setInterval(int ms);
    int interval() const;

    bool isRunning() const;
    // The path of the current or last run; empty for standard output.
    QString path() const { return path_; }
    // Where start() kept the earlier run's rows; empty when there were none.
    QString previousRunKeptAs() const { return keptAs_; }
    QString errorMessage() const { return error_; }
    const CsvLog& log() const { return log_; }
    // The timer that writes the rows (its handler is writeRow()).
    QTimer* timer() const { return timer_; }

    // One row, as the timer writes it; ends the run when the file is gone or
    // the write fails.
    void writeRow();

  Q_SIGNALS:
    void failed(const QString& message);

  private:
    bool openFile(CsvLog::Mode mode);
    void fail(const QString& message);
    static QString rowsKept(int rows);
    static QString rowsGone(int rows);

    ShownValues shownValues_;
    Clock clock_ = &QDateTime::currentDateTime;
    CsvLog log_;
    QTimer* timer_ = nullptr;
    std::unique_ptr<QLockFile> lock_;
    QString path_;
    QString keptAs_;
    QString error_;
    bool followPath_ = false;
};
