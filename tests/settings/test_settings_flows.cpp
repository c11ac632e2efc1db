// SPDX-License-Identifier: GPL-3.0-or-later
// Save, refresh, delete and profile choice, with the real setup panel.

#include "settings/cl_kelvano.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {
const QString section = QStringLiteral("Settings");

// The stored values of the given keys, as "key=value; ..." ("-" when not stored).
QString stored(const QStringList& keys) {
    QMap<QString, QString> values;
    for (const auto& [key, value] : cl_Kelvano().GetAllSettings(section))
        values.insert(key, value);
    QStringList pairs;
    for (const QString& key : keys.isEmpty() ? values.keys() : keys)
        pairs << key + u'=' + values.value(key, QStringLiteral("-"));
    return pairs.join(QStringLiteral("; "));
}

void store(const QString& pairs) {
    cl_Kelvano::Values values;
    for (const QString& pair : pairs.split(QStringLiteral("; "), Qt::SkipEmptyParts))
        values.emplace_back(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QVERIFY(values.empty() || cl_Kelvano().SaveSettings(section, values));
}

// The panel as a user reads it, one line per sensor, with the codes the next tick uses.
QString describe(frmTemp1& w, int s) {
    const SetupPanel::Column& c = w.setupPanel()->column(s);
    return QStringLiteral("%1|%2|%3|%4 %5 %6|%7|%8|%9")
        .arg(c.cboTherm->currentIndex())
        .arg(c.cboTherm->currentText(), entries(c.cboTherm), c.coefText[0]->text(),
             c.coefText[1]->text(), c.coefText[2]->text())
        .arg(c.cboOffset->currentIndex())
        .arg(QString(c.opC->isChecked() ? "C" : "-") + (c.opF->isChecked() ? "F" : "-"))
        .arg(c.codes.profile + u' ' + c.codes.offset + u' ' + unitCode(c.codes.unit));
}

QString standardError(const std::function<void()>& run) {
    QTemporaryFile capture;
    if (!capture.open())
        return QStringLiteral("(cannot capture)");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    run();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    capture.seek(0);
    return QString::fromUtf8(capture.readAll());
}

void choose(QComboBox* chooser, int index) {
    chooser->showPopup();
    QAbstractItemView* view = chooser->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(index, 0)).center());
}
} // namespace

