// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log_reader.h"

#include <QObject>
#include <atomic>
#include <memory>

class QThread;

// Reads a log in a thread of its own, so that a week of rows keeps no window
// waiting, and reads what was added to it when asked again. Between reads the
// reader and its findings belong to the caller's thread.
class LogLoader : public QObject {
    Q_OBJECT
  public:
    explicit LogLoader(QObject* parent = nullptr);
    ~LogLoader() override;

    // Reads a file from its start (a read that is running is cancelled).
    // orderStep: the step between rows whose times cannot be read, in ms
    // (0: the most common step of their times, else the reader asks).
    void open(const QString& path, int orderStep = 0);
    // Reads the rows added to the file since the last read; nothing while a
    // read runs or when no file is open.
    void readNew();
    // Ends a running read soon; it reports Cancelled.
    void cancel();
    // Forgets the file: readNew() reads nothing until the next open().
    void close();

    bool isBusy() const { return thread_ != nullptr; }
    // The running read's progress: bytes read and bytes to read.
    qint64 bytesDone() const { return done_; }
    qint64 bytesTotal() const { return total_; }
    QString path() const { return path_; }
    // The reader of the open file; not to be used while isBusy().
    const LogReader* reader() const { return reader_.get(); }

  Q_SIGNALS:
    // A read ended (see reader()->status() and message()). fresh: the rows
    // are the whole file (its first read, or a new run that replaced it);
    // otherwise they were added to it since the last read.
    void finished(const LogRows& rows, bool fresh);

  private:
    void start(bool fresh);
    void stop();

    QString path_;
    int orderStep_ = 0;
    std::unique_ptr<LogReader> reader_;
    QThread* thread_ = nullptr;
    quint64 run_ = 0; // counts the reads started
    std::atomic_bool cancel_{false};
    std::atomic<qint64> done_{0}, total_{0};
};
