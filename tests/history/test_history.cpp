// SPDX-License-Identifier: GPL-3.0-or-later
// The history: reading logs of every kind, following a growing log, and the window on a log.

#include "history/history_window.h"
#include "history/log_reader.h"
#include "history/plot.h"
#include "logging/csv_log.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QSvgRenderer>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray header = "Date,Time,Sensor1,Sensor2,\r\n";

const QDateTime midnight(QDate(2026, 12, 5), QTime(0, 0));

// Rows the log itself writes (US settings) a second apart from midnight; sensor 1 i % 100.
void writeRows(const QString& path, int first, int count) {
    CsvLog log;
    QVERIFY(first ? log.open(path, CsvLog::Mode::Append)
                  : log.open(path, CsvLog::Mode::Create) && log.writeHeader());
    for (int i = first; i < first + count; ++i)
        QVERIFY(log.writeRow(midnight.addSecs(i), qint16(i % 100), qint16(-(i % 7))));
}

// Ranges equal, or within a tolerance (a pixel's worth of time, say).
void sameRange(const QCPRange& actual, const QCPRange& expected, double tolerance = 0) {
    QVERIFY2(
        qAbs(actual.lower - expected.lower) <= tolerance &&
            qAbs(actual.upper - expected.upper) <= tolerance,
        qPrintable(QStringLiteral("%1..%2").arg(actual.lower, 0, 'f').arg(actual.upper, 0, 'f')));
}

// Waits at most a minute for what must come.
bool soon(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60000);
}

