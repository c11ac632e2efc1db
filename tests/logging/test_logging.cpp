// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV log: row text, the file of a run, and the log panel driven as a user drives it.

#include "logging/csv_log.h"
#include "logging/log_panel.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {
const QByteArray header = "Date,Time,Sensor1,Sensor2,\r\n";
const QDateTime morning(QDate(2026, 12, 5), QTime(7, 48, 47));
const QByteArray row = "12/5/2026,7:48:47 AM,50, 50 \r\n";

void write(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

void touch(const QString& path, const QDateTime& changed) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(changed, QFileDevice::FileModificationTime));
}

void fire(QTimer* timer) {
    QMetaObject::invokeMethod(timer, "timeout");
}

QStringList files(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}
} // namespace

class TestLogging : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    QString path() const { return folder.filePath(QStringLiteral("KelvanoLog.csv")); }
    const QString longName = QString(240, 'x') + ".csv";

    std::unique_ptr<frmTemp1> window() {
        auto w = loadedWindow();
        w->logPanel()->setLogPath(path());
        w->logPanel()->setClock([] { return morning; });
        w->Timer1_Timer(); // 5203 and 31036: both sensors at 10 °C, shown as 50 °F
        return w;
    }

  private Q_SLOTS:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        for (const QString& name : files(folder.path()))
            QFile::remove(folder.filePath(name));
    }

    // The user's formats, a four-digit year, the time without its zone or what joined it.
    void rowsInTheUsersFormats_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("German") << "de_DE" << QByteArray("05.12.2026,07:48:47,72, 70 \r\n");
        QTest::newRow("zone after a comma")
            << "be_BY" << QByteArray("5.12.2026,07:48:47,72, 70 \r\n");
        QTest::newRow("after a comma and AM")
            << "sq_AL" << QByteArray("5.12.2026,7:48:47 E PARADITES,72, 70 \r\n");
        QTest::newRow("abbreviations kept")
            << "bg_BG" << QByteArray("5.12.2026 г.,7:48:47 ч.,72, 70 \r\n");
    }
    void rowsInTheUsersFormats() {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        CsvLog log;
        QVERIFY(log.open(path(), CsvLog::Mode::Create));
        QVERIFY(log.writeRow(morning, 72, 70));
        QTEST(contents(path()), "text");
    }

    void rowText() {
        QCOMPARE(CsvLog::rowText("d", "t", -7, -7), QByteArray("d,t,-7,-7 \r\n"));
        QCOMPARE(CsvLog::rowText("d", "t", 0, 0), QByteArray("d,t,0, 0 \r\n"));
        QCOMPARE(CsvLog::rowText("5. Dez., 2026", "7\"48", 1, 2),
                 QByteArray("\"5. Dez., 2026\",\"7\"\"48\",1, 2 \r\n"));
        QCOMPARE(CsvLog::withoutTimeZone("(t) HH 'at,' mm"), "HH 'at,' mm");
        QCOMPARE(CsvLog::withFullYear("d 'yy' yy"), "d 'yy' yyyy");
    }

    // The program's own folder only when it runs from a folder of its own (the program run from
    // its own folder and from the installed one: log_folder.sh).
    void logFolder() {
        const QString docs = "/docs";
        const QString own = folder.path();
        QCOMPARE(CsvLog::folderFor(own, docs, {"/usr/bin", own + "/."}), docs);
        QCOMPARE(CsvLog::folderFor(own + "/missing", docs, {}), docs);
        QVERIFY(QFile::link(own, own + "/link"));
        QCOMPARE(CsvLog::folderFor(own, docs, {own + "/link"}), docs);
    }

    // A new run keeps the earlier one's file under the time of its last change.
    void aRunWritesHeaderThenOneRowPerInterval() {
        auto w = window();
        LogPanel& log = *w->logPanel();
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        log.Option1->click();
        QCOMPARE(contents(path()), header);
        QVERIFY(log.TimerCount->isActive() && log.TimerCount->remainingTime() <= 1000);
        QCOMPARE(log.TimerCount->timerType(), Qt::PreciseTimer); // rows do not drift
        fire(log.TimerCount);
        fire(log.TimerCount);
        log.Option2->click();
        QCOMPARE(contents(path()), header + row + row);
        QCOMPARE(files(folder.path()), QStringList{"KelvanoLog.csv"}); // no lock left

        const QDateTime changed(QDate(2026, 12, 4), QTime(23, 5, 9));
        const QString kept = folder.filePath("KelvanoLog-2026-12-04_230509.csv");
        touch(path(), changed);
        w->setupPanel()->setUnitOption(w->setupPanel()->column(1).opC, true);
        w->Timer1_Timer();
        log.Option1->click();
        fire(log.TimerCount);
        QCOMPARE(contents(path()), header + "12/5/2026,7:48:47 AM,10, 50 \r\n");
        QCOMPARE(contents(kept), header + row + row);

        // Leaving closes the file; the next run keeps it beside the first, with a counter.
        w->close();
        QVERIFY(log.Option2->isChecked() && !log.log().isOpen() && !log.TimerCount->isActive());
        touch(path(), changed);
        log.Option1->click();
        QCOMPARE(contents(folder.filePath("KelvanoLog-2026-12-04_230509-2.csv")),
                 header + "12/5/2026,7:48:47 AM,10, 50 \r\n");
        log.Option2->click();
        log.Option1->click(); // a file with the header only, or empty, is no run worth keeping
        log.Option2->click();
        write(path(), "");
        log.Option1->click();
        QCOMPARE(files(folder.path()).size(), 3 + 1);
    }

    // Choosing an interval, also the one already chosen, counts from the choice: the timer
    // starts again.
    void aChoiceRestartsTheCount() {
        auto w = window();
        LogPanel& log = *w->logPanel();
        log.cboTimer->setCurrentIndex(6);
        log.Option1->click();
        QCOMPARE(log.TimerCount->interval(), 60000);
        int starts = 0; // the timer's stops and starts
        const QPropertyNotifier counted =
            log.TimerCount->bindableActive().addNotifier([&starts] { ++starts; });
        Q_EMIT log.cboTimer->activated(6); // the user picks "1 Minute" again
        QVERIFY2(starts > 0 && log.TimerCount->isActive(), "the count did not restart");
        log.cboTimer->setCurrentIndex(5);
        QCOMPARE(log.TimerCount->interval(), 30000);
        log.cboTimer->setCurrentIndex(-1); // nothing chosen changes nothing
        QCOMPARE(log.TimerCount->interval(), 30000);
    }

    // A failed start or a run ending by itself says why in a box, "stop" selected behind it;
    // the earlier file stays as it was, and an ended run leaves whole rows, no half row.
    void aRunThatFails_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("rows"); // written before the fault
        QTest::addColumn<QString>("text");
        const auto add = [](const char* tag, const char* fault, int rows, const QString& text) {
            QTest::newRow(tag) << QString(fault) << rows << text;
        };
        const QString cannot = "Logging did not start: the log file %1 could not be %2 (%3).";
        const QString written =
            "Logging stopped: writing to " + path() + " failed (File too large). ";
        const QString gone =
            "Logging stopped: " + path() + " was removed or replaced during the run. ";
        add("another copy writes it", "locked", 0,
            QString("Logging did not start: %1 is being written by another Kelvano (process %2).")
                .arg(path())
                .arg(QCoreApplication::applicationPid()));
        add("a folder in its place", "folder", 0,
            cannot.arg(folder.filePath("folder"), "created", "Is a directory"));
        add("no room for the header", "full", 0, // a link to /dev/full
            cannot.arg(folder.filePath("full"), "written", "No space left on device"));
        add("no name to keep the earlier run", "long", 0,
            QString("Logging did not start: the earlier log %1 could not be renamed to keep it "
                    "(Cannot open destination file: File name too long). It was left as it was.")
                .arg(folder.filePath(longName)));
        add("no row", "file size", 0, written + "No row had been written yet.");
        add("one row", "file size", 1, written + "The 1 row written before it is in the file.");
        add("two rows", "file size", 2, written + "The 2 rows written before it are in the file.");
        add("removed", "removed", 0, gone + "No row had been written to it yet.");
        add("moved after one row", "moved", 1,
            gone + "The 1 row written until then went with the old file: it is where the file was "
                   "moved to, or gone if the file was deleted.");
        add("replaced after two rows", "replaced", 2,
            gone + "The 2 rows written until then went with the old file: they are where it was "
                   "moved to, or gone if it was deleted.");
    }
    void aRunThatFails() {
        QFETCH(QString, fault);
        QFETCH(int, rows);
        const QString target = fault == "folder" || fault == "full" ? folder.filePath(fault)
                               : fault == "long"                    ? folder.filePath(longName)
                                                                    : path();
        const QString moved = folder.filePath("moved.csv");
        const QByteArray earlier = header + row;
        const bool kept = fault == "locked" || fault == "long"; // an earlier run's file
        if (fault == "folder")
            QVERIFY(QDir().mkpath(target));
        if (fault == "full")
            QVERIFY(QFile::link("/dev/full", target));
        if (kept)
            write(target, earlier);
        QLockFile held(path() + ".lock");
        QVERIFY(fault != "locked" || held.tryLock(0));
        auto w = window();
        LogPanel& log = *w->logPanel();
        log.setLogPath(target);
        bool stopBehindTheBox = false;
        QTimer answer; // answers the box as a user would, once it shows
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                stopBehindTheBox = log.Option2->isChecked();
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(10);
        const int boxes = Dialogs::boxesShown();
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit room{rlim_t(header.size() + rows * row.size() + 10), old.rlim_max};
        log.Option1->click();
        if (fault == "file size") // after the lock file is made
            setrlimit(RLIMIT_FSIZE, &room);
        for (int i = 0; i < rows; ++i)
            fire(log.TimerCount);
        if (fault == "removed")
            QFile::remove(path());
        if (fault == "moved" || fault == "replaced")
            QFile::rename(path(), moved);
        if (fault == "replaced")
            write(path(), "another file");
        fire(log.TimerCount); // nothing after a failed start
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(Dialogs::boxesShown(), boxes + 1);
        QTEST(Dialogs::lastBox().text, "text");
        QVERIFY(stopBehindTheBox && log.Option2->isChecked() && !log.TimerCount->isActive());
        if (kept)
            QCOMPARE(contents(target), earlier);
        if (target == path() && !kept)
            QCOMPARE(contents(fault == "file size" ? path() : moved),
                     fault == "removed" ? "(missing)" : header + row.repeated(rows));
        if (fault == "replaced")
            QCOMPARE(contents(path()), QByteArray("another file"));
    }

    // A lock left by a run that crashed does not stop the next; a start that failed leaves none,
    // so the next start is told the same, not that another Kelvano writes the file.
    void aCrashedRunsLockIsTakenOver() {
        QFile pidMax("/proc/sys/kernel/pid_max"); // never a running process's number
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        write(path() + ".lock", pidMax.readAll().trimmed() + "\nkelvano\n\n");
        LogRun run([] { return std::array<int16_t, 2>{1, 2}; });
        QVERIFY2(run.start(path()), qPrintable(run.errorMessage()));
        QCOMPARE(contents(path()), header);
        const QString folderPath = folder.filePath("folder");
        LogRun next([] { return std::array<int16_t, 2>{1, 2}; });
        QVERIFY(QDir().mkpath(folderPath) && !run.start(folderPath) && !next.start(folderPath));
        QCOMPARE(next.errorMessage(), "Logging did not start: the log file " + folderPath +
                                          " could not be created (Is a directory).");
    }
};

QTEST_MAIN(TestLogging)
#include "test_logging.moc"