class TestSettingsFlows : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init() { QDir(configHome.path() + "/Corvanta").removeRecursively(); }

    // Values stored before the start, then others before "Refresh Settings"; what the panel shows.
    void loadsWhatIsStored_data() {
        for (const char* column : {"atStart", "atRefresh", "sensor1", "sensor2"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<int>("interval");
        QTest::newRow("first and last positions")
            << "cboThermList1=0; Sensor1-1 Name=Hall; A1-1_value=1e-3; cboThermList2=2; "
               "C2-3_value=2e-7; Offset1=0; Offset2=6; Fahrenheit1=True; Celsius1=True; cboTimerL=6"
            << "A1-1_value=5e-4; C2-3_value=3e-7" // reloaded although still selected
            << "0|Hall|Hall,Sensor 1-2,Sensor 1-3|5e-4 0.000256377 0.000000230|0|C-|100 3 C"
            << "2|Sensor 2-3|Sensor 2-1,Sensor 2-2,Sensor 2-3|0.001355699 0.000196433 3e-7|6|-F|10 "
               "-3 F"
            << 6;
        QTest::newRow("none selected again; unusable values change nothing")
            << "cboThermList1=1; Offset1=2; Fahrenheit1=maybe; Celsius1=0; cboThermList2=0; "
               "Offset2=3.5; Fahrenheit2=False; Celsius2=FALSE; cboTimerL=2"
            << "cboThermList1=-1; Offset1=-1; cboThermList2=3; Sensor2-1 Name=Hall; Offset2=1x; "
               "Celsius2=1; cboTimerL=-2"
            << "-1|Sensor 1-2|Sensor 1-1,Sensor 1-2,Sensor 1-3|"
               "0.001194033 0.000256377 0.000000230|-1|-F|50 1 F"
            << "0|Sensor 2-1|Hall,Sensor 2-2,Sensor 2-3|0.001355699 0.000196433 0.000000130|-1|C-|"
               "100 0 C"
            << 2;
    }
    void loadsWhatIsStored() {
        QFETCH(QString, atStart);
        QFETCH(QString, atRefresh);
        store(atStart);
        const QString before = stored({});
        auto w = loadedWindow();
        QCOMPARE(stored({}), before); // loading writes nothing
        store(atRefresh);
        w->setupPanel()->btnRefresh->click();
        QTEST(describe(*w, 1), "sensor1");
        QTEST(describe(*w, 2), "sensor2");
        QTEST(w->logPanel()->cboTimer->currentIndex(), "interval");
    }

    // A profile picked loads, even when already selected; Save writes only the selected ones.
    void choosingThenSaving() {
        store("A1-1_value=1; B1-1_value=2e-4; A1-2_value=2; C2-3_value=3");
        auto w = loadedWindow();
        SetupPanel& p = *w->setupPanel();
        p.column(1).rename[0]->setText(QStringLiteral("Attic"));
        for (int again = 0; again < 2; ++again) {
            p.column(1).coefText[0]->setText(QStringLiteral("edited"));
            choose(p.column(1).cboTherm, 0);
            QCOMPARE(describe(*w, 1), "0|Attic|Sensor 1-1,Sensor 1-2,Sensor 1-3|"
                                      "1 2e-4 0.000000230|-1|-F|100 0 F");
        }
        choose(p.column(2).cboTherm, 2);
        p.column(1).coefText[0]->setText(QStringLiteral("0.0012"));
        p.column(2).coefText[2]->setText(QStringLiteral("2.3E-07"));
        p.column(1).opC->click();
        choose(p.column(2).cboOffset, 0);
        choose(w->logPanel()->cboTimer, 6);
        p.btnSave->click();
        QCOMPARE(cl_Kelvano().GetAllSettings(section).size(), 21u + 1);
        QCOMPARE(stored({"A1-1_value", "A1-2_value", "C1-1_value", "C2-3_value", "Celsius1",
                         "Fahrenheit1", "Offset2", "Sensor1-1 Name", "cboThermList1",
                         "cboThermList2", "cboTimerL"}),
                 "A1-1_value=0.0012; A1-2_value=2; C1-1_value=0.000000230; C2-3_value=2.3E-07; "
                 "Celsius1=True; Fahrenheit1=False; Offset2=0; Sensor1-1 Name=Attic; "
                 "cboThermList1=0; cboThermList2=2; cboTimerL=6");
    }

    // A typed profile name selects (and loads) that profile on Save; the later of two matches wins.
    void saveSelectsATypedProfileName() {
        store("A1-3_value=13e-4");
        auto w = loadedWindow();
        SetupPanel::Column& c = w->setupPanel()->column(1);
        c.rename[2]->setText(QStringLiteral("Sensor 1-1"));
        c.cboTherm->lineEdit()->selectAll();
        QTest::keyClicks(c.cboTherm->lineEdit(), QStringLiteral("Sensor 1-1"));
        QTest::keyClick(c.cboTherm->lineEdit(), Qt::Key_Return);
        QCOMPARE(c.cboTherm->currentIndex(), -1); // typing selects nothing
        w->setupPanel()->btnSave->click();
        QCOMPARE(stored({"cboThermList1", "A1-1_value", "A1-3_value"}),
                 "cboThermList1=2; A1-1_value=-; A1-3_value=13e-4");
        QCOMPARE(describe(*w, 1), "2|Sensor 1-1|Sensor 1-1,Sensor 1-2,Sensor 1-3|"
                                  "13e-4 0.000256377 0.000000230|-1|-F|10 0 F"); // as saved
    }

    // A failed Save or Delete names the file and reason and changes neither file nor panel.
    // An unreadable file leaves the defaults, is never overwritten, and is told once per read.
    void faultsAreShownAndChangeNothing_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << QString("full") << QString("is the disk full?");
        QTest::newRow("a folder in its place") << QString("folder") << QString("it is a folder");
        QTest::newRow("nothing stored") << QString() << QString();
    }
    void faultsAreShownAndChangeNothing() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        const QString file = configHome.path() + "/Corvanta/Kelvano.conf";
        store("A1-2_value=1e-3; Offset1=6");
        if (fault == "folder" || fault.isEmpty())
            QVERIFY(QFile::remove(file) && (fault.isEmpty() || QDir().mkpath(file + "/inside")));
        const auto lines = [](const std::function<void()>& run) {
            return standardError(run).count(u'\n');
        };
        const QByteArray before = contents(file);
        const bool unreadable = fault == "folder";
        std::unique_ptr<frmTemp1> w;
        const QString error = standardError([&] { w = loadedWindow(); });
        QCOMPARE(error.count(u'\n'), int(unreadable));
        QVERIFY(!unreadable || error.contains(file + ": " + reason));
        SetupPanel& p = *w->setupPanel();
        // The unreadable file leaves the defaults, which stay until a save succeeds.
        QCOMPARE(p.column(1).cboOffset->currentIndex(), fault == "full" ? 6 : -1);
        QCOMPARE(lines([&] { choose(p.column(1).cboTherm, 1); }), int(unreadable));
        QCOMPARE(lines([&] { p.btnRefresh->click(); }), int(unreadable));

        p.column(1).rename[0]->setText(QStringLiteral("a much longer name"));
        p.column(2).cboTherm->setEditText(QStringLiteral("Sensor 2-3")); // selected on Save
        const QString panel = describe(*w, 1) + describe(*w, 2);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit full{rlim_t(QFileInfo(file).size() + 8), limit.rlim_max};
        if (fault == "full")
            setrlimit(RLIMIT_FSIZE, &full);
        const int boxes = Dialogs::boxesShown();
        Dialogs::setNextAnswer(QMessageBox::Ok);
        QCOMPARE(lines([&] { p.btnSave->click(); }), 0);
        setrlimit(RLIMIT_FSIZE, &limit);
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(Dialogs::boxesShown(), boxes + int(!fault.isEmpty()));
        if (!fault.isEmpty()) {
            QCOMPARE(box.title + QString::number(box.icon),
                     "Kelvano" + QString::number(QMessageBox::Warning));
            QVERIFY2(box.text.startsWith("The settings could not be saved to " + file + ": ") &&
                         box.text.section(u'\n', 0, 0).contains(reason),
                     qPrintable(box.text));
            QCOMPARE(contents(file), before);
            QCOMPARE(describe(*w, 1) + describe(*w, 2), panel);
        } else {
            QCOMPARE(cl_Kelvano().GetAllSettings(section).size(), 21u);
        }

        // Delete: No keeps everything; Yes deletes, or says why it could not.
        const QByteArray kept = contents(file);
        const QString saved = describe(*w, 1) + describe(*w, 2);
        Dialogs::setNextAnswer(QMessageBox::No);
        p.btnDelete->click();
        QCOMPARE(contents(file), kept);
        QCOMPARE(box.title + '|' + box.text + '|' + QString::number(box.icon) + '|' +
                     QString::number(box.defaultButton),
                 "Delete ALL Kelvano Settings|Are you sure you want to delete ALL Kelvano "
                 "settings?|" +
                     QString::number(QMessageBox::Warning) + '|' +
                     QString::number(QMessageBox::No));
        Dialogs::setNextAnswer(QMessageBox::Yes);
        QTimer::singleShot(0, [] { // the box that may follow
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        QCOMPARE(lines([&] { p.btnDelete->click(); }), 0);
        QCOMPARE(describe(*w, 1) + describe(*w, 2), saved);
        if (unreadable) {
            QCOMPARE(contents(file), kept);
            QCOMPARE(box.text.section(": ", 0, 0),
                     "The settings could not be deleted from " + file);
        } else {
            QCOMPARE(stored({}), "");
        }
    }

    // The raw values are up to date when they come into view.
    void rawValuesWhenSeen() {
        auto w = loadedWindow("0 5203 31036\n0 4000 30000\n0 3000 20000\n0 2000 10000\n");
        const SetupPanel::Column* c[] = {&w->setupPanel()->column(1), &w->setupPanel()->column(2)};
        const auto raw = [&] { return c[0]->raw->text() + u' ' + c[1]->raw->text(); };
        w->Timer1_Timer(); // not yet shown: written, for whoever reads it
        QCOMPARE(raw(), "5203 31036");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->Timer1_Timer();
        QCOMPARE(raw(), "5203 31036"); // cut off by the compact window
        w->mnuSetup->trigger();
        QTRY_COMPARE(raw(), "4000 30000");
        w->Timer1_Timer();
        QCOMPARE(raw(), "3000 20000");
        w->showMinimized();
        QTRY_VERIFY(w->isMinimized());
        w->Timer1_Timer();
        QCOMPARE(raw(), "3000 20000");
        w->showNormal();
        QTRY_COMPARE(raw(), "2000 10000");
    }
};

QTEST_MAIN(TestSettingsFlows)
#include "test_settings_flows.moc"
