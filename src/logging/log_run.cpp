// SPDX-License-Identifier: GPL-3.0-or-later
#include "log_run.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QTimer>

namespace {
QString shown(const QString& path) {
    return path.isEmpty() ? LogRun::tr("standard output") : QDir::toNativeSeparators(path);
}
} // namespace

int LogRun::intervalMs(int chooserPosition) {
    return intervals[chooserPosition >= 0 && chooserPosition < choices ? chooserPosition : 0].ms;
}

QStringList LogRun::intervalLabels() {
    QStringList labels;
    for (const Interval& interval : intervals)
        labels << tr(interval.label);
    return labels;
}

LogRun::LogRun(ShownValues shownValues, QObject* parent)
    : QObject(parent), shownValues_(std::move(shownValues)) {
    // Rows are due at start + k × interval; a precise timer keeps them there
    // instead of letting each row slip a little later than the one before.
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(intervals[0].ms);
    connect(timer_, &QTimer::timeout, this, &LogRun::writeRow);
}

LogRun::~LogRun() {
    stop();
}

bool LogRun::isRunning() const {
    return log_.isOpen();
}

int LogRun::interval() const {
    return timer_->interval();
}

void LogRun::setInterval(int ms) {
    timer_->setInterval(ms);
    // The count starts again from the choice, also when the interval is the
    // one already running.
    if (timer_->isActive())
        timer_->start();
}

bool LogRun::start(const QString& path) {
    stop();
    path_ = path;
    keptAs_.clear();
    error_.clear();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The lock comes first: the earlier run's file is renamed only by the
    // one run that will write the path. A lock whose process has ended is
    // taken over; a living run's lock never grows stale with age.
    lock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        qint64 pid = 0;
        if (lock_->error() != QLockFile::LockFailedError)
            error_ = tr("Logging did not start: the log file %1 could not be created (%2).")
                         .arg(shown(path), lock_->error() == QLockFile::PermissionError
                                               ? tr("Permission denied")
                                               : tr("its lock file could not be made"));
        else if (lock_->getLockInfo(&pid, nullptr, nullptr))
            error_ =
                tr("Logging did not start: %1 is being written by another Kelvano (process %2).")
                    .arg(shown(path))
                    .arg(pid);
        else
            error_ = tr("Logging did not start: %1 is being written by another Kelvano.")
                         .arg(shown(path));
        lock_.reset();
        return false;
    }
    QString reason;
    if (!CsvLog::keepPrevious(path, &keptAs_, &reason)) {
        error_ =
            tr("Logging did not start: the earlier log %1 could not be renamed to keep it (%2). "
               "It was left as it was.")
                .arg(shown(path), reason);
        lock_.reset();
        return false;
    }
    if (!openFile(CsvLog::Mode::Create)) {
        lock_.reset();
        return false;
    }
    timer_->start();
    return true;
}

bool LogRun::startOnStandardOutput() {
    stop();
    path_.clear();
    keptAs_.clear();
    error_.clear();
    if (!log_.openStandardOutput() || !log_.writeHeader()) {
        error_ = log_.readerGone() ? tr("Logging did not start: standard output is closed.")
                                   : tr("Logging did not start: %1 could not be written (%2).")
                                         .arg(shown(path_), log_.errorString());
        log_.close();
        return false;
    }
    timer_->start();
    return true;
}

bool LogRun::reopen() {
    if (!isRunning()) {
        error_ = tr("Logging is not running.");
        return false;
    }
    if (path_.isEmpty())
        return true; // standard output stays where it is
    if (!openFile(CsvLog::Mode::Append)) {
        stop();
        return false;
    }
    return true;
}

bool LogRun::openFile(CsvLog::Mode mode) {
    // The file is opened before the timer runs, so no row is ever due
    // without a file to take it.
    const QString ends =
        mode == CsvLog::Mode::Create ? tr("Logging did not start") : tr("Logging stopped");
    if (!log_.open(path_, mode)) {
        error_ = tr("%1: the log file %2 could not be %3 (%4).")
                     .arg(ends, shown(path_),
                          mode == CsvLog::Mode::Create ? tr("created") : tr("opened again"),
                          log_.errorString());
        return false;
    }
    if (log_.size() == 0 && !log_.writeHeader()) {
        error_ = tr("%1: the log file %2 could not be written (%3).")
                     .arg(ends, shown(path_), log_.errorString());
        log_.close();
        return false;
    }
    return true;
}

void LogRun::stop() {
    timer_->stop();
    log_.close();
    lock_.reset();
}

void LogRun::writeRow() {
    if (!isRunning())
        return;
    if (!path_.isEmpty() && !log_.stillAtPath()) {
        if (!followPath_) {
            fail(tr("Logging stopped: %1 was removed or replaced during the run. %2")
                     .arg(shown(path_), rowsGone(log_.rows())));
            return;
        }
        // Log rotation moved the file away: the rows go on at the path.
        if (!openFile(CsvLog::Mode::Append)) {
            fail(error_);
            return;
        }
    }
    const std::array<int16_t, 2> values = shownValues_();
    if (log_.writeRow(clock_(), values[0], values[1]))
        return;
    if (path_.isEmpty() && log_.readerGone()) {
        const int rows = log_.rows();
        fail(rows == 1
                 ? tr("Logging stopped: standard output was closed after 1 row.")
                 : tr("Logging stopped: standard output was closed after %1 rows.").arg(rows));
        return;
    }
    fail(tr("Logging stopped: writing to %1 failed (%2). %3")
             .arg(shown(path_), log_.errorString(), rowsKept(log_.rows())));
}

QString LogRun::rowsGone(int rows) {
    return rows == 0 ? tr("No row had been written to it yet.")
           : rows == 1
               ? tr("The 1 row written until then went with the old file: it is where the file "
                    "was moved to, or gone if the file was deleted.")
               : tr("The %1 rows written until then went with the old file: they are where it "
                    "was moved to, or gone if it was deleted.")
                     .arg(rows);
}

QString LogRun::rowsKept(int rows) {
    return rows == 0   ? tr("No row had been written yet.")
           : rows == 1 ? tr("The 1 row written before it is in the file.")
                       : tr("The %1 rows written before it are in the file.").arg(rows);
}

void LogRun::fail(const QString& message) {
    // The run ends before anyone hears of it, so no further row is attempted
    // while the user reads the message.
    stop();
    error_ = message;
    Q_EMIT failed(message);
}
