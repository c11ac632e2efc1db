// SPDX-License-Identifier: GPL-3.0-or-later
// What an alarm does: the command it runs, the lines it writes, the settings it reads.

#include "alarms/alarm_monitor.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"
#include "settings/settings_keys.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtCore>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <vector>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {
// The event loop that runs the commands; one per test program.
QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_alarms", *argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    static const QTemporaryDir config; // the tests' own settings, never the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    return instance;
}

// Runs the event loop until every command started has been reported (at most 30 s).
void waitForCommands(const CommandRunner& runner) {
    QEventLoop loop;
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    QObject::connect(&runner, &CommandRunner::done, &loop, [&] {
        if (runner.running() == 0)
            loop.quit();
    });
    if (runner.running() > 0)
        loop.exec();
}

// The lines of a file, sorted: commands run side by side finish in any order.
QString sortedLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("(none)");
    QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    lines.sort();
    return lines.join(u'\n');
}

// A script in a folder whose name holds blanks and both quotes: it adds its arguments and the
// alarm variables to record.txt beside it, writes two lines of standard error (the last
// unfinished) and ends with status 3.
struct Recorder {
    QTemporaryDir dir;
    QString folder = dir.path() + QStringLiteral("/it's a \"dir\"");
    QString script = folder + QStringLiteral("/rec.sh");
    QString record = folder + QStringLiteral("/record.txt");

    Recorder() {
        QDir().mkpath(folder);
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n"
                "out=\"$(dirname \"$0\")/record.txt\"\n"
                "line=$(for a in \"$@\"; do printf '[%s]' \"$a\"; done)\n"
                "echo \"$line\" $(env | grep '^KELVANO_' | sort) >>\"$out\"\n"
                "echo 'first line' >&2\n"
                "printf 'unfinished' >&2\n"
                "exit 3\n");
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // The script's path as the command field holds it, in single quotes.
    QString quoted() const {
        return u'\'' + QString(script).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    }
};
} // namespace

TEST(AlarmCommand, SplitAsAShellWould) {
    const std::pair<const char*, const char*> cases[] = {
        {"a  b\tc", "[a][b][c]"},
        {R"('it'\''s' "x \"y\" \$z \a" back\ slash '' "")",
         R"([it's][x "y" $z \a][back slash][][])"},
        {"one\\\ntwo three", "[onetwo][three]"},
        {"   ", ""},
        {"\"open", "(not closed)"},
        {"'open", "(not closed)"},
    };
    for (const auto& [command, words] : cases) {
        const auto split = splitShellWords(QString::fromUtf8(command));
        QString got = split ? QString() : QStringLiteral("(not closed)");
        for (const QString& w : split.value_or(QStringList()))
            got += u'[' + w + u']';
        EXPECT_EQ(got.toStdString(), words) << command;
    }
}

