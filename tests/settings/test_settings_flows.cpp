// SPDX-License-Identifier: GPL-3.0-or-later
// Save, refresh, delete and profile choice, with the real setup panel.

#include "settings/cl_kelvano.h"
#include "settings/settings_model.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/inotify.h>
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

// Stores "key=value; key=value".
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
        .arg(c.codes.profile + u' ' + c.codes.offset + u' ' + c.codes.unit);
}

// What a function wrote to standard error.
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

// Counts how often the settings file is opened: the kernel reports every open of a file in the
// watched folder (and its closes, or two opens in a row would be reported as one).
class OpenCounter {
  public:
    explicit OpenCounter(const QString& folder)
        : fd_(inotify_init1(IN_NONBLOCK)),
          watch_(inotify_add_watch(fd_, QFile::encodeName(folder), IN_OPEN | IN_CLOSE)) {}
    ~OpenCounter() { close(fd_); }
    // The opens of the settings file since the last call.
    int opens() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                count += (event->mask & IN_OPEN) && event->len > 0 &&
                         qstrcmp(event->name, "Kelvano.conf") == 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return watch_ < 0 ? -1 : count;
    }

  private:
    int fd_;
    int watch_;
};

// The same line for a model loaded without a window, as the run without a window loads it.
QString describe(const SettingsModel& m, int s) {
    const SettingsModel::Sensor& c = m.sensor(s);
    return QStringLiteral("%1|%2|%3|%4 %5 %6|%7|%8|%9")
        .arg(c.profilePosition)
        .arg(c.profileText, QStringList(c.entries.begin(), c.entries.end()).join(u','),
             c.coefficients.a, c.coefficients.b, c.coefficients.c)
        .arg(c.offsetPosition)
        .arg(QString(c.celsius ? "C" : "-") + (c.fahrenheit ? "F" : "-"))
        .arg(c.codes.profile + u' ' + c.codes.offset + u' ' + c.codes.unit);
}

// Picks an entry from a chooser's list, as a user does.
void choose(QComboBox* chooser, int index) {
    chooser->showPopup();
    QAbstractItemView* view = chooser->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(index, 0)).center());
}
} // namespace

