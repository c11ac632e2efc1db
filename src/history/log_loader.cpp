// SPDX-License-Identifier: GPL-3.0-or-later
#include "log_loader.h"

#include <QThread>

LogLoader::LogLoader(QObject* parent) : QObject(parent) {}

LogLoader::~LogLoader() {
    stop();
}

void LogLoader::stop() {
    if (!job_)
        return;
    job_->cancel = true; // it ends soon, unless stuck in the system: not waited for
    job_.reset();
}

void LogLoader::open(const QString& path, int orderStep) {
    stop();
    path_ = path;
    orderStep_ = orderStep;
    reader_ = std::make_shared<LogReader>(path);
    reader_->setOrderStep(orderStep);
    start(true);
}

void LogLoader::readNew() {
    if (reader_ && !job_)
        start(false);
}

void LogLoader::cancel() {
    if (job_)
        job_->cancel = true;
}

void LogLoader::close() {
    stop();
    reader_.reset();
}

void LogLoader::start(bool fresh) {
    auto job = std::make_shared<Job>();
    job->reader = reader_;
    job_ = job;
    QThread* thread = QThread::create([job] {
        job->reader->readMore(job->rows, [&job = *job](qint64 done, qint64 total) {
            job.done = done;
            job.total = total;
            return !job.cancel;
        });
    });
    // The thread goes once it has ended, whether its read is still wanted or not.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job, fresh] {
        if (job != job_)
            return; // dropped
        job_.reset();
        if (job->cancel) {
            // Cancelled before its end was shown, even if the read itself got there.
            reader_->setCancelled();
        } else if (reader_->status() == LogReader::Status::Replaced) {
            // A new run in the same file: read it from its start.
            reader_ = std::make_shared<LogReader>(path_);
            reader_->setOrderStep(orderStep_);
            start(true);
            return;
        }
        Q_EMIT finished(job->rows, fresh);
    });
    thread->start();
}