// Stops the window's follow timer, its tick once a second: the test calls followLog() itself.
void followByHand(HistoryWindow* w) {
    int stopped = 0;
    for (QTimer* timer : w->findChildren<QTimer*>())
        if (timer->interval() == 1000 && timer->isActive()) {
            timer->stop();
            ++stopped;
        }
    QCOMPARE(stopped, 1);
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    QString path(const char* name = "KelvanoLog.csv") const {
        return folder.filePath(QLatin1String(name));
    }
    // Writes or appends; the file then seems last changed at 1 a.m. on 1 January 2027.
    void write(const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) {
        QFile file(path());
        QVERIFY(file.open(mode));
        file.write(bytes);
        file.flush();
        file.setFileTime(QDateTime(QDate(2027, 1, 1), QTime(1, 0)),
                         QFileDevice::FileModificationTime);
    }
    QString message(const LogReader& reader) const {
        return reader.message().replace(QDir::toNativeSeparators(path()), QStringLiteral("FILE"));
    }

  private Q_SLOTS:
    void initTestCase() {
        // A zone with summer time, so that the end of it can be read.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    // Every locale's date and time texts read back as the moment they were written from.
    void everyLocalesTextsReadBack() {
        const QDate date(2026, 12, 5);
        for (const RowTimeFormat& format : RowTimeFormat::candidates(QLocale())) {
            const QString what = format.locale().name() + QLatin1Char(' ') + format.dateFormat() +
                                 QLatin1Char(' ') + format.timeFormat();
            QVERIFY2(format.date(format.dateText(date)) == date, qPrintable(what));
            for (const QTime time : {QTime(0, 0, 7), QTime(12, 30), QTime(19, 48, 47)}) {
                const QByteArray text = format.timeText(time).toUtf8();
                QVERIFY2(format.msecsOfDay(text.constData(), int(text.size())) ==
                             time.msecsSinceStartOfDay(),
                         qPrintable(what + QLatin1Char(' ') + QString::fromUtf8(text)));
            }
        }
    }

    // A file read under a locale: rows read, skipped, the first time, the span (s), the message.
    void reading() {
        const QByteArray us = "12/5/26,7:48:47 AM,72, 70 \r\n12/5/26,7:48:48 AM,72,-7 \r\n";
        const QByteArray german = "05.12.2026,23:59:59,21, 8 \n06.12.2026,00:00:00,21, 8 \n";
        const QByteArray summer = "25.10.26,02:59:59,1, 1 \n25.10.26,02:00:00,2, 2 \n";
        const QByteArray noDates = "day 1,00:00:00,20, 5 \nday 1,00:00:05,20, 5 \n";
        using Case =
            std::tuple<const char*, QByteArray, const char*, int, int, const char*, int, QString>;
        const Case cases[] = {
            {"US, CR LF", header + us, "en_US", 2, 0, "2026-12-05 07:48:47", 1, ""},
            {"German, LF, four-digit year, the header's fifth item",
             "Date,Time,Sensor1,Sensor2,True\n" + german, "de_DE", 2, 0, "2026-12-05 23:59:59", 1,
             ""},
            {"German under US settings", header + german, "en_US", 2, 0, "2026-12-05 23:59:59", 1,
             ""},
            {"US under German settings", header + us, "de_DE", 2, 0, "2026-12-05 07:48:47", 1, ""},
            {"quoted fields, the values' range",
             header + "\"12/5/2026\",\"7:48:47 AM\",72, 70 \r\n\"12/5/2026\",\"7:49:47 "
                      "AM\",\"32767\",\"-32768\"\r\n",
             "en_US", 2, 0, "2026-12-05 07:48:47", 60, ""},
            {"a whole last row without its line end", header + us + "12/5/26,7:48:50 AM,1, 2 ",
             "en_US", 3, 0, "2026-12-05 07:48:47", 3, ""},
            {"a bad row in the middle", header + "12/5/26,7:48:46 AM,72,seventy \r\n" + us, "en_US",
             2, 1, "2026-12-05 07:48:47", 1,
             "1 row could not be read (line 2: sensor 2 \"seventy \" is not a whole number from "
             "-32768 to 32767)."},
            {"times with a tab, with seconds or minutes past 59",
             header + us +
                 "12/5/26,7:48:99 AM,1, 2 \r\n12/5/26,7:60:00 AM,1, 2 \r\n12/5/26,7:48:50\tAM,1, 2 "
                 "\n",
             "en_US", 3, 2, "2026-12-05 07:48:47", 3,
             "2 rows could not be read (first at line 4: the time \"7:48:99 AM\" could not be "
             "read)."},
            {"a NUL inside a number",
             header + us + "12/5/26,7:48:49 AM,7" + QByteArray(1, 0) + "0, 70 \r\n", "en_US", 2, 1,
             "2026-12-05 07:48:47", 1,
             "1 row could not be read (line 4: sensor 1 \"7?0\" is not a whole number from -32768 "
             "to 32767)."},
            {"runs appended, the clock set back between them: in time order",
             header + us + header + "12/5/26,6:00:00 AM,1, 1 \r\n", "en_US", 3, 0,
             "2026-12-05 06:00:00", 6528, ""},
            {"bad rows and a cut-off last one",
             header + us + "12/5/26,7:48:49 AM,72\r\n12/5/26,7:48:50 AM,72,seventy \r\n12/5",
             "en_US", 2, 3, "2026-12-05 07:48:47", 1,
             "3 rows could not be read (first at line 4: it has 3 fields instead of 4)."},
            {"a line longer than any row", header + QByteArray(300, 'x') + "\r\n" + us, "en_US", 2,
             1, "2026-12-05 07:48:47", 1,
             "1 row could not be read (line 2: it is longer than 256 characters)."},
            {"d/M dates over a month's end that go back in time read as the user's M/d: the other "
             "order",
             header + "12/5/2026,10:00:00 AM,1, 1 \n12/5/2026,10:00:01 AM,1, 1 \n1/6/2026,10:00:00 "
                      "AM,2, 2 \n",
             "en_US", 3, 0, "2026-05-12 10:00:00", 20 * 86400, ""},
            {"the end of summer time: 2:59:59, then 2:00:00 again", header + summer, "de_DE", 2, 0,
             "2026-10-25 02:59:59", 1, ""},
            {"dates of no locale: placed by order, the times' step apart (midnight's too)",
             header + noDates, "en_US", 2, 0, "2027-01-01 00:59:55", 5,
             "The dates and times of the rows could not be read: the rows are placed in their "
             "order, 5 s apart, the last at the time the file was last changed."},
            {"not a log", "Name,Value\r\nx,1\r\n", "en_US", 0, 0, "", 0,
             "FILE is not a Kelvano log: its first line is not \"Date,Time,Sensor1,Sensor2,\"."},
            {"binary after the header", header + QByteArray("\x01\xff\0,\x02\n\x7f\x80", 8) + "\n",
             "en_US", 0, 2, "", 0,
             "2 rows could not be read (first at line 2: it has 2 fields instead of 4)."},
            {"empty", "", "en_US", 0, 0, "", 0, "FILE is empty."},
            {"header only", header, "en_US", 0, 0, "", 0, "FILE holds no rows yet."},
        };
        for (const auto& [name, text, locale, rows, skipped, first, span, said] : cases) {
            write(text);
            LogReader reader(path(), QLocale(QLatin1String(locale)));
            LogRows read;
            reader.readMore(read);
            const QString got =
                QStringLiteral("%1 %2 %3 %4 ")
                    .arg(read.size())
                    .arg(reader.rowsSkipped())
                    .arg(read.isEmpty() ? QString()
                                        : QDateTime::fromSecsSinceEpoch(qint64(read.times.first()))
                                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                    .arg(read.isEmpty() ? 0 : int(read.times.last() - read.times.first())) +
                message(reader);
            QCOMPARE(got,
                     QStringLiteral("%1 %2 %3 %4 ").arg(rows).arg(skipped).arg(first).arg(span) +
                         said);
        }
    }

    // A log being written: a row cut off at the end waits for its end; a new run starts anew.
    void readingWhatIsAdded() {
        const QByteArray row = "12/5/26,7:48:47 AM,72, 70 \r\n";
        write(header + row + "12/5/26,7:48:48 AM,7");
        LogReader reader(path());
        LogRows rows;
        QCOMPARE(reader.readMore(rows), LogReader::Status::Rows);
        QCOMPARE(rows.size(), 1);
        write("1, 70 \r\n12/5/26,7:48:49 AM,x, 70 \r\n", QIODevice::Append);
        reader.readMore(rows);
        QCOMPARE(rows.sensor1, QList<qint16>({72, 71}));
        QCOMPARE(message(reader), "1 row could not be read (line 4: sensor 1 \"x\" is not a whole "
                                  "number from -32768 to 32767).");
        write(header);
        QCOMPARE(reader.readMore(rows), LogReader::Status::Replaced);
    }

    // Rows whose dates and times no locale writes are placed by their order, the step asked for
    // once, however long the question stays open.
    void unreadableTimesAskForAStep() {
        write(header + "day 1,noon,20, 5 \nday 1,later,21, 5 \n");
        HistoryWindow w;
        QStringList asked;
        w.setStepQuestion([&](const QString& question) {
            asked << question;
            if (asked.size() > 1)
                return 0;
            w.followLog(); // the timer's tick while the question is open
            return soon([&] { return !w.isLoading(); }) ? 60000 : 0;
        });
        w.openFile(path());
        followByHand(&w);
        QVERIFY(soon([&] { return !w.rows().isEmpty(); }));
        w.followLog();
        QVERIFY(soon([&] { return !w.isLoading(); }));
        QCOMPARE(asked, QStringList("The dates and times in " + QDir::toNativeSeparators(path()) +
                                    " could not be read.\nHow far apart were the rows written?"));
        QCOMPARE(w.lblRun->text(), "2 rows from 1/1/2027 12:59:00 AM to 1/1/2027 1:00:00 AM");
    }

    // A log's range, a view's statistics and crosshair, its exports, zooming and panning.
    void windowShowsMeasuresAndExports() {
        writeRows(path(), 0, 3 * 3600);
        const QByteArray log = contents(path());
        HistoryWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.openFile(path());
        followByHand(&w);
        QTRY_COMPARE(w.rows().size(), 3 * 3600);
        QCOMPARE(w.windowTitle(), QString("Kelvano history — KelvanoLog.csv"));
        QCOMPARE(w.lblRun->text(),
                 "10,800 rows from 12/5/2026 12:00:00 AM to 12/5/2026 2:59:59 AM");
        QCOMPARE(w.lblMessage->text(), "");

        // Sensor 1's least value is at t0 + 100 and t0 + 200, in a view's rows counted one by
        // one or in whole blocks of them.
        const double t0 = midnight.toSecsSinceEpoch();
        w.showRange(t0 + 90, t0 + 120);
        QCOMPARE(w.lblStats1->text(), "Sensor 1 in view: min 0, mean 37.3, max 99");
        QCOMPARE(w.lblStats2->text(), "Sensor 2 in view: min -6, mean -2.9, max 0");
        w.showRange(t0 + 150, t0 + 249);
        QCOMPARE(w.lblStats1->text(), "Sensor 1 in view: min 0, mean 49.5, max 99");
        QCOMPARE(w.lblStats2->text(), "Sensor 2 in view: min -6, mean -3.0, max 0");
        const int y = w.plot->axisRect()->center().y();
        QTest::mouseMove(w.plot, QPoint(int(w.plot->xAxis->coordToPixel(t0 + 180.2)), y));
        QCOMPARE(w.crosshairText(), "12/5/2026 12:03:00 AM\nSensor 1: 80\nSensor 2: -5");

        const QString png = path("view.png"), svg = path("view.svg"), csv = path("slice.csv");
        QVERIFY(w.exportPng(png));
        QCOMPARE(QImage(png).size(), w.plot->size());
        QVERIFY(w.exportSvg(svg));
        QCOMPARE(QSvgRenderer(svg).viewBox(), w.plot->rect()); // none when not a picture
        QVERIFY(w.exportCsv(csv));
        writeRows(path("slice-150.csv"), 0, 0);
        writeRows(path("slice-150.csv"), 150, 100);
        QCOMPARE(contents(csv), contents(path("slice-150.csv")));

        // Never over the log itself.
        Dialogs::setNextAnswer(QMessageBox::Ok);
        QVERIFY(!w.exportCsv(path()));
        QCOMPARE(Dialogs::lastBox().text,
                 QDir::toNativeSeparators(path()) + " was not written: it is the log shown.");
        QCOMPARE(contents(path()), log);

        // Rubber-band zoom (the wheel and dragging are the plot library's own), whole run / last
        // hour / day.
        QCPAxis* x = w.plot->xAxis;
        const double last = w.rows().times.last();
        const QPoint centre = w.plot->axisRect()->center();
        const QPoint from = centre - QPoint(50, 20), to = centre + QPoint(50, 20);
        const QCPRange band(x->pixelToCoord(from.x()), x->pixelToCoord(to.x()));
        QTest::mousePress(w.plot, Qt::RightButton, {}, from);
        QTest::mouseMove(w.plot, to);
        QTest::mouseRelease(w.plot, Qt::RightButton, {}, to);
        sameRange(x->range(), band, 2 * (band.size() / 100)); // two pixels

        w.btnWholeRun->click();
        sameRange(x->range(), QCPRange(w.rows().times.first(), last));
        w.btnLastHour->click();
        sameRange(x->range(), QCPRange(last - 3600, last));
        w.btnLastDay->click();
        sameRange(x->range(), QCPRange(last - 86400, last));
    }

    // File › History… opens one window on the log panel's file, which follows the log from
    // before it exists: a view at the end stays at the end; a FIFO in place of the log is said
    // to be one, the rows kept; Cancel drops the rows of a follow-up read, and a first read.
    void fileHistoryFollowsTheLog() {
        auto main = loadedWindow();
        main->logPanel()->setLogPath(path());
        QFile::remove(path());
        QAction* item = main->findChild<QAction*>("mnuHistory");
        item->trigger();
        item->trigger();
        QList<HistoryWindow*> windows;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* history = qobject_cast<HistoryWindow*>(widget))
                windows << history;
        QCOMPARE(windows.size(), 1);
        HistoryWindow* w = windows[0];
        followByHand(w);
        const auto cleanup = qScopeGuard([&] {
            // A reader waiting in open() for a writer of the FIFO gets one, and the window goes.
            const int writer = ::open(QFile::encodeName(path()).constData(), O_RDWR | O_NONBLOCK);
            delete w;
            ::close(writer);
        });
        const QString file = QDir::toNativeSeparators(path());
        const auto idle = [w] { return soon([w] { return !w->isLoading(); }); };
        const auto cancelled = [w, file] {
            w->btnCancel->click();
            return soon([&] {
                return w->lblMessage->text() == "Reading " + file + " was cancelled." &&
                       w->lblRun->text() == "No rows.";
            });
        };
        QVERIFY(idle());
        QCOMPARE(w->lblMessage->text(), file + " does not exist.");
        writeRows(path(), 0, 30);
        w->followLog();
        QVERIFY(idle());
        QCOMPARE(w->lblRun->text(), "30 rows from 12/5/2026 12:00:00 AM to 12/5/2026 12:00:29 AM");

        const double t0 = midnight.toSecsSinceEpoch();
        w->showRange(t0 + 10, t0 + 29);
        writeRows(path(), 30, 2);
        w->followLog();
        QVERIFY(idle());
        QCOMPARE(w->rows().size(), 32);
        sameRange(w->plot->xAxis->range(), QCPRange(t0 + 12, t0 + 31));

        QVERIFY(QFile::remove(path()));
        QCOMPARE(mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
        w->followLog();
        QVERIFY(idle());
        QCOMPARE(w->lblMessage->text(), file + " is not a regular file.");
        QCOMPARE(w->rows().size(), 32);

        QVERIFY(QFile::remove(path()));
        writeRows(path(), 0, 40);
        w->followLog();
        QVERIFY(w->isLoading());
        QVERIFY(cancelled());
        w->openFile(path());
        followByHand(w);
        QVERIFY(cancelled());
    }

    // Ctrl+W and Esc close the window (Qt itself takes the keys to the shortcut).
    void keysCloseTheWindow() {
        QPointer<HistoryWindow> w = new HistoryWindow;
        w->show();
        auto* closing = w->findChild<QShortcut*>();
        QCOMPARE(closing->keys().mid(0, 2), QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_W),
                                                                 QKeySequence(Qt::Key_Escape)}));
        Q_EMIT closing->activated();
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TestHistory)
#include "test_history.moc"