class TestSettingsFlows : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void init() { QDir(config.path() + "/Corvanta").removeRecursively(); }

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
        SettingsModel model; // the window's settings before the load at start-up
        model.load(cl_Kelvano());
        QCOMPARE(stored({}), before); // loading writes nothing
        store(atRefresh);
        w->setupPanel()->btnRefresh->click();
        model.load(cl_Kelvano());
        QTEST(describe(*w, 1), "sensor1");
        QTEST(describe(*w, 2), "sensor2");
        QTEST(w->logPanel()->cboTimer->currentIndex(), "interval");
        for (int s = 1; s <= 2; ++s)
            QCOMPARE(describe(model, s), describe(*w, s));
        QCOMPARE(model.intervalPosition(), w->logPanel()->cboTimer->currentIndex());
    }

    // Each sensor's widgets by name, with their computed captions; sensor 1's column on the left.
    void panelNames() {
        auto w = loadedWindow();
        QStringList shown;
        for (const char* name : {"lblName1", "lblName2", "a1_label", "b1_Label", "c2_Label",
                                 "label", "rawdata2_Label", "lblS2_3"}) {
            const QWidget* widget = w->findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(widget, name);
            shown << widget->property("text").toString();
        }
        QCOMPARE(shown.join(u'|'), "Sensor1|Sensor 2|A1|B1|C2|Raw Data|Raw Data|Sensor 2-3");
        QVERIFY(w->findChild<QWidget*>("label")->x() <
                w->findChild<QWidget*>("rawdata2_Label")->x());
    }

    // A profile picked from the list loads, even when already selected; Save writes the selected
    // profiles' coefficients as the user left them, and no others.
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

    // The settings file is read once per start-up, refresh, profile choice, save and delete.
    void oneReadPerAction() {
        store("A1-2_value=1e-3; cboTimerL=2");
        OpenCounter counter(config.path() + "/Corvanta");
        auto w = loadedWindow();
        SetupPanel& p = *w->setupPanel();
        QCOMPARE(counter.opens(), 1);
        choose(p.column(1).cboTherm, 1);
        QCOMPARE(counter.opens(), 1);
        p.btnRefresh->click();
        QCOMPARE(counter.opens(), 1);
        p.column(2).cboTherm->setEditText(QStringLiteral("Sensor 2-3")); // selected on Save
        p.btnSave->click();
        QCOMPARE(counter.opens(), 1);
        QCOMPARE(stored({"cboThermList2", "A1-2_value"}), "cboThermList2=2; A1-2_value=1e-3");
        QCOMPARE(counter.opens(), 1); // the test's own read
        Dialogs::setNextAnswer(QMessageBox::Yes);
        p.btnDelete->click();
        QCOMPARE(counter.opens(), 1);
        QCOMPARE(stored({}), "");
    }

    // A Save or Delete that fails says so, naming the file and the reason, and changes nothing:
    // neither the file nor the panel. A file too large to be the settings is not read at start
    // (one line on standard error says so) and never overwritten. Delete asks first (No by
    // default).
    void faultsAreShownAndChangeNothing_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << "full"
                                   << "is the disk full?";
        QTest::newRow("a folder in its place") << "folder"
                                               << "it is a folder";
        QTest::newRow("larger than 1 MB") << "large"
                                          << "it is larger than 1 MB";
        QTest::newRow("nothing stored") << ""
                                        << "";
    }
    void faultsAreShownAndChangeNothing() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        const QString file = config.path() + "/Corvanta/Kelvano.conf";
        store("A1-2_value=1e-3; Offset1=6");
        if (fault == "folder")
            QVERIFY(QFile::remove(file) && QDir().mkpath(file + "/inside"));
        if (fault == "large") {
            QFile large(file);
            QVERIFY(large.open(QIODevice::Append) &&
                    large.write(QByteArray(cl_Kelvano::maxFileSize, '#')) > 0);
        }
        if (fault.isEmpty())
            QVERIFY(QFile::remove(file));
        const auto bytes = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
        };
        const QByteArray before = bytes();
        std::unique_ptr<frmTemp1> w;
        const QString lines = standardError([&] { w = loadedWindow(); });
        const bool unreadable = fault == "folder" || fault == "large";
        QCOMPARE(lines.count(u'\n'), int(unreadable));
        QVERIFY(!unreadable || lines.contains(file + ": " + reason));
        SetupPanel& p = *w->setupPanel();
        // The unreadable file leaves the defaults, which stay until a save succeeds.
        QCOMPARE(p.column(1).cboOffset->currentIndex(), fault == "full" ? 6 : -1);

        choose(p.column(1).cboTherm, 1);
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
        p.btnSave->click();
        setrlimit(RLIMIT_FSIZE, &limit);
        if (!fault.isEmpty()) {
            QCOMPARE(Dialogs::boxesShown(), boxes + 1);
            QCOMPARE(Dialogs::lastBox().icon, QMessageBox::Warning);
            QCOMPARE(Dialogs::lastBox().title, "Kelvano");
            QCOMPARE(Dialogs::lastBox().text.section(u'\n', 0, 0),
                     "The settings could not be saved to " + file + ": " +
                         Dialogs::lastBox().text.section(": ", 1).section(u'\n', 0, 0));
            QVERIFY2(Dialogs::lastBox().text.contains(reason), qPrintable(Dialogs::lastBox().text));
            QCOMPARE(bytes(), before);
            QCOMPARE(describe(*w, 1) + describe(*w, 2), panel);
        } else {
            QCOMPARE(Dialogs::boxesShown(), boxes);
            QCOMPARE(cl_Kelvano().GetAllSettings(section).size(), 21u);
        }

        // Delete: No keeps everything; Yes deletes, or says why it could not.
        const QByteArray kept = bytes();
        const QString saved = describe(*w, 1) + describe(*w, 2);
        for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            Dialogs::setNextAnswer(answer);
            QTimer::singleShot(0, [] { // the box that may follow
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->accept();
            });
            p.btnDelete->click();
            QCOMPARE(bytes(), answer == QMessageBox::No ? kept : bytes());
            if (answer == QMessageBox::No) // the question, with the exclamation icon
                QCOMPARE(Dialogs::lastBox().text + QString::number(Dialogs::lastBox().icon),
                         "Are you sure you want to delete ALL Kelvano settings?" +
                             QString::number(QMessageBox::Warning));
        }
        QCOMPARE(describe(*w, 1) + describe(*w, 2), saved);
        if (unreadable) {
            QCOMPARE(Dialogs::lastBox().text.section(": ", 0, 0),
                     "The settings could not be deleted from " + file);
            QCOMPARE(bytes(), kept);
        } else {
            QCOMPARE(Dialogs::lastBox().title, "Delete ALL Kelvano Settings");
            QCOMPARE(Dialogs::lastBox().defaultButton, QMessageBox::No);
            QCOMPARE(stored({}), "");
        }
    }

    // The raw values are written while the user can see them, and are up to date when they come
    // into view.
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
