// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

// Splits a command line into words as a POSIX shell does, without expanding
// anything: blanks separate words; 'single quotes' keep everything; "double
// quotes" keep everything but a backslash before $ ` " \ or a line break; a
// backslash outside quotes keeps the next character. Nothing when a quote is
// not closed.
std::optional<QStringList> splitShellWords(const QString& command);

// Runs the user's alarm command without a shell: the command line is split
// into the program and its arguments as a shell would split it, then started
// directly with extra environment variables. Nothing waits for it, and it is
// kept within bounds:
// - at most maxRunning commands run at once; an event that finds that many
//   still running starts none and says so;
// - a command still running after 60 s gets SIGTERM, and SIGKILL 5 s later,
//   each with a line;
// - each line it writes to standard error goes to the program's standard
//   error as it comes, cut at maxLineLength characters; past the first
//   maxErrorBytes the rest is discarded, with one line saying how much;
// - only a failure is reported: a status other than 0, a signal, a start
//   that failed.
// Its standard output is discarded (it may be the log's). A message names the
// program by at most its first maxQuoted characters.
class CommandRunner : public QObject {
    Q_OBJECT
  public:
    using Output = std::function<void(const QString& line)>;
    static constexpr int maxRunning = 4;
    static constexpr qsizetype maxLineLength = 1000;
    static constexpr qint64 maxErrorBytes = 64 * 1024;
    static constexpr qsizetype maxQuoted = 40;

    explicit CommandRunner(QObject* parent = nullptr);

    // Where the report lines go; standard error unless set.
    void setOutput(Output output) { output_ = std::move(output); }
    // How long a command may run before SIGTERM, and then before SIGKILL.
    void setTimeLimits(std::chrono::milliseconds terminate, std::chrono::milliseconds kill) {
        terminateAfter_ = terminate;
        killAfter_ = kill;
    }

    // Starts command (nothing for an empty one) with variables added to the
    // program's environment.
    void run(const QString& command, const QList<std::pair<QString, QString>>& variables);

    // Commands started and not yet reported as ended.
    int running() const { return running_; }

  Q_SIGNALS:
    // A command counted in running() ended or could not start after all,
    // after its last line was reported.
    void done();

  private:
    class Command;
    void report(const QString& line);
    void relay(Command& command, QByteArrayView bytes);
    void reportLine(Command& command);
    void timeUp(Command& command);
    void finish(Command& command, const QString& failure);

    Output output_;
    int running_ = 0;
    std::chrono::milliseconds terminateAfter_{60000};
    std::chrono::milliseconds killAfter_{5000};
};
