// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_runner.h"

#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::optional<QStringList> splitShellWords(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false; // also for an empty quoted word
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        const QChar next = i + 1 < command.size() ? command[i + 1] : QChar();
        if (c == u'\\' && next == u'\n') { // a line continuation
            ++i;
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'') {
            const qsizetype end = command.indexOf(u'\'', i + 1);
            if (end < 0)
                return std::nullopt;
            word += command.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i == command.size())
                    return std::nullopt;
                const QChar d = command[i];
                if (d == u'"')
                    break;
                const QChar after = i + 1 < command.size() ? command[i + 1] : QChar();
                if (d == u'\\' && QStringView(u"$`\"\\\n").contains(after)) {
                    ++i;
                    if (after != u'\n')
                        word += after;
                } else {
                    word += d;
                }
            }
        } else if (c == u'\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

namespace {
// Descriptors that starting a process takes at once: /dev/null for standard
// input and output, a pipe for standard error, a pipe that reports the start
// and one that watches the child.
constexpr int descriptorsToStart = 7;

// 0 when descriptorsToStart descriptors can be opened now, else why not (an
// errno value). QProcess reports a shortage of descriptors with a wrong reason
// (errno is overwritten before it is read), so the runner looks first.
int descriptorShortage() {
    std::array<int, descriptorsToStart> descriptors;
    descriptors.fill(-1);
    int error = 0;
    for (int& fd : descriptors) {
        fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            break;
        }
    }
    for (int fd : descriptors) {
        if (fd >= 0)
            ::close(fd);
    }
    return error;
}

QString seconds(std::chrono::milliseconds time) {
    return QString::number(double(time.count()) / 1000);
}

// text cut after length characters (not inside a surrogate pair), with "…".
QString cut(const QString& text, qsizetype length) {
    if (text.size() <= length)
        return text;
    if (text[length - 1].isHighSurrogate())
        --length;
    return text.left(length) + QChar(0x2026);
}
} // namespace

// One command started: its process, its time limit and the line of standard
// error it is writing. It owns the process, so deleting it ends everything.
class CommandRunner::Command : public QObject {
  public:
    Command(CommandRunner* runner, const QString& name)
        : QObject(runner), name(name), process(new QProcess(this)) {
        limit.setSingleShot(true);
    }

    const QString name; // "kelvano: alarm command "program""
    QProcess* const process;
    QTimer limit;            // until SIGTERM, then until SIGKILL
    bool terminated = false; // SIGTERM sent
    bool ended = false;      // reported as ended or failed to start
    QByteArray line;         // the line not yet ended
    qint64 errorBytes = 0;   // bytes read from standard error in all
};

CommandRunner::CommandRunner(QObject* parent) : QObject(parent) {}

void CommandRunner::report(const QString& line) {
    if (output_) {
        output_(line);
        return;
    }
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

void CommandRunner::run(const QString& command,
                        const QList<std::pair<QString, QString>>& variables) {
    std::optional<QStringList> split = splitShellWords(command);
    if (!split) {
        report(QStringLiteral("kelvano: alarm command not run: a quote is not closed in: %1")
                   .arg(cut(command, maxQuoted)));
        return;
    }
    QStringList& words = *split;
    if (words.isEmpty())
        return;
    if (running_ >= maxRunning) {
        report(
            QStringLiteral("kelvano: alarm command not started: %1 still running").arg(running_));
        return;
    }
    const QString program = words.takeFirst();
    const QString name =
        QStringLiteral("kelvano: alarm command \"%1\"").arg(cut(program, maxQuoted));
    if (const int error = descriptorShortage()) {
        report(name + QStringLiteral(" could not start: ") +
               QString::fromLocal8Bit(std::strerror(error)));
        return;
    }

    auto* c = new Command(this, name);
    QProcess* process = c->process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [variable, value] : variables)
        environment.insert(variable, value);
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProgram(program);
    process->setArguments(words);

    // Every connection has the command as its context: once it is deleted
    // nothing reaches it, and finish() runs once whatever QProcess emits.
    connect(process, &QProcess::readyReadStandardError, c,
            [this, c] { relay(*c, c->process->readAllStandardError()); });
    connect(process, &QProcess::finished, c, [this, c](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit)
            finish(*c, QStringLiteral("ended by signal %1").arg(code));
        else if (code != 0)
            finish(*c, QStringLiteral("exited with status %1").arg(code));
        else
            finish(*c, QString());
    });
    connect(process, &QProcess::errorOccurred, c, [this, c](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(*c, QStringLiteral("could not start: %1").arg(c->process->errorString()));
    });
    connect(&c->limit, &QTimer::timeout, c, [this, c] { timeUp(*c); });
    ++running_;
    c->limit.start(terminateAfter_);
    process->start();
}

void CommandRunner::relay(Command& c, QByteArrayView bytes) {
    QByteArrayView kept =
        bytes.first(std::clamp<qint64>(maxErrorBytes - c.errorBytes, 0, bytes.size()));
    c.errorBytes += bytes.size();
    for (qsizetype end; (end = kept.indexOf('\n')) >= 0; kept = kept.sliced(end + 1)) {
        c.line += kept.first(end);
        reportLine(c);
    }
    c.line += kept;
}

void CommandRunner::reportLine(Command& c) {
    report(c.name + QStringLiteral(": ") + cut(QString::fromLocal8Bit(c.line), maxLineLength));
    c.line.clear();
}

void CommandRunner::timeUp(Command& c) {
    if (!c.terminated) {
        c.terminated = true;
        report(c.name + QStringLiteral(" still running after %1 s: sent SIGTERM")
                            .arg(seconds(terminateAfter_)));
        c.process->terminate();
        c.limit.start(killAfter_);
    } else {
        report(c.name + QStringLiteral(" still running %1 s after SIGTERM: sent SIGKILL")
                            .arg(seconds(killAfter_)));
        c.process->kill();
    }
}

void CommandRunner::finish(Command& c, const QString& failure) {
    if (c.ended)
        return;
    c.ended = true;
    c.limit.stop();
    relay(c, c.process->readAllStandardError());
    if (!c.line.isEmpty())
        reportLine(c);
    if (c.errorBytes > maxErrorBytes)
        report(c.name + QStringLiteral(": %1 more bytes of standard error discarded")
                            .arg(c.errorBytes - maxErrorBytes));
    if (!failure.isEmpty())
        report(c.name + QLatin1Char(' ') + failure);
    c.deleteLater();
    --running_;
    Q_EMIT done();
}
