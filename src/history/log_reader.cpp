// SPDX-License-Identifier: GPL-3.0-or-later
#include "log_reader.h"

#include "logging/csv_log.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 msPerDay = 86'400'000;
constexpr qint64 chunkSize = 1 << 20;
constexpr qint64 sampleBytes = 64 * 1024;
constexpr int sampleLines = 200;
constexpr qsizetype headLength = 512;
const QByteArray headerStart = QByteArrayLiteral("Date,Time,Sensor1,Sensor2,");

QString tr(const char* text) {
    return QCoreApplication::translate("LogReader", text);
}

// A field as the user should see it in a message: short, control characters
// as question marks.
QString shown(QByteArrayView field) {
    QString text = QString::fromUtf8(field.first(qMin<qsizetype>(field.size(), 40)));
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    return text;
}

// Splits a line at its commas into at most five fields; a field in double
// quotes may hold commas and doubled quotes, which go into scratch. Returns
// the number of fields, 5 meaning five or more.
int splitFields(const char* line, int size, std::array<QByteArrayView, 5>& fields,
                std::array<QByteArray, 5>& scratch) {
    int count = 0;
    int at = 0;
    while (count < 5) {
        if (at < size && line[at] == '"') {
            QByteArray& unquoted = scratch[count];
            unquoted.clear();
            ++at;
            while (at < size) {
                if (line[at] == '"') {
                    if (at + 1 < size && line[at + 1] == '"') {
                        unquoted += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                unquoted += line[at++];
            }
            fields[count++] = unquoted;
            if (at < size && line[at] != ',')
                return 0; // text after the closing quote: not a field the log writes
        } else {
            const void* comma = std::memchr(line + at, ',', size - at);
            const int end = comma ? int(static_cast<const char*>(comma) - line) : size;
            fields[count++] = QByteArrayView(line + at, end - at);
            at = end;
        }
        if (at >= size)
            return count;
        ++at; // the comma
    }
    return count;
}

// A whole number from -32768 to 32767, blanks around it allowed.
std::optional<qint16> wholeNumber(QByteArrayView text) {
    text = text.trimmed();
    if (text.contains('\0'))
        return std::nullopt; // the number would end there
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

qint64 naiveMs(QDate date, int msecsOfDay) {
    return (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * msPerDay + msecsOfDay;
}

// How well a format reads sample rows: how many, whether in time order (a
// step back of up to an hour is the clock's change at the end of summer
// time), and the time from the first to the last.
struct Score {
    int parsed = 0;
    bool ordered = true;
    qint64 span = 0;
};

} // namespace

// --- LogRows ---

void LogRows::append(double time, qint16 value1, qint16 value2) {
    times.append(time);
    sensor1.append(value1);
    sensor2.append(value2);
}

void LogRows::append(const LogRows& more) {
    if (more.isEmpty())
        return;
    if (isEmpty()) {
        *this = more;
        return;
    }
    const bool inOrder = more.times.first() >= times.last();
    times += more.times;
    sensor1 += more.sensor1;
    sensor2 += more.sensor2;
    if (!inOrder)
        sort();
}

std::pair<qsizetype, qsizetype> LogRows::between(double from, double to) const {
    const auto first = std::lower_bound(times.cbegin(), times.cend(), from);
    const auto last = std::upper_bound(first, times.cend(), to);
    return {first - times.cbegin(), last - times.cbegin()};
}

void LogRows::sort() {
    if (std::is_sorted(times.cbegin(), times.cend()))
        return;
    std::vector<qsizetype> order(times.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](qsizetype a, qsizetype b) { return times[a] < times[b]; });
    LogRows sorted;
    sorted.times.reserve(size());
    sorted.sensor1.reserve(size());
    sorted.sensor2.reserve(size());
    for (qsizetype i : order)
        sorted.append(times[i], sensor1[i], sensor2[i]);
    *this = std::move(sorted);
}

// --- LogReader ---

LogReader::LogReader(const QString& path, const QLocale& locale) : path_(path), locale_(locale) {}

QString LogReader::name() const {
    return QDir::toNativeSeparators(path_);
}

qsizetype LogReader::rowsSkipped() const {
    // A cut-off last line alone is a row still being written.
    return skipped_ + (skipped_ > 0 && cutLine_ > 0 ? 1 : 0);
}

void LogReader::skip(qint64 line, const QString& reason) {
    if (skipped_++ == 0) {
        firstBadLine_ = line;
        firstBadReason_ = reason;
    }
}

QString LogReader::message() const {
    switch (status_) {
    case Status::Missing:
        return tr("%1 does not exist.").arg(name());
    case Status::NotAFile:
        return tr("%1 is not a regular file.").arg(name());
    case Status::Unreadable:
        return tr("%1 could not be read (%2).").arg(name(), error_);
    case Status::Empty:
        return tr("%1 is empty.").arg(name());
    case Status::NotALog:
        return tr("%1 is not a Kelvano log: its first line is not \"%2\".")
            .arg(name(), QString::fromLatin1(headerStart));
    case Status::Unusable:
        return tr("%1 holds no rows that could be read (first at line %2: %3).")
            .arg(name())
            .arg(firstBadLine_)
            .arg(firstBadReason_);
    case Status::NeedsStep:
        return tr("The dates and times in %1 could not be read.").arg(name());
    case Status::Cancelled:
        return tr("Reading %1 was cancelled.").arg(name());
    case Status::Replaced:
    case Status::Rows:
        break;
    }
    QStringList parts;
    if (rowsRead_ == 0 && rowsSkipped() == 0)
        parts << tr("%1 holds no rows yet.").arg(name());
    if (byOrder_)
        parts << tr("The dates and times of the rows could not be read: the rows are placed in "
                    "their order, %1 s apart, the last at the time the file was last changed.")
                     .arg(QString::number(orderStep_ / 1000.0));
    const qsizetype bad = rowsSkipped();
    const qint64 firstLine = skipped_ ? firstBadLine_ : cutLine_;
    const QString reason = skipped_ ? firstBadReason_ : tr("it is cut off");
    if (bad == 1)
        parts << tr("1 row could not be read (line %1: %2).").arg(firstLine).arg(reason);
    else if (bad > 1)
        parts << tr("%1 rows could not be read (first at line %2: %3).")
                     .arg(bad)
                     .arg(firstLine)
                     .arg(reason);
    if (limitReached_)
        parts << tr("Only the first %1 rows were read: the history shows at most %1 rows.")
                     .arg(QLocale().toString(maxRows));
    return parts.join(QLatin1Char(' '));
}

bool LogReader::readHeader(QFile& file, qint64 size) {
    file.seek(0);
    QByteArray first = file.read(qMin<qint64>(size, 4096));
    const qsizetype bom = first.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const qsizetype end = first.indexOf('\n');
    if (end < 0) {
        // A header still being written is a log without rows yet.
        const QByteArray begun = first.mid(bom);
        const bool begins =
            begun.size() < 64 && (headerStart.startsWith(begun) || begun.startsWith(headerStart));
        status_ = begins ? Status::Rows : Status::NotALog;
        return false;
    }
    if (!first.mid(bom, end - bom).startsWith(headerStart)) {
        status_ = Status::NotALog;
        return false;
    }
    headerRead_ = true;
    offset_ = end + 1;
    lineNumber_ = 1;
    head_ = first.left(offset_);
    return true;
}

std::vector<LogReader::Sample> LogReader::samples(QFile& file, qint64 size) const {
    std::vector<Sample> out;
    std::array<QByteArrayView, 5> fields;
    std::array<QByteArray, 5> scratch;
    auto take = [&](const QByteArray& block, bool fromEnd) {
        QList<QByteArray> lines = block.split('\n');
        lines.removeLast(); // no line end: not a whole line
        if (fromEnd && !lines.isEmpty())
            lines.removeFirst(); // begins in the middle
        const qsizetype begin = fromEnd ? qMax<qsizetype>(0, lines.size() - sampleLines) : 0;
        const qsizetype end = fromEnd ? lines.size() : qMin<qsizetype>(lines.size(), sampleLines);
        for (qsizetype i = begin; i < end; ++i) {
            QByteArray& line = lines[i];
            if (line.endsWith('\r'))
                line.chop(1);
            if (splitFields(line.constData(), int(line.size()), fields, scratch) == 4)
                out.push_back({QString::fromUtf8(fields[0]), fields[1].toByteArray()});
        }
    };
    file.seek(offset_);
    take(file.read(qMin(sampleBytes, size - offset_)), false);
    if (size - offset_ > 2 * sampleBytes) {
        file.seek(size - sampleBytes);
        take(file.read(sampleBytes), true);
    }
    return out;
}

namespace {

Score score(const RowTimeFormat& format, const std::vector<LogReader::Sample>& samples);

} // namespace

LogReader::Status LogReader::chooseFormat(QFile& file, qint64 size) {
    const std::vector<Sample> rows = samples(file, size);
    file.seek(offset_);
    const bool wholeLines = file.read(qMin(sampleBytes, size - offset_)).contains('\n');
    const std::vector<RowTimeFormat> own = RowTimeFormat::forLocale(locale_);
    if (rows.empty()) {
        // No row to learn from yet; lines that are there are bad ones.
        if (wholeLines) {
            format_ = own.front();
            formatChosen_ = true;
        }
        return Status::Rows;
    }
    // The user's own formats when they read every row in order; else the
    // formats that read the most rows, in order, over the shortest time.
    for (const RowTimeFormat& format : own) {
        const Score s = score(format, rows);
        if (s.parsed == int(rows.size()) && s.ordered) {
            format_ = format;
            formatChosen_ = true;
            return Status::Rows;
        }
    }
    const std::vector<RowTimeFormat> all = RowTimeFormat::candidates(locale_);
    int best = -1;
    Score bestScore;
    for (int i = 0; i < int(all.size()); ++i) {
        const Score s = score(all[i], rows);
        const auto rank = [](const Score& x, int index) {
            return std::make_tuple(-x.parsed, !x.ordered, index >= 2, x.span, index);
        };
        if (best < 0 || rank(s, i) < rank(bestScore, best)) {
            best = i;
            bestScore = s;
        }
    }
    if (bestScore.parsed * 2 > int(rows.size())) {
        format_ = all[best];
        formatChosen_ = true;
        return Status::Rows;
    }

    // Placed by their order: the most common step of the times, if a time
    // format reads them, unless the caller gave a step.
    if (orderStep_ <= 0) {
        QHash<qint64, int> steps;
        for (const RowTimeFormat& format : all) {
            QHash<qint64, int> counted;
            int parsed = 0;
            int previous = -1;
            for (const Sample& sample : rows) {
                const int ms = format.msecsOfDay(sample.time.constData(), int(sample.time.size()));
                if (ms >= 0) {
                    ++parsed;
                    if (previous >= 0)
                        ++counted[((ms - previous) % msPerDay + msPerDay) % msPerDay];
                }
                previous = ms;
            }
            if (parsed * 2 > int(rows.size())) {
                steps = counted;
                break;
            }
        }
        int most = 0;
        for (auto it = steps.cbegin(); it != steps.cend(); ++it) {
            const bool more = it.value() > most || (it.value() == most && it.key() < orderStep_);
            if (it.key() > 0 && more) {
                most = it.value();
                orderStep_ = int(it.key());
            }
        }
        if (orderStep_ <= 0)
            return Status::NeedsStep;
    }
    byOrder_ = true;
    formatChosen_ = true;
    return Status::Rows;
}

namespace {

Score score(const RowTimeFormat& format, const std::vector<LogReader::Sample>& samples) {
    Score s;
    QHash<QString, std::optional<QDate>> dates;
    qint64 first = 0, previous = 0;
    for (const LogReader::Sample& sample : samples) {
        auto date = dates.constFind(sample.date);
        if (date == dates.cend())
            date = dates.insert(sample.date, format.date(sample.date));
        if (!*date)
            continue;
        const int ms = format.msecsOfDay(sample.time.constData(), int(sample.time.size()));
        if (ms < 0)
            continue;
        const qint64 t = naiveMs(**date, ms);
        if (s.parsed == 0)
            first = t;
        else if (t < previous - 3'600'000)
            s.ordered = false;
        previous = t;
        ++s.parsed;
    }
    s.span = previous - first;
    return s;
}

} // namespace

bool LogReader::readRow(const char* line, int size, LogRows& rows, QString* reason) {
    std::array<QByteArrayView, 5> f;
    static thread_local std::array<QByteArray, 5> scratch;
    const int count = splitFields(line, size, f, scratch);
    if (count != 4) {
        *reason = count > 4    ? tr("it has more than 4 fields")
                  : count == 0 ? tr("a quote is not closed where a field ends")
                               : tr("it has %1 fields instead of 4").arg(count);
        return false;
    }
    int ms = 0;
    if (!byOrder_) {
        // A log repeats each date for a day: read it once.
        if (!dateKnown_ || f[0] != QByteArrayView(lastDateText_)) {
            lastDateText_ = f[0].toByteArray();
            lastDate_ = format_.date(QString::fromUtf8(f[0]));
            dateKnown_ = true;
        }
        if (!lastDate_) {
            *reason = tr("the date \"%1\" could not be read").arg(shown(f[0]));
            return false;
        }
        ms = format_.msecsOfDay(f[1].data(), int(f[1].size()));
        if (ms < 0) {
            *reason = tr("the time \"%1\" could not be read").arg(shown(f[1]));
            return false;
        }
    }
    const std::optional<qint16> value1 = wholeNumber(f[2]), value2 = wholeNumber(f[3]);
    if (!value1 || !value2) {
        *reason = tr("sensor %1 \"%2\" is not a whole number from -32768 to 32767")
                      .arg(value1 ? 2 : 1)
                      .arg(shown(value1 ? f[3] : f[2]));
        return false;
    }
    double time;
    if (byOrder_) {
        // Placed once the file's time is known (below), or after the first row.
        time = originSet_ ? (orderOrigin_ + double(rowsRead_) * orderStep_) / 1000.0
                          : double(rowsRead_);
    } else {
        lastUtc_ = clock_.toUtc(*lastDate_, ms, lastUtc_);
        time = lastUtc_ / 1000.0;
    }
    rows.append(time, *value1, *value2);
    ++rowsRead_;
    return true;
}

void LogReader::readLine(const char* line, int size, LogRows& rows) {
    if (size > 0 && line[size - 1] == '\r')
        --size;
    if (size == 0)
        return; // an empty line says nothing
    if (size > maxLineLength) {
        skip(lineNumber_, tr("it is longer than %1 characters").arg(maxLineLength));
        return;
    }
    if (QByteArrayView(line, size).startsWith(headerStart))
        return; // the header again: logs put one after another
    QString reason;
    if (!readRow(line, size, rows, &reason))
        skip(lineNumber_, reason);
}

void LogReader::reserve(LogRows& rows, QFile& file, qint64 size) const {
    // Room for as many rows as lines of the length of the first; a week of
    // rows grown a piece at a time would be copied over and over.
    file.seek(offset_);
    const qsizetype line = file.read(maxLineLength + 1).indexOf('\n') + 1;
    if (line <= 0)
        return;
    const qsizetype expected =
        rows.size() + qMin<qint64>(maxRows, (size - offset_) / line + 16) * 11 / 10;
    rows.times.reserve(expected);
    rows.sensor1.reserve(expected);
    rows.sensor2.reserve(expected);
}

LogReader::Status LogReader::readMore(LogRows& rows, const Progress& progress) {
    if (limitReached_)
        return status_ = Status::Rows;
    // Only a regular file is opened: opening a FIFO would wait for a writer, and
    // a device such as /dev/zero never ends. Opened without waiting all the
    // same, and looked at again, as the path may have changed in between.
    const QByteArray name = QFile::encodeName(path_);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return status_ = Status::Missing;
        error_ = qt_error_string(errno);
        return status_ = Status::Unreadable;
    }
    if (!S_ISREG(info.st_mode))
        return status_ = Status::NotAFile;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = qt_error_string(errno);
        return status_ = Status::Unreadable;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return status_ = Status::NotAFile;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error_ = file.errorString();
        return status_ = Status::Unreadable;
    }
    const qint64 size = file.size();
    if (size < offset_ || (!head_.isEmpty() && file.read(head_.size()) != head_))
        return status_ = Status::Replaced;
    if (!headerRead_) {
        if (size == 0)
            return status_ = Status::Empty;
        if (!readHeader(file, size))
            return status_;
    }
    if (!formatChosen_) {
        const Status chosen = chooseFormat(file, size);
        if (chosen != Status::Rows || !formatChosen_)
            return status_ = chosen;
    }

    status_ = Status::Rows;
    cutLine_ = 0;
    const qsizetype firstNew = rows.size();
    const qint64 start = offset_;
    reserve(rows, file, size);
    file.seek(offset_);
    // One buffer for the whole read: its first bytes are the start of a line
    // whose end is in the next piece.
    QByteArray buffer(chunkSize + maxLineLength + 1, Qt::Uninitialized);
    qsizetype kept = 0;
    qint64 keptAt = offset_; // where the kept bytes are in the file
    bool longLine = false;   // in a line longer than any row, dropped as it is read
    bool stop = false;
    while (!stop && keptAt + kept < size) {
        const qint64 read = file.read(buffer.data() + kept, qMin(chunkSize, size - keptAt - kept));
        if (read <= 0)
            break; // the file shrank while it was read
        const char* text = buffer.constData();
        const qsizetype length = kept + read;
        qsizetype lineStart = 0;
        while (const void* found = std::memchr(text + lineStart, '\n', length - lineStart)) {
            const qsizetype end = static_cast<const char*>(found) - text;
            if (std::exchange(lineEndDue_, false) && end - lineStart <= 1) {
                // The line end of a whole last row read before.
                lineStart = end + 1;
                offset_ = keptAt + lineStart;
                continue;
            }
            ++lineNumber_;
            if (longLine) {
                longLine = false;
                skip(lineNumber_, tr("it is longer than %1 characters").arg(maxLineLength));
            } else {
                readLine(text + lineStart, int(end - lineStart), rows);
            }
            lineStart = end + 1;
            offset_ = keptAt + lineStart;
            if (rowsRead_ >= maxRows) {
                limitReached_ = true;
                stop = true;
                break;
            }
            if (rowsRead_ == 0 && skipped_ >= unusableAfter)
                return status_ = Status::Unusable;
        }
        keptAt += lineStart;
        kept = length - lineStart;
        if (kept > maxLineLength) {
            longLine = true;
            keptAt += kept;
            kept = 0;
        }
        std::memmove(buffer.data(), text + lineStart, kept);
        if (progress && !progress(keptAt + kept - start, size - start))
            return status_ = Status::Cancelled;
    }
    if (!stop && longLine) {
        // A last line far too long for a row: bad, whether or not it is finished.
        skip(++lineNumber_, tr("it is longer than %1 characters").arg(maxLineLength));
        offset_ = size;
    } else if (!stop && kept > 0) {
        // The last line has no line end: a row still being written, unless it
        // is whole (sensor 2's value is followed by a space).
        QByteArray last(buffer.constData(), kept);
        if (last.endsWith('\r'))
            last.chop(1);
        QString reason;
        if (last.endsWith(' ') && readRow(last.constData(), int(last.size()), rows, &reason)) {
            ++lineNumber_;
            offset_ = size;
            lineEndDue_ = true;
        } else {
            cutLine_ = lineNumber_ + 1;
        }
    }

    if (byOrder_ && !originSet_ && rowsRead_ > 0) {
        // The last row was written about when the file was last changed.
        const qint64 last = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000;
        orderOrigin_ = last - qint64(rowsRead_ - 1) * orderStep_;
        originSet_ = true;
        for (qsizetype i = firstNew; i < rows.size(); ++i)
            rows.times[i] = (orderOrigin_ + rows.times[i] * orderStep_) / 1000.0;
    }
    rows.sort();
    if (head_.size() < headLength && offset_ > head_.size()) {
        file.seek(0);
        head_ = file.read(qMin<qint64>(offset_, headLength));
    }
    return status_;
}
