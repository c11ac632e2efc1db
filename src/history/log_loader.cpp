// SPDX-License-Identifier: GPL-3.0-or-later
#include "log_loader.h"

#include <QThread>

LogLoader::LogLoader(QObject* parent) : QObject(parent) {}

LogLoader::~LogLoader() {
    stop();
}

void LogLoader::stop() {
    if (!thread_)
        return;
    cancel_ = true;
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    ++run_; // its end, still on its way, is not to be reported
}

void LogLoader::open(const QString& path, int orderStep) {
    stop();
    path_ = path;
    orderStep_ = orderStep;
    reader_ = std::make_unique<LogReader>(path);
    reader_->setOrderStep(orderStep);
    start(true);
}

void LogLoader::readNew() {
    if (reader_ && !thread_)
        start(false);
}

void LogLoader::cancel() {
    cancel_ = true;
}

void LogLoader::close() {
    stop();
    reader_.reset();
}

void LogLoader::start(bool fresh) {
    cancel_ = false;
    done_ = 0;
    total_ = 0;
    auto rows = std::make_shared<LogRows>();
    LogReader* reader = reader_.get();
    thread_ = QThread::create([this, reader, rows] {
        reader->readMore(*rows, [this](qint64 done, qint64 total) {
            done_ = done;
            total_ = total;
            return !cancel_;
        });
    });
    const quint64 run = ++run_;
    connect(thread_, &QThread::finished, this, [this, rows, fresh, run] {
        if (run != run_)
            return;
        delete thread_;
        thread_ = nullptr;
        if (reader_->status() == LogReader::Status::Replaced) {
            // A new run in the same file: read it from its start.
            reader_ = std::make_unique<LogReader>(path_);
            reader_->setOrderStep(orderStep_);
            start(true);
            return;
        }
        Q_EMIT finished(*rows, fresh);
    });
    thread_->start();
}
