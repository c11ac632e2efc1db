// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log_reader.h"

#include <QObject>
#include <atomic>
#include <memory>

// Reads a log in a thread of its own, so that a week of rows keeps no window
// waiting, and reads what was added to it when asked again. Between reads the
// reader and its findings belong to the caller's thread. A read that is no
// longer wanted is never waited for: its thread ends on its own, with its own
// reader, and what it finds is not reported.
class LogLoader : public QObject {
    Q_OBJECT
  public:
    explicit LogLoader(QObject* parent = nullptr);
    ~LogLoader() override;

    // Reads a file from its start (a read that is running is dropped).
    // orderStep: the step between rows whose times cannot be read, in ms
    // (0: the most common step of their times, else the reader asks).
    void open(const QString& path, int orderStep = 0);
    // Reads the rows added to the file since the last read; nothing while a
    // read runs or when no file is open.
    void readNew();
    // Ends the running read: it reports Cancelled, whatever it had found.
    void cancel();
    // Forgets the file: readNew() reads nothing until the next open().
    void close();

    bool isBusy() const { return job_ != nullptr; }
    // The running read's progress: bytes read and bytes to read.
    qint64 bytesDone() const { return job_ ? job_->done.load() : 0; }
    qint64 bytesTotal() const { return job_ ? job_->total.load() : 0; }
    QString path() const { return path_; }
    // The reader of the open file; not to be used while isBusy().
    const LogReader* reader() const { return reader_.get(); }

  Q_SIGNALS:
    // A read ended (see reader()->status() and message()). fresh: the rows
    // are the whole file (its first read, or a new run that replaced it);
    // otherwise they were added to it since the last read.
    void finished(const LogRows& rows, bool fresh);

  private:
    // What a read's thread uses; it keeps them as long as it runs.
    struct Job {
        std::shared_ptr<LogReader> reader;
        LogRows rows;
        std::atomic_bool cancel{false};
        std::atomic<qint64> done{0}, total{0};
    };
    void start(bool fresh);
    void stop();

    QString path_;
    int orderStep_ = 0;
    std::shared_ptr<LogReader> reader_;
    std::shared_ptr<Job> job_; // the running read
};
