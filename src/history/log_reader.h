// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "row_time_format.h"

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QFile;

// Rows of a log in time order: when each was written and both sensors' values
// as logged.
struct LogRows {
    QList<double> times; // seconds since 1970 UTC
    QList<qint16> sensor1, sensor2;

    qsizetype size() const { return times.size(); }
    bool isEmpty() const { return times.isEmpty(); }
    const QList<qint16>& sensor(int which) const { return which == 1 ? sensor1 : sensor2; }
    void append(double time, qint16 value1, qint16 value2);
    // Adds rows, keeping the time order.
    void append(const LogRows& more);
    // The rows from time from to time to, both included: [first, last).
    std::pair<qsizetype, qsizetype> between(double from, double to) const;
    // Sorts by time, rows of one time in the order they came.
    void sort();
};

// Reads a log file as the log writes it: the header "Date,Time,Sensor1,Sensor2,"
// (with or without a fifth item), then rows of date, time, sensor 1 and
// sensor 2, lines ending in CR LF or LF, date and time quoted when they hold a
// comma. Reads a file in pieces and can be asked again for what was added since
// (a log that is being written). Rows that cannot be read are skipped and
// counted; the first is named.
//
// Dates and times are read in the formats the log writes under the locale
// given, else in another locale's formats that the file's rows follow; when
// none fits, the rows are placed by their order, the most common step of their
// times apart (or a step the caller gives), the last at the file's time.
//
// Limits: a line longer than maxLineLength is a bad row, and at most maxRows
// rows are read, so memory stays bounded whatever the file holds; a file
// whose first unusableAfter lines after the header hold no readable row is
// given up.
class LogReader {
  public:
    enum class Status {
        Rows,     // rows read (perhaps none yet, perhaps with bad ones)
        Missing,  // no such file
        NotAFile, // a folder, a FIFO, a device: never opened
        Unreadable,
        Empty,
        NotALog,   // the first line is not the header
        Unusable,  // no readable row in the first lines
        NeedsStep, // the rows' times cannot be read: call setOrderStep
        Replaced,  // the file is a new one (a new run): read it with a new reader
        Cancelled,
    };
    static constexpr qsizetype maxRows = 5'000'000;
    static constexpr int maxLineLength = 256;
    static constexpr int unusableAfter = 1000;
    // Told the bytes read so far and the bytes to read; returns false to cancel.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    explicit LogReader(const QString& path, const QLocale& locale = QLocale());

    // The step between rows placed by their order, in milliseconds.
    void setOrderStep(int ms) { orderStep_ = ms; }

    // Reads the rows the file holds beyond those that earlier calls read, up
    // to its size at this moment, and appends them to rows.
    Status readMore(LogRows& rows, const Progress& progress = {});
    Status status() const { return status_; }
    // Ends the last read as cancelled, whatever it found: its rows are to be dropped.
    void setCancelled() { status_ = Status::Cancelled; }

    // What the user should know: why nothing could be read, or which rows
    // were skipped and why; empty when every row was read.
    QString message() const;

    QString path() const { return path_; }
    qsizetype rowsRead() const { return rowsRead_; }
    qsizetype rowsSkipped() const;
    // The formats the rows' dates and times were read in; not valid when the
    // rows were placed by their order.
    const RowTimeFormat& format() const { return format_; }
    bool placedByOrder() const { return byOrder_; }
    int orderStep() const { return orderStep_; }

    // A row's date and time texts, read to learn their formats.
    struct Sample {
        QString date;
        QByteArray time;
    };

  private:
    bool readHeader(QFile& file, qint64 size);
    Status chooseFormat(QFile& file, qint64 size);
    std::vector<Sample> samples(QFile& file, qint64 size) const;
    void reserve(LogRows& rows, QFile& file, qint64 size) const;
    void readLine(const char* line, int size, LogRows& rows);
    bool readRow(const char* line, int size, LogRows& rows, QString* reason);
    void skip(qint64 line, const QString& reason);
    QString name() const;

    QString path_;
    QLocale locale_;
    Status status_ = Status::Rows;
    QString error_;

    QByteArray head_;   // the file's first bytes, to tell a new file from this one
    qint64 offset_ = 0; // where the next unread line starts
    qint64 lineNumber_ = 0;
    bool headerRead_ = false;
    bool formatChosen_ = false;

    RowTimeFormat format_;
    LocalClock clock_;
    qint64 lastUtc_ = 0;
    QByteArray lastDateText_;
    std::optional<QDate> lastDate_;
    bool dateKnown_ = false;
    bool lineEndDue_ = false; // the last row was read without its line end

    bool byOrder_ = false;
    int orderStep_ = 0;
    qint64 orderOrigin_ = 0; // the first row's moment, ms
    bool originSet_ = false;

    qsizetype rowsRead_ = 0;
    qsizetype skipped_ = 0;
    qint64 firstBadLine_ = 0;
    QString firstBadReason_;
    qint64 cutLine_ = 0; // the last line, without its line end, when it is not a whole row
    bool limitReached_ = false;
};