// The runner's limits: the commands of a case are run one after another, each case's lines
// (sorted) must be what the user reads on standard error. A case may leave only N descriptors
// free while it starts its commands ("free N"), start them with SIGTERM ignored, or give them
// 0.1 s before SIGTERM and 0.1 s more before SIGKILL ("0.1 s").
TEST(AlarmCommand, Limits) {
    app();
    const QString huge = QString(1'000'000, u'a');
    const QString sleep = QStringLiteral("sleep 100");
    // The setup ("free N", "0.1 s", "SIGTERM ignored"), the commands, the lines.
    const std::tuple<const char*, QStringList, const char*> cases[] = {
        // Only a failure is reported.
        {"",
         {"true", "sh -c 'exit 3'", "sh -c 'kill -HUP $$'", "/nonexistent/alarm-command --flag"},
         "\"/nonexistent/alarm-command\" could not start: execve: No such file or directory\n"
         "\"sh\" ended by signal 1\n"
         "\"sh\" exited with status 3"},
        // A message quotes 40 characters of a command.
        {"",
         {"/x/" + huge, "notify '" + huge},
         "\"/x/a×37…\" could not start: execve: File name too long\n"
         "not run: a quote is not closed in: notify 'a×32…"},
        // Standard error line by line, each cut at 1,000 characters, 64 KiB in all.
        {"",
         {R"(sh -c 'printf "%01500d\nshort\n" 0 >&2')",
          R"(sh -c 'yes 12345678 | head -c 200000 >&2')"},
         "\"sh\": 0×1000…\n"
         "\"sh\": 1234567\n"
         "\"sh\": 12345678 ×7281\n"
         "\"sh\": 134464 more bytes of standard error discarded\n"
         "\"sh\": short"},
        // No descriptor left, or fewer than a start needs, or just enough.
        {"free 0", {"true"}, "\"true\" could not start: Too many open files"},
        {"free 2", {"true"}, "\"true\" could not start: Too many open files"},
        {"free 7", {"true"}, ""},
        // At most 4 at once; each ended by SIGTERM after its time.
        {"0.1 s",
         {sleep, sleep, sleep, sleep, sleep},
         "\"sleep\" ended by signal 15 ×4\n"
         "\"sleep\" still running after 0.1 s: sent SIGTERM ×4\n"
         "not started: 4 still running"},
        // SIGKILL for a command that ignores SIGTERM.
        {"0.1 s, SIGTERM ignored",
         {sleep},
         "\"sleep\" ended by signal 9\n"
         "\"sleep\" still running 0.1 s after SIGTERM: sent SIGKILL\n"
         "\"sleep\" still running after 0.1 s: sent SIGTERM"},
    };
    // The program's standard descriptors that are open, which no case may close.
    std::vector<int> standard;
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0)
            standard.push_back(fd);
    }
    for (const auto& [setupText, commands, wanted] : cases) {
        CommandRunner runner;
        QStringList lines;
        runner.setOutput([&](const QString& line) { lines << line; });
        const QString setup = QString::fromUtf8(setupText);
        if (setup.contains(u"0.1 s"))
            runner.setTimeLimits(std::chrono::milliseconds(100), std::chrono::milliseconds(100));
        rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        const rlimit all = limit;
        // The lowest limit that leaves freeDescriptors descriptors free.
        for (int free = 0, fd = 0; setup.startsWith(u"free "); ++fd) {
            if (free == setup.mid(5).toInt()) {
                limit.rlim_cur = fd;
                break;
            }
            free += fcntl(fd, F_GETFD) < 0;
        }
        const sighandler_t term =
            std::signal(SIGTERM, setup.contains(u"ignored") ? SIG_IGN : SIG_DFL);
        setrlimit(RLIMIT_NOFILE, &limit);
        for (const QString& command : commands)
            runner.run(command, {});
        setrlimit(RLIMIT_NOFILE, &all);
        std::signal(SIGTERM, term);
        waitForCommands(runner);

        // The lines without their common start, a run of more than 9 equal characters as
        // "c×N", a run of equal lines as "line ×N".
        lines.sort();
        QStringList shown;
        for (qsizetype i = 0, n; i < lines.size(); i += n) {
            for (n = 1; i + n < lines.size() && lines[i + n] == lines[i];)
                ++n;
            QString line;
            const QString& whole = lines[i];
            for (qsizetype j = whole.startsWith(u"kelvano: alarm command ") ? 23 : 0, m;
                 j < whole.size(); j += m) {
                for (m = 1; j + m < whole.size() && whole[j + m] == whole[j];)
                    ++m;
                line += m > 9 ? whole[j] + QStringLiteral("×%1").arg(m) : whole.mid(j, m);
            }
            shown << line + (n > 1 ? QStringLiteral(" ×%1").arg(n) : QString());
        }
        EXPECT_EQ(shown.join(u'\n').toStdString(), wanted)
            << commands.join(u'|').left(80).toStdString();
        EXPECT_EQ(runner.running(), 0);
        for (int fd : standard)
            EXPECT_GE(fcntl(fd, F_GETFD), 0) << setupText << ": descriptor " << fd << " closed";
    }
}

