// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>
#include <optional>
#include <utility>
#include <vector>

// How a log writes the date and the time of its rows: one locale's short date
// format, its year in two or four digits, and its long time format without
// the time zone. Reads such texts back quickly enough for millions of rows:
// the time with a parser made once from the format, the date through the
// locale (a log repeats each date for a whole day, so the caller keeps the
// last one).
class RowTimeFormat {
  public:
    RowTimeFormat() = default;
    RowTimeFormat(const QLocale& locale, const QString& dateFormat, const QString& timeFormat);

    // What the log writes under this locale: the year in two digits, then in four.
    static std::vector<RowTimeFormat> forLocale(const QLocale& locale);
    // Every locale's formats, each once: the given locale's first, then US English's.
    static std::vector<RowTimeFormat> candidates(const QLocale& first);

    bool isValid() const { return !dateFormat_.isEmpty(); }
    const QLocale& locale() const { return locale_; }
    QString dateFormat() const { return dateFormat_; }
    QString timeFormat() const { return timeFormat_; }

    // The date a date text names; nothing when it does not follow the format
    // or lies outside 1970 to 2199. A two-digit year is one of 2000 to 2099.
    std::optional<QDate> date(const QString& text) const;
    // The milliseconds since midnight of a time text in UTF-8; -1 when the
    // text does not follow the format.
    int msecsOfDay(const char* text, int size) const;

    QString dateText(QDate date) const { return locale_.toString(date, dateFormat_); }
    QString timeText(QTime time) const { return locale_.toString(time, timeFormat_); }

  private:
    struct Token {
        enum Kind { Literal, Space, Hour, Minute, Second, Msec, AmPm } kind;
        int minDigits = 0;
        int maxDigits = 0;
        QByteArray text; // a literal, UTF-8
    };
    void compileTime();

    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    bool twoDigitYear_ = false;
    bool twelveHour_ = false;
    std::vector<Token> tokens_;
    std::vector<QByteArray> am_, pm_; // as the locale has them, in capitals, in small letters
    std::vector<QByteArray> digits_;  // the locale's own digits 0 to 9, when not 0 to 9
    char32_t zero_ = U'0';
};

// Local dates and times to UTC and back for many rows in a row, asking the
// system about its time zone about once a day instead of once a row.
class LocalClock {
  public:
    // The milliseconds since 1970 UTC of a local date and time. Where the clock
    // was set back (the end of summer time) and the time occurs twice, the
    // first occurrence that is not before notBefore, else the later one.
    qint64 toUtc(QDate date, int msecsOfDay, qint64 notBefore);
    // The local date and time of a moment.
    std::pair<QDate, QTime> toLocal(qint64 utcMs);

  private:
    QDate day_;
    int startOffset_ = 0, endOffset_ = 0; // seconds east of UTC at the day's start and end
    qint64 change_ = 0;                   // the first moment with endOffset_
    qint64 localFrom_ = 1, localTo_ = 0;  // toLocal's moments with localOffset_
    int localOffset_ = 0;
};
