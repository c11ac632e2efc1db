// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless_run.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A signal handler only notes the signal and wakes the event loop with a byte
// down this pair of sockets; the event loop acts on it between two ticks or
// rows. Both ends are non-blocking: when the pair is full, a wake-up is
// pending already, and the handler returns at once, so a burst of thousands
// of signals can neither block the handler nor lose a SIGTERM. However many
// SIGHUPs came since the last wake-up, the log is reopened once.
int signalPipe[2] = {-1, -1};
std::atomic<bool> stopPending{false};
std::atomic<bool> reopenPending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");

void noteSignal(int number) {
    const int savedErrno = errno;
    (number == SIGHUP ? reopenPending : stopPending).store(true);
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

void handleSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

void say(const QString& line) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}
} // namespace

HeadlessRun::HeadlessRun(std::unique_ptr<GamePortSource> source, Options options)
    : options_(std::move(options)), station_(std::move(source), AlarmMonitor::Mode::Headless),
      log_([this] {
          const SamplingCycle& cycle = station_.cycle();
          return std::array<int16_t, 2>{cycle.readout(1).shown, cycle.readout(2).shown};
      }) {
    // Port status changes go to the journal, one dated line each.
    connect(&station_, &Station::statusChanged, this, &HeadlessRun::sayDated);
    connect(&log_, &LogRun::failed, this, [this](const QString& message) { fail(message, 4); });
}

HeadlessRun::~HeadlessRun() {
    if (signals_) {
        handleSignals(SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
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
    if (!station_.start()) {
        say(QStringLiteral("kelvano: Couldn't detect the Sensors. Make sure gameport driver is "
                           "installed."));
        status_ = 1;
        return false;
    }
    // Log rotation moves the file and then sends SIGHUP; a row due in between goes to the path.
    log_.setFollowPath(true);
    log_.setInterval(options_.intervalSeconds
                         ? *options_.intervalSeconds * 1000
                         : LogRun::intervalMs(station_.settings().intervalPosition()));
    const bool toStandardOutput = options_.logPath == QLatin1String("-");
    // Rows written to /dev/null, put there in its place, would go nowhere without a word.
    const bool logging =
        toStandardOutput
            ? !options_.standardOutputClosed && log_.startOnStandardOutput()
            : log_.start(options_.logPath.isEmpty() ? CsvLog::defaultPath() : options_.logPath);
    if (!logging) {
        station_.stop();
        say(options_.standardOutputClosed && toStandardOutput
                ? QStringLiteral("Logging did not start: standard output is closed.")
                : log_.errorMessage());
        status_ = 4;
        return false;
    }
    // The ticks and the rows counted again from one moment, the ticks first: a row falls due
    // just after its tick, so both are served in one wake-up, in that order, as in the window,
    // where sampling starts before "log it".
    station_.timer()->start();
    log_.setInterval(log_.interval());
    sayDated(QStringLiteral("logging to %1 every %2 s from %3")
                 .arg(toStandardOutput ? QStringLiteral("standard output")
                                       : QFileInfo(log_.path()).absoluteFilePath())
                 .arg(log_.interval() / 1000)
                 .arg(options_.device));
    return true;
}

void HeadlessRun::sayDated(const QString& line) const {
    const QDateTime now = clock_();
    say(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate) + QLatin1Char(' ') + line);
}

void HeadlessRun::fail(const QString& message, int status) {
    say(message);
    status_ = status;
    station_.stop();
    QCoreApplication::exit(status);
}

void HeadlessRun::onSignal() {
    // Every wake-up byte first, then the signals noted before the last of them.
    char bytes[256];
    while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
    }
    const bool reopen = reopenPending.exchange(false);
    if (!stopPending.exchange(false)) {
        if (reopen && !log_.reopen())
            fail(log_.errorMessage(), 4);
        return;
    }
    // The row in progress, if any, was finished before this runs.
    station_.stop();
    log_.stop();
    QCoreApplication::exit(0);
}

int HeadlessRun::exec() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        signals_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
        connect(signals_, &QSocketNotifier::activated, this, &HeadlessRun::onSignal);
        stopPending = reopenPending = false;
        handleSignals(noteSignal);
        // A reader of standard output that goes away makes a failed write, not the end.
        std::signal(SIGPIPE, SIG_IGN);
    }
    if (!start())
        return status_;
    const int status = QCoreApplication::exec();
    log_.stop();
    return status;
}