// A replay that crosses the high limit runs the command, without a shell, with each event's
// values: quotes and blanks in the path and the arguments reach it unchanged; its standard error
// and exit status are reported, the program named by its first 40 characters. A sensor with no
// profile chosen is "Sensor 1" in the texts, not the chooser's placeholder.
TEST(AlarmMonitor, CommandGetsTheEvent) {
    app();
    Recorder rec;
    cl_Kelvano store;
    store.SaveSettings(SettingsKeys::section(),
                       {{QStringLiteral("Alarm1HighOn"), QStringLiteral("True")},
                        {QStringLiteral("Alarm1High"), QStringLiteral("60")},
                        {QStringLiteral("Alarm1Hold"), QStringLiteral("1")},
                        {QStringLiteral("AlarmCommand"),
                         rec.quoted() + R"( "two words" 'a "quoted" one' $HOME '')"}});
    // Sensor 1 (°F) reads 50 °F at 5203 and 75 °F at 3000; then it is unplugged for 1 s (the
    // hold time) while the port reads.
    ScriptedSource source(
        {{0, 5203, 31036}, {0, 3000, 31036}, {0, 3000, 31036}, {0, 5203, 31036}, {0, 0, 31036}});
    std::array<ChannelInput, 2> inputs;
    for (int s : {1, 2}) {
        inputs[s - 1].coefficients = initialCoefficients(s);
        inputs[s - 1].profileText = profilePlaceholder(s);
    }
    SamplingCycle cycle;
    AlarmMonitor monitor(AlarmMonitor::Mode::Headless);
    qint64 second = 0;
    monitor.setClock([&] { return AlarmInstant{second * 1000, second * 1000}; });
    QStringList lines;
    monitor.setOutput([&](const QString& line) { lines << line; });
    QStringList said;
    monitor.runner().setOutput([&](const QString& line) { said << line; });
    monitor.load(&store, StoredSettings(store),
                 {TemperatureUnit::Fahrenheit, TemperatureUnit::Fahrenheit});
    for (second = 0; second < 6; ++second) {
        cycle.tick(source, inputs);
        monitor.feed(cycle, {TemperatureUnit::Fahrenheit, TemperatureUnit::Fahrenheit});
    }
    waitForCommands(monitor.runner());
    EXPECT_EQ(lines.value(0).toStdString(),
              "1970-01-01T00:00:02Z Kelvano: Sensor 1 high: Sensor 1: 75°F, above the high limit "
              "of 60°F since 00:00:01.");
    const std::string args = R"([two words][a "quoted" one][$HOME][])";
    EXPECT_EQ(sortedLines(rec.record).toStdString(),
              args +
                  " KELVANO_EVENT=high KELVANO_LIMIT=60 KELVANO_SENSOR=1 KELVANO_UNIT=F "
                  "KELVANO_VALUE=75\n" +
                  args +
                  " KELVANO_EVENT=normal KELVANO_LIMIT=60 KELVANO_SENSOR=1 "
                  "KELVANO_UNIT=F KELVANO_VALUE=50\n" +
                  args +
                  " KELVANO_EVENT=unplugged KELVANO_LIMIT= KELVANO_SENSOR=1 "
                  "KELVANO_UNIT=F KELVANO_VALUE=");
    ASSERT_GT(rec.script.size(), 40);
    const QString name = "kelvano: alarm command \"" + rec.script.left(40) + "…\"";
    said.sort();
    QStringList each; // one run a line, for the high, normal and unplugged events
    for (const char* end : {" exited with status 3", ": first line", ": unfinished"})
        each << name + end << name + end << name + end;
    EXPECT_EQ(said.join(u'\n').toStdString(), each.join(u'\n').toStdString());
}

