// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless_run.h"

#include "settings/cl_kelvano.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A signal handler may only write: the signal's number goes down this pair of
// sockets and is handled in the event loop, between two ticks or rows.
int signalPipe[2] = {-1, -1};

void forwardSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

void say(const QString& line) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}
} // namespace

HeadlessRun::HeadlessRun(std::unique_ptr<GamePortSource> source, Options options)
    : source_(std::move(source)), options_(std::move(options)), log_([this] {
          return std::array<int16_t, 2>{cycle_.readout(1).shown, cycle_.readout(2).shown};
      }) {
    sampling_ = new QTimer(this);
    sampling_->setTimerType(Qt::PreciseTimer);
    sampling_->setInterval(1000);
    connect(sampling_, &QTimer::timeout, this, &HeadlessRun::tick);
    connect(&log_, &LogRun::failed, this, [this](const QString& message) { fail(message, 4); });
}

HeadlessRun::~HeadlessRun() {
    if (signals_) {
        for (int number : {SIGTERM, SIGINT, SIGHUP})
            std::signal(number, SIG_DFL);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
}

void HeadlessRun::setClock(std::function<QDateTime()> clock) {
    clock_ = clock;
    log_.setClock(std::move(clock));
}

bool HeadlessRun::start() {
    if (!cycle_.probe(*source_)) {
        say(QStringLiteral("kelvano: Couldn't detect the Sensors. Make sure gameport driver is "
                           "installed."));
        status_ = 1;
        return false;
    }
    const StoredSettings stored(store_);
    settings_.load(stored);
    alarms_.load(&store_, stored, units());
    // Sampling runs first, so that a row due at the same moment as a tick
    // comes after it, as in the window, where sampling starts before "log it".
    sampling_->start();
    // Log rotation moves the file and then sends SIGHUP; a row due in between goes to the path.
    log_.setFollowPath(true);
    log_.setInterval(options_.intervalSeconds ? *options_.intervalSeconds * 1000
                                              : LogRun::intervalMs(settings_.intervalPosition()));
    const bool logging =
        options_.logPath == QLatin1String("-")
            ? log_.startOnStandardOutput()
            : log_.start(options_.logPath.isEmpty() ? CsvLog::defaultPath() : options_.logPath);
    if (!logging) {
        sampling_->stop();
        say(log_.errorMessage());
        status_ = 4;
        return false;
    }
    return true;
}

void HeadlessRun::tick() {
    cycle_.tick(*source_, {settings_.channelInput(1), settings_.channelInput(2)});
    const QString status = cycle_.displays().status;
    if (status != lastStatus_) {
        lastStatus_ = status;
        const QDateTime now = clock_();
        say(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate) + QLatin1Char(' ') +
            status);
    }
    alarms_.feed(cycle_, units());
    Q_EMIT ticked();
}

std::array<QString, 2> HeadlessRun::units() const {
    return {settings_.sensor(1).codes.unit, settings_.sensor(2).codes.unit};
}

void HeadlessRun::fail(const QString& message, int status) {
    say(message);
    status_ = status;
    sampling_->stop();
    QCoreApplication::exit(status);
}

void HeadlessRun::onSignal() {
    char number = 0;
    if (::read(signalPipe[1], &number, 1) != 1)
        return;
    if (number == SIGHUP) {
        if (!log_.reopen())
            fail(log_.errorMessage(), 4);
        return;
    }
    // The row in progress, if any, was finished before this runs.
    sampling_->stop();
    log_.stop();
    QCoreApplication::exit(0);
}

int HeadlessRun::exec() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        signals_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
        connect(signals_, &QSocketNotifier::activated, this, &HeadlessRun::onSignal);
        for (int number : {SIGTERM, SIGINT, SIGHUP})
            std::signal(number, forwardSignal);
    }
    if (!start())
        return status_;
    const int status = QCoreApplication::exec();
    log_.stop();
    return status;
}
