// SPDX-License-Identifier: GPL-3.0-or-later
// The station as both faces hold it: the stored settings in force from start-up, each tick's
// readouts, alarms and port status announced in order; the run without a window logs them.

#include "headless/headless_run.h"
#include "sensor/scripted_source.h"
#include "settings/settings_keys.h"
#include "station/station.h"

#include <QtTest>

namespace {
std::unique_ptr<GamePortSource> replay(const char* script) {
    return std::make_unique<ScriptedSource>(
        std::move(*ScriptedSource::parse(QString::fromLatin1(script), nullptr)));
}
} // namespace

class TestStation : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
        // Sensor 2 in °C; sensor 1's high alarm at 45 °F, at once; a row every 5 seconds.
        cl_Kelvano store;
        QVERIFY(store.SaveSettings(SettingsKeys::section(), {{"Celsius2", "True"},
                                                             {"Fahrenheit2", "False"},
                                                             {"Alarm1HighOn", "True"},
                                                             {"Alarm1High", "45"},
                                                             {"cboTimerL", "1"}}));
    }

    void ticksAnnounceInOrder() {
        // Both sensors at 10 °C, then unplugged, then back.
        Station station(replay("0 5203 31036\n0 5203 31036\n167\n0 5203 31036\n"),
                        AlarmMonitor::Mode::Headless);
        QStringList heard;
        const qint64 wall =
            QDateTime(QDate(2026, 12, 5), QTime(7, 48, 47), Qt::UTC).toMSecsSinceEpoch();
        station.alarms().setClock([&] { return AlarmInstant{0, wall}; });
        station.alarms().setOutput([&](const QString& line) { heard << line; });
        connect(&station, &Station::statusChanged, this,
                [&](const QString& status) { heard << status; });
        connect(&station, &Station::ticked, this, [&] {
            heard << QStringLiteral("tick %1 %2 alarm %3")
                         .arg(station.cycle().readout(1).shown)
                         .arg(station.cycle().readout(2).shown)
                         .arg(station.alarms().inAlarm(1));
        });
        QVERIFY(station.start());
        QVERIFY(station.timer()->isActive());
        QCOMPARE(station.timer()->interval(), 1000);
        QCOMPARE(station.timer()->timerType(), Qt::PreciseTimer);
        QCOMPARE(station.units(),
                 (std::array{TemperatureUnit::Fahrenheit, TemperatureUnit::Celsius}));
        for (int i = 0; i < 4; ++i)
            station.tick();
        const QString tick = QStringLiteral("tick 50 10 alarm 1");
        const QString at = QStringLiteral("2026-12-05T07:48:47Z ");
        QCOMPARE(
            heard,
            QStringList({"port status: sensors connected",
                         at + "Kelvano: Sensor 1 high: Sensor 1: 50°F, above the high limit of "
                              "45°F since 07:48:47.",
                         tick, tick, "port status: sensors unplugged",
                         at + "Kelvano: Sensor 1 unplugged: Sensor 1: unplugged since 07:48:47.",
                         tick, "port status: sensors connected",
                         at + "Kelvano: Sensor 1 back to normal: Sensor 1: 50°F, plugged in again "
                              "(unplugged since 07:48:47).",
                         tick}));
    }

    // Rows hold the station's readouts. Log rotation moves the file before its SIGHUP: a row due
    // in between starts a new file at the path.
    void headlessRunLogsTheStationsReadouts() {
        const QDateTime now(QDate(2026, 12, 5), QTime(7, 48, 47));
        const QString path = dir.filePath(QStringLiteral("h.csv"));
        const auto contents = [](const QString& name) {
            QFile file(name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
        };
        HeadlessRun run(replay("0 5203 31036\n"), {path, {}, {}});
        run.setClock([&] { return now; });
        QVERIFY(run.start());
        QCOMPARE(run.log().interval(), 5000); // the stored interval
        run.station().tick();
        run.log().writeRow();
        QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("rotated.csv"))));
        run.log().writeRow();
        run.log().stop();
        const QByteArray rows = "Date,Time,Sensor1,Sensor2,\r\n5 Dec 2026,07:48:47,50, 10 \r\n";
        QCOMPARE(contents(dir.filePath(QStringLiteral("rotated.csv"))), rows);
        QCOMPARE(contents(path), rows);
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