// An alarm's end as its notification says it, where no replay above gives it.
TEST(AlarmMonitor, EndTexts) {
    using C = AlarmCondition;
    const auto F = TemperatureUnit::Fahrenheit;
    const std::pair<AlarmEvent, const char*> cases[] = {
        {{1, AlarmEvent::Normal, C::Low, 50, 40}, "50°F, back above the low limit of 40°F (alarm"},
        {{1, AlarmEvent::Normal, C::High, 50, {}, F, true}, "high limit switched off (alarm"},
        {{1, AlarmEvent::Normal, C::Low, 50, {}, F, true}, "low limit switched off (alarm"},
        {{1, AlarmEvent::Normal, C::Unplugged, {}, {}, F, true}, "limits switched off (unplugged"},
    };
    for (const auto& [event, text] : cases)
        EXPECT_EQ(AlarmMonitor::body(event, QStringLiteral("S")).toStdString(),
                  std::string("S: ") + text + " since 00:00:00).");
}

// Without a window a notification goes to the session bus only when one is there: named in the
// environment, or at its usual place in the runtime folder; else the fallback (the tray's balloon)
// shows it at once, and each one waiting after it. Standard error says why the desktop got none
// when a bus named cannot be reached, and says nothing when no bus is there. (A bus that never
// answers is in silent_bus.sh.)
TEST(DesktopNotifier, OnlyABusThatIsThere) {
    app();
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const std::pair<const char*, const char*> cases[] = {
        {"", "balloon: Kelvano: Sensor 1 high\nballoon: Kelvano: Sensor 2 high"},
        {"unix:path=/nonexistent/kelvano-test-bus",
         "kelvano: no desktop notifications: the session bus at /nonexistent/kelvano-test-bus "
         "cannot be reached (No such file or directory)\nballoon: Kelvano: Sensor 1 high\n"
         "balloon: Kelvano: Sensor 2 high"},
    };
    for (const auto& [address, said] : cases) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        DesktopNotifier notifier;
        notifier.setExistingBusOnly(true);
        QStringList lines;
        notifier.setLastResort(true, [&](const QString& line) { lines << line; });
        notifier.setFallback([&](const QString& summary, const QString&, bool) {
            lines << QStringLiteral("balloon: ") + summary;
            return true;
        });
        for (const char* summary : {"Kelvano: Sensor 1 high", "Kelvano: Sensor 2 high"})
            notifier.notify(QString::fromUtf8(summary), QStringLiteral("75°F"), true);
        for (QDeadlineTimer deadline(30000);
             lines.filter(QStringLiteral("balloon")).size() < 2 && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
        EXPECT_EQ(lines.join(u'\n').toStdString(), said) << address;
    }
}

// A bus that answers the opening of the first connection, then never a byte: the library's own
// opening holds the notifier's thread. The notifier goes all the same, its thread left behind (a
// thread destroyed while it runs would end the program).
TEST(DesktopNotifier, LeavesAThreadHeldByTheBusBehind) {
    app();
    QTemporaryDir dir;
    QLocalServer bus;
    ASSERT_TRUE(bus.listen(dir.filePath(QStringLiteral("bus"))));
    int connections = 0;
    QEventLoop secondConnection;
    QObject::connect(&bus, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* client = bus.nextPendingConnection())
            if (++connections == 1)
                client->write("REJECTED EXTERNAL\r\n");
        if (connections >= 2)
            secondConnection.quit();
    });
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(bus.fullServerName()));
    {
        DesktopNotifier notifier;
        {
#if defined(__SANITIZE_ADDRESS__)
            // The thread left behind is not freed, on purpose: not a leak to report.
            __lsan::ScopedDisabler leftBehind;
#endif
            notifier.notify(QStringLiteral("Kelvano: Sensor 1 high"), QStringLiteral("75°F"), true);
        }
        // The library's own connection, or a minute at most.
        QTimer::singleShot(60000, &secondConnection, &QEventLoop::quit);
        if (connections < 2)
            secondConnection.exec();
        ASSERT_EQ(connections, 2);
    }
}

