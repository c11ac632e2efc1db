// SPDX-License-Identifier: GPL-3.0-or-later
// What an alarm does: the command it runs, the lines it writes, the settings it reads.

#include "alarms/alarm_monitor.h"
#include "sensor/sampling_cycle.h"
#include "sensor/scripted_source.h"
#include "settings/settings_keys.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
// The event loop that runs the commands; one per test program.
QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_alarms", *argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
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
        f.close();
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

// Quotes and blanks in the path and the arguments reach the command unchanged; its standard
// error and exit status are reported; a command that cannot start is reported the same way.
TEST(AlarmCommand, RunsWithoutAShell) {
    app();
    Recorder rec;
    CommandRunner runner;
    QStringList lines;
    runner.setOutput([&](const QString& line) { lines << line; });
    runner.run(rec.quoted() + QStringLiteral(R"( "two words" 'a "quoted" one' $HOME '')"),
               {{QStringLiteral("KELVANO_EVENT"), QStringLiteral("high")}});
    runner.run(QStringLiteral("/nonexistent/alarm-command --flag"), {});
    runner.run(QStringLiteral("notify 'unclosed"), {});
    waitForCommands(runner);

    EXPECT_EQ(sortedLines(rec.record).toStdString(),
              "[two words][a \"quoted\" one][$HOME][] KELVANO_EVENT=high");
    lines.sort();
    const QString name = QStringLiteral("kelvano: alarm command \"%1\"").arg(rec.script);
    ASSERT_EQ(lines.size(), 5) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.takeFirst().startsWith(
        "kelvano: alarm command \"/nonexistent/alarm-command\" could not start: "));
    EXPECT_EQ(lines, QStringList({name + " exited with status 3", name + ": first line",
                                  name + ": unfinished",
                                  "kelvano: alarm command not run: a quote is not closed in: "
                                  "notify 'unclosed"}));
}

// A replay that crosses the high limit runs the command with each event's values. (The lines on
// standard error are checked with a real notification service, in notifications.sh.)
TEST(AlarmMonitor, CommandGetsTheEvent) {
    app();
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    Recorder rec;
    cl_Kelvano store;
    store.SaveSettings(SettingsKeys::section(),
                       {{QStringLiteral("Alarm1HighOn"), QStringLiteral("True")},
                        {QStringLiteral("Alarm1High"), QStringLiteral("60")},
                        {QStringLiteral("Alarm1Hold"), QStringLiteral("1")},
                        {QStringLiteral("AlarmCommand"), rec.quoted()}});
    // Sensor 1 (°F) reads 50 °F at 5203 and 75 °F at 3000; then it is unplugged.
    ScriptedSource source(
        {{0, 5203, 31036}, {0, 3000, 31036}, {0, 3000, 31036}, {0, 5203, 31036}, {0, 0, 31036}});
    std::array<ChannelInput, 2> inputs;
    for (int s : {1, 2})
        inputs[s - 1].coefficients = initialCoefficients(s);
    SamplingCycle cycle;
    AlarmMonitor monitor(AlarmMonitor::Mode::Headless);
    qint64 second = 0;
    monitor.setClock([&] { return AlarmInstant{second * 1000, second * 1000}; });
    monitor.setOutput([](const QString&) {});
    monitor.runner().setOutput([](const QString&) {});
    monitor.load(&store, StoredSettings(store), {QStringLiteral("F"), QStringLiteral("F")});
    for (second = 0; second < 5; ++second) {
        cycle.tick(source, inputs);
        monitor.feed(cycle, {QStringLiteral("F"), QStringLiteral("F")});
    }
    waitForCommands(monitor.runner());
    EXPECT_EQ(
        sortedLines(rec.record).toStdString(),
        " KELVANO_EVENT=high KELVANO_LIMIT=60 KELVANO_SENSOR=1 KELVANO_UNIT=F KELVANO_VALUE=75\n"
        " KELVANO_EVENT=normal KELVANO_LIMIT=60 KELVANO_SENSOR=1 KELVANO_UNIT=F "
        "KELVANO_VALUE=50");
}

// Stored values the dialog would refuse switch the sensor's limits off (each refusal is in the
// dialog's table: both go through checkLimits); a limit is in the sensor's own unit.
TEST(AlarmSettings, BadStoredValuesMeanOff) {
    // Sensor 1's stored keys, its unit, the limits read: high, low, hysteresis, hold.
    const std::tuple<const char*, UnitCode, const char*> cases[] = {
        {"", 'F', "off off 1 0"},
        {"HighOn=True;High=25.5;LowOn=true;Low=-4;Hysteresis=2;Hold=5", 'F', "25.5 -4 2 5"},
        {"HighOn=yes;High=25;LowOn=True", 'F', "off off 1 0"},
        {"HighOn=True;High=600", 'C', "off off 1 0"},
        {"HighOn=True;High=600", 'F', "600 off 1 0"},
        {"HighOn=True;High=25;Hold=86401", 'F', "off off 1 0"},
    };
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    cl_Kelvano store;
    for (const auto& [stored, unit, limits] : cases) {
        store.DeleteSetting(SettingsKeys::section());
        cl_Kelvano::Values values;
        for (const QString& pair : QString::fromUtf8(stored).split(u';', Qt::SkipEmptyParts))
            values.emplace_back(QStringLiteral("Alarm1") + pair.section(u'=', 0, 0),
                                pair.section(u'=', 1));
        store.SaveSettings(SettingsKeys::section(), values);
        const AlarmLimits l = readAlarmSettings(StoredSettings(store), {unit, 'F'}).sensors[0];
        const QString got = QStringList{l.highOn ? numberText(l.high) : QStringLiteral("off"),
                                        l.lowOn ? numberText(l.low) : QStringLiteral("off"),
                                        numberText(l.hysteresis), QString::number(l.holdSeconds)}
                                .join(u' ');
        EXPECT_EQ(got.toStdString(), limits) << stored;
    }
}
