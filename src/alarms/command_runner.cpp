// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_runner.h"

#include <QProcess>
#include <cstdio>

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
                   .arg(command));
        return;
    }
    QStringList& words = *split;
    if (words.isEmpty())
        return;
    const QString program = words.takeFirst();
    const QString name = QStringLiteral("kelvano: alarm command \"%1\"").arg(program);

    auto* process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [variable, value] : variables)
        environment.insert(variable, value);
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProgram(program);
    process->setArguments(words);

    const auto relayErrors = [this, process, name] {
        while (process->canReadLine())
            report(name + QStringLiteral(": ") +
                   QString::fromLocal8Bit(process->readLine()).chopped(1));
    };
    const auto finish = [this, process, name](const QString& how) {
        const QByteArray rest = process->readAllStandardError();
        for (const QByteArray& line : rest.split('\n')) {
            if (!line.isEmpty())
                report(name + QStringLiteral(": ") + QString::fromLocal8Bit(line));
        }
        report(name + QLatin1Char(' ') + how);
        process->deleteLater();
        --running_;
        Q_EMIT done();
    };
    process->setReadChannel(QProcess::StandardError);
    connect(process, &QProcess::readyReadStandardError, this, relayErrors);
    connect(process, &QProcess::finished, this, [finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit ? QStringLiteral("exited with status %1").arg(code)
                                              : QStringLiteral("ended by signal %1").arg(code));
    });
    connect(process, &QProcess::errorOccurred, this,
            [process, finish](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    finish(QStringLiteral("could not start: %1").arg(process->errorString()));
            });
    ++running_;
    process->start();
}