// Stored values the dialog would refuse switch the sensor's limits off (each refusal is in the
// dialog's table: both go through checkLimits), each with a line at load; a limit is in the
// sensor's own unit, with at most two decimals. A command too long is none.
TEST(AlarmSettings, BadStoredValuesMeanOff) {
    app();
    // Sensor 1's stored keys ("Command" is AlarmCommand, "<n>" n characters), its unit, the
    // limits read (high, low, hysteresis, hold, command length) and the lines written at load.
    const std::tuple<const char*, char, const char*, const char*> cases[] = {
        {"", 'F', "off off 1 0 0", ""},
        {"HighOn=True;High=25.555;LowOn=true;Low=1e-320;Hysteresis=2;Hold=5;Command=<4096>", 'F',
         "25.56 0 2 5 4096", ""},
        {"HighOn=yes;High=25;LowOn=True", 'F', "off off 1 0 0", "Low (not a number)"},
        {"HighOn=True;High=301", 'C', "off off 1 0 0", "High (must be from -100 to 300 °C)"},
        {"HighOn=True;High=572;Command=<4097>", 'F', "572 off 1 0 0",
         "Command (at most 4096 characters): no command runs"},
        {"HighOn=True;High=1e308", 'F', "off off 1 0 0", "High (must be from -148 to 572 °F)"},
        {"HighOn=True;High=nan", 'F', "off off 1 0 0", "High (not a number)"},
        {"HighOn=True;High=25;Hysteresis=1e308", 'F', "off off 1e+308 0 0",
         "Hysteresis (must be from 0 to 180 °F)"},
        {"LowOn=True;Low=25;Hysteresis=-1;Hold=1e12", 'C', "off off -1 0 0",
         "Hysteresis (must be from 0 to 100 °C); "
         "Hold (a whole number of seconds from 0 to 86400)"},
    };
    cl_Kelvano store;
    for (const auto& [stored, unit, limits, lines] : cases) {
        store.DeleteSetting(SettingsKeys::section());
        cl_Kelvano::Values values;
        for (const QString& pair : QString::fromUtf8(stored).split(u';', Qt::SkipEmptyParts)) {
            QString value = pair.section(u'=', 1);
            if (value.startsWith(u'<'))
                value = QString(value.mid(1).chopped(1).toInt(), u'x');
            values.emplace_back((pair.startsWith("Command") ? "Alarm" : "Alarm1") +
                                    pair.section(u'=', 0, 0),
                                value);
        }
        store.SaveSettings(SettingsKeys::section(), values);
        AlarmMonitor monitor;
        QStringList said;
        monitor.setOutput([&](const QString& line) { said << line; });
        monitor.load(&store, StoredSettings(store),
                     {*unitFromCode(QString(QLatin1Char(unit))), TemperatureUnit::Fahrenheit});
        const AlarmSettings read = monitor.settings();
        const AlarmLimits& l = read.sensors[0];
        const QString got = QStringList{l.highOn ? numberText(l.high) : QStringLiteral("off"),
                                        l.lowOn ? numberText(l.low) : QStringLiteral("off"),
                                        numberText(l.hysteresis), QString::number(l.holdSeconds),
                                        QString::number(read.command.size())}
                                .join(u' ');
        EXPECT_EQ(got.toStdString(), limits) << stored;
        const QRegularExpression line(
            QStringLiteral("kelvano: stored alarm setting Alarm1?(\\w+) refused (\\(.*\\))(: the "
                           "alarms of sensor 1 are off)?"));
        EXPECT_EQ(said.replaceInStrings(line, QStringLiteral("\\1 \\2"))
                      .join(QStringLiteral("; "))
                      .toStdString(),
                  lines)
            << stored;
    }
}
