// The CSV log: row text, the file of a run, and the log panel driven as a
// user drives it.

#include "logging/csv_log.h"
#include "logging/log_panel.h"
#include "settings/cl_kelvano.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QComboBox>
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

// Lowers the largest file this process may write, for as long as it lives.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit lower = old;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};
} // namespace

class TestLogging : public QObject {
    Q_OBJECT
    QTemporaryDir config;
    QTemporaryDir folder;
    QString path() const { return folder.filePath(QStringLiteral("KelvanoLog.csv")); }

    // A started main window whose log goes to the test folder and whose rows
    // are dated by the fixed morning.
    std::unique_ptr<frmTemp1> window() {
        auto w = loadedWindow();
        w->logPanel()->setLogPath(path());
        w->logPanel()->setClock([] { return morning; });
        w->Timer1_Timer(); // 5203 and 31036: both sensors at 10 °C, shown as 50 °F
        return w;
    }

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        cl_Kelvano().DeleteSetting(QStringLiteral("Settings"));
    }

    void rowText() {
        struct Case {
            const char *date, *time;
            int16_t sensor1, sensor2;
            const char* row;
        };
        const Case cases[] = {
            {"12/5/26", "7:48:47 AM", 72, 70, "12/5/26,7:48:47 AM,72, 70 \r\n"},
            {"d", "t", -7, -7, "d,t,-7,-7 \r\n"},
            {"d", "t", 0, 0, "d,t,0, 0 \r\n"},
            {"d", "t", -32768, 32767, "d,t,-32768, 32767 \r\n"},
            {"5. Dez., 2026", "7\"48", 1, 2, "\"5. Dez., 2026\",\"7\"\"48\",1, 2 \r\n"},
        };
        for (const Case& c : cases)
            QCOMPARE(CsvLog::rowText(QString::fromUtf8(c.date), QString::fromUtf8(c.time),
                                     c.sensor1, c.sensor2),
                     QByteArray(c.row));
        const std::pair<const char*, const char*> formats[] = {{"h:mm:ss AP t", "h:mm:ss AP"},
                                                               {"t HH:mm:ss", "HH:mm:ss"},
                                                               {"HH 'at' mm tttt", "HH 'at' mm"}};
        for (const auto& [format, kept] : formats)
            QCOMPARE(CsvLog::withoutTimeZone(QLatin1String(format)), QLatin1String(kept));
        QCOMPARE(CsvLog::folderFor(folder.path(), "/docs"), folder.path());
        QCOMPARE(CsvLog::folderFor(folder.filePath("none"), "/docs"), QStringLiteral("/docs"));
    }

    // Each row reaches the file as it is written, so a killed program loses none; opening
    // again starts a new file.
    void rowsInTheUsersFormats_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QByteArray>("row");
        QTest::newRow("US") << QLocale(QLocale::English, QLocale::UnitedStates)
                            << QByteArray("12/5/26,7:48:47 AM,72, 70 \r\n");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                                << QByteArray("05.12.26,07:48:47,72, 70 \r\n");
    }
    void rowsInTheUsersFormats() {
        QFETCH(QLocale, locale);
        QFETCH(QByteArray, row);
        QLocale::setDefault(locale);
        CsvLog log;
        QVERIFY(log.open(path()));
        QVERIFY(log.writeRow(morning, 1, 2));
        QVERIFY(log.open(path()));
        QVERIFY(log.writeRow(morning, 72, 70));
        QCOMPARE(contents(path()), header + row);
    }

    void aRunWritesHeaderThenOneRowPerInterval() {
        auto w = window();
        LogPanel& log = *w->logPanel();
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        QCOMPARE(log.Option1->toolTip(), path());

        log.Option1->click();
        QCOMPARE(contents(path()), header); // no row at the start
        // Real time: rows at 1 s and 2 s, none at the start or at 2.5 s.
        QTest::qWait(2500);
        QVERIFY(log.TimerCount->isActive());
        log.Option2->click();
        QVERIFY(!log.TimerCount->isActive() && !log.log().isOpen());
        QCOMPARE(contents(path()), header + "12/5/26,7:48:47 AM,50, 50 \r\n"
                                            "12/5/26,7:48:47 AM,50, 50 \r\n");

        // A second run starts a new file; one sensor in °C, the other in °F.
        w->setupPanel()->setUnitOption(w->setupPanel()->column(1).opC, true);
        w->Timer1_Timer();
        log.Option1->click();
        log.TimerCount_Timer();
        QCOMPARE(contents(path()), header + "12/5/26,7:48:47 AM,10, 50 \r\n");

        // Leaving the program closes the file with every row in it.
        log.TimerCount_Timer();
        w->close();
        QVERIFY(log.Option2->isChecked() && !log.log().isOpen());
        QVERIFY(!log.TimerCount->isActive());
        QCOMPARE(contents(path()).count("\r\n"), 3);
    }

    void intervalChoice() {
        auto w = window();
        LogPanel& log = *w->logPanel();
        QCOMPARE(log.TimerCount->interval(), 1000);
        log.Option1->click();
        // "1 Minute": the first row is a whole minute away.
        log.cboTimer->setCurrentIndex(6);
        QVERIFY(log.TimerCount->isActive());
        QVERIFY(log.TimerCount->remainingTime() > 59000);
        QCOMPARE(contents(path()), header);
        // A change during a run counts the new interval from the choice.
        log.cboTimer->setCurrentIndex(5);
        QCOMPARE(log.TimerCount->interval(), 30000);
        QVERIFY(log.TimerCount->remainingTime() > 29000);
        // Restoring the stored position sets the interval as a choice does.
        cl_Kelvano().SaveSetting(QStringLiteral("Settings"), QStringLiteral("cboTimerL"),
                                 QStringLiteral("3"));
        w->setupPanel()->btnRefresh_Click();
        QCOMPARE(log.TimerCount->interval(), 10000);
        log.cboTimer->setCurrentIndex(0);
        QCOMPARE(log.TimerCount->interval(), 1000);
    }

    void aFileThatCannotBeCreated_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder in its place") << folder.path() << "Is a directory";
        QTest::newRow("inside a file")
            << folder.filePath(QStringLiteral("KelvanoLog.csv/x.csv")) << "Not a directory";
        QTest::newRow("disk full") << "/dev/full"
                                   << "No space left on device";
    }
    void aFileThatCannotBeCreated() {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QFile(path()).open(QIODevice::WriteOnly);
        auto w = window();
        LogPanel& log = *w->logPanel();
        log.setLogPath(target);
        const int boxes = Dialogs::boxesShown();
        Dialogs::setNextAnswer(QMessageBox::Ok);
        log.Option1->click();
        QCOMPARE(Dialogs::boxesShown(), boxes + 1);
        QCOMPARE(Dialogs::lastBox().text,
                 QStringLiteral("Logging did not start: the log file %1 could not be created (%2).")
                     .arg(target, reason));
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        QVERIFY(w->Timer1->isActive()); // sampling goes on
    }

    void aWriteThatFailsEndsTheRun_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("kept");
        QTest::newRow("none") << 0 << "No row had been written yet.";
        QTest::newRow("two") << 2 << "The 2 rows written before it are in the file.";
    }
    void aWriteThatFailsEndsTheRun() {
        QFETCH(int, rows);
        QFETCH(QString, kept);
        auto w = window();
        LogPanel& log = *w->logPanel();
        log.Option1->click(); // an earlier run's rows do not count
        log.TimerCount_Timer();
        log.Option2->click();
        log.Option1->click();
        const QByteArray row = "12/5/26,7:48:47 AM,50, 50 \r\n";
        // Room for the header, the rows and part of one more.
        FileSizeLimit limit(header.size() + rows * row.size() + 10);
        Dialogs::setNextAnswer(QMessageBox::Ok);
        for (int i = 0; i <= rows; ++i)
            log.TimerCount_Timer();
        QCOMPARE(Dialogs::lastBox().text,
                 QStringLiteral("Logging stopped: writing to %1 failed (File too large). %2")
                     .arg(path(), kept));
        QVERIFY(log.Option2->isChecked() && !log.TimerCount->isActive());
        QCOMPARE(contents(path()), header + row.repeated(rows)); // no half row
    }
};

QTEST_MAIN(TestLogging)
#include "test_logging.moc"
