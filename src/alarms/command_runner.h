// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
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
// directly with extra environment variables. Nothing waits for it: when it ends, its exit status,
// and meanwhile each line it writes to standard error, go to the program's
// standard error. Its standard output is discarded (it may be the log's).
class CommandRunner : public QObject {
    Q_OBJECT
  public:
    using Output = std::function<void(const QString& line)>;

    explicit CommandRunner(QObject* parent = nullptr);

    // Where the report lines go; standard error unless set.
    void setOutput(Output output) { output_ = std::move(output); }

    // Starts command (nothing for an empty one) with variables added to the
    // program's environment.
    void run(const QString& command, const QList<std::pair<QString, QString>>& variables);

    // Commands started and not yet reported as ended.
    int running() const { return running_; }

  Q_SIGNALS:
    // A command ended or could not start, after its last line was reported.
    void done();

  private:
    void report(const QString& line);

    Output output_;
    int running_ = 0;
};
