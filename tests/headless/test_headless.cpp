// SPDX-License-Identifier: GPL-3.0-or-later
// The run without a window logs the same bytes as the window, given the same settings, port, clock.

#include "headless/headless_run.h"
#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"
#include "window_support.h"

#include <QRadioButton>
#include <QtTest>

class TestHeadless : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit()); }

    void rowsEqualTheLogPanels() {
        // Sensor 1 on its first profile, 2 °C up; sensor 2 in °C; a row every 5 seconds.
        cl_Kelvano store;
        QVERIFY(store.SaveSettings(SettingsKeys::section(), {{"cboThermList1", "0"},
                                                             {"Offset1", "1"},
                                                             {"Celsius2", "True"},
                                                             {"Fahrenheit2", "False"},
                                                             {"cboTimerL", "1"}}));
        const char script[] = "0 5203 31036\n0 9817 29450\n167\n0 0 31036\n0 19619 5199\n";
        QDateTime now;
        const auto clock = [&] { return now; };
        const auto logFile = [&](const char* name) {
            QFile file(dir.filePath(QLatin1String(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
        };

        auto window = loadedWindow(script);
        LogPanel* panel = window->logPanel();
        panel->setClock(clock);
        panel->setLogPath(dir.filePath(QStringLiteral("window.csv")));
        now = QDateTime(QDate(2026, 12, 5), QTime(7, 48, 47));
        panel->Option1->setChecked(true);
        for (int i = 0; i < 5; ++i, now = now.addSecs(5)) {
            window->Timer1_Timer();
            panel->TimerCount_Timer();
        }
        panel->stopLogging();

        auto source = ScriptedSource::parse(QString::fromLatin1(script), nullptr);
        HeadlessRun run(std::make_unique<ScriptedSource>(std::move(*source)),
                        {dir.filePath(QStringLiteral("headless.csv")), std::nullopt, {}});
        run.setClock(clock);
        now = QDateTime(QDate(2026, 12, 5), QTime(7, 48, 47));
        QVERIFY(run.start());
        QCOMPARE(run.log().interval(), 5000);
        for (int i = 0; i < 5; ++i, now = now.addSecs(5)) {
            run.tick();
            run.log().writeRow();
        }
        QCOMPARE(logFile("headless.csv"), logFile("window.csv"));
        QCOMPARE(logFile("headless.csv").count("\r\n"), 6);

        // Rotation moves the file before its SIGHUP: the next row starts a new file at the path.
        QVERIFY(QFile::rename(dir.filePath(QStringLiteral("headless.csv")),
                              dir.filePath(QStringLiteral("rotated.csv"))));
        run.log().writeRow();
        QVERIFY(run.log().isRunning());
        QCOMPARE(logFile("headless.csv").count("\r\n"), 2);
        run.log().stop();
    }
};

QTEST_MAIN(TestHeadless)
#include "test_headless.moc"
