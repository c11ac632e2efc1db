// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV log: row text, the file of a run, and the log panel driven as a user drives it.

#include "logging/csv_log.h"
#include "logging/log_panel.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {
const QByteArray header = "Date,Time,Sensor1,Sensor2,\r\n";
const QDateTime morning(QDate(2026, 12, 5), QTime(7, 48, 47));

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}
} // namespace

class TestLogging : public QObject {
    Q_OBJECT
    QTemporaryDir config;
    QTemporaryDir folder;
    QString path() const { return folder.filePath(QStringLiteral("KelvanoLog.csv")); }

    std::unique_ptr<frmTemp1> window() {
        auto w = loadedWindow();
        w->logPanel()->setLogPath(path());
        w->logPanel()->setClock([] { return morning; });
        w->Timer1_Timer(); // 5203 and 31036: both sensors at 10 °C, shown as 50 °F
        return w;
    }

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    // Row text as CSV wants it; rows in the user's formats (US in the run below) reach the file
    // as written; opening again starts a new file.
    void rows() {
        QCOMPARE(CsvLog::rowText("d", "t", -7, -7), QByteArray("d,t,-7,-7 \r\n"));
        QCOMPARE(CsvLog::rowText("d", "t", 0, 0), QByteArray("d,t,0, 0 \r\n"));
        QCOMPARE(CsvLog::rowText("5. Dez., 2026", "7\"48", 1, 2),
                 QByteArray("\"5. Dez., 2026\",\"7\"\"48\",1, 2 \r\n"));
        // The users' own formats drop the zone (German below, US in the run); quoted t stays.
        QCOMPARE(CsvLog::withoutTimeZone("HH 'at' mm tttt"), QStringLiteral("HH 'at' mm"));
        QCOMPARE(CsvLog::folderFor(folder.path(), "/docs"), folder.path()); // else: log_folder.sh
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        CsvLog log;
        QVERIFY(log.open(path()));
        QVERIFY(log.writeRow(morning, 1, 2));
        QVERIFY(log.open(path()));
        QVERIFY(log.writeRow(morning, 72, 70));
        QCOMPARE(contents(path()), header + "05.12.26,07:48:47,72, 70 \r\n");
    }

    // A run writes the header, then a row per interval; a new interval counts from the choice.
    void aRunWritesHeaderThenOneRowPerInterval() {
        auto w = window();
        LogPanel& log = *w->logPanel();
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        log.Option1->click();
        // Real time: rows at 1 s and 2 s, none at the start or at 2.5 s.
        QTest::qWait(2500);
        log.Option2->click();
        QCOMPARE(contents(path()), header + "12/5/26,7:48:47 AM,50, 50 \r\n"
                                            "12/5/26,7:48:47 AM,50, 50 \r\n");

        // A second run starts a new file; one sensor in °C, the other in °F.
        w->setupPanel()->setUnitOption(w->setupPanel()->column(1).opC, true);
        w->Timer1_Timer();
        log.Option1->click();
        log.TimerCount_Timer();
        QCOMPARE(contents(path()), header + "12/5/26,7:48:47 AM,10, 50 \r\n");

        log.cboTimer->setCurrentIndex(6); // "1 Minute": the next row is a whole minute away
        QVERIFY(log.TimerCount->isActive() && log.TimerCount->remainingTime() > 59000);
        log.cboTimer->setCurrentIndex(5);
        QCOMPARE(log.TimerCount->interval(), 30000);
        QVERIFY(log.TimerCount->remainingTime() > 29000);
        log.cboTimer->setCurrentIndex(0);
        QCOMPARE(log.TimerCount->interval(), 1000);

        // Leaving the program closes the file with every row in it.
        log.TimerCount_Timer();
        w->close();
        QVERIFY(log.Option2->isChecked() && !log.log().isOpen() && !log.TimerCount->isActive());
        QCOMPARE(contents(path()).count("\r\n"), 3);
    }

    // A failed create or write ends the run with a box saying why; the file keeps whole rows.
    void aFailureEndsTheRun_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("rows"); // written before the failure
        QTest::addColumn<QString>("text");
        const QString created = "Logging did not start: the log file %1 could not be created (%2).";
        const QString written = "Logging stopped: writing to %1 failed (File too large). %2";
        QTest::newRow("a folder in its place")
            << folder.path() << 0 << created.arg(folder.path(), "Is a directory");
        QTest::newRow("no room for the header")
            << "/dev/full" << 0 << created.arg("/dev/full", "No space left on device");
        QTest::newRow("no row") << path() << 0
                                << written.arg(path(), "No row had been written yet.");
        QTest::newRow("two rows") << path() << 2
                                  << written.arg(path(),
                                                 "The 2 rows written before it are in the file.");
    }
    void aFailureEndsTheRun() {
        QFETCH(QString, target);
        QFETCH(int, rows);
        auto w = window();
        LogPanel& log = *w->logPanel();
        log.Option1->click(); // an earlier run's rows do not count
        log.TimerCount_Timer();
        log.Option2->click();
        log.setLogPath(target);
        const int boxes = Dialogs::boxesShown();
        const QByteArray row = "12/5/26,7:48:47 AM,50, 50 \r\n";
        // Room for the header, the rows and part of one more.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit room{rlim_t(header.size() + rows * row.size() + 10), old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &room);
        Dialogs::setNextAnswer(QMessageBox::Ok);
        log.Option1->click();
        for (int i = 0; i <= rows && log.Option1->isChecked(); ++i)
            log.TimerCount_Timer();
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(Dialogs::boxesShown(), boxes + 1);
        QTEST(Dialogs::lastBox().text, "text");
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        if (target == path())
            QCOMPARE(contents(path()), header + row.repeated(rows)); // no half row
    }
};

QTEST_MAIN(TestLogging)
#include "test_logging.moc"
