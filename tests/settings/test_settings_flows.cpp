// Save, refresh and delete of the stored settings, with the real setup panel.

#include "settings/cl_kelvano.h"
#include "settings/setup_panel.h"
#include "shell/frm_temp1.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

namespace {
const QString section = QStringLiteral("Settings");

QMap<QString, QString> stored() {
    QMap<QString, QString> map;
    for (const auto& [key, value] : cl_Kelvano().GetAllSettings(section))
        map.insert(key, value);
    return map;
}

// The stored values of the given keys, as "key=value" joined by "; ".
QString stored(std::initializer_list<const char*> keys) {
    const auto values = stored();
    QStringList pairs;
    for (const char* key : keys)
        pairs << QLatin1String(key) + QLatin1Char('=') +
                     values.value(QLatin1String(key), QStringLiteral("-"));
    return pairs.join(QStringLiteral("; "));
}

void store(const QString& key, const QString& value) {
    QVERIFY(cl_Kelvano().SaveSetting(section, key, value));
}

// The panel as a user reads it, one line per sensor.
QString describe(SetupPanel& panel, int s) {
    const SetupPanel::Column& c = panel.column(s);
    return QStringLiteral("%1|%2|%3|%4 %5 %6|%7|%8%9")
        .arg(c.cboTherm->currentIndex())
        .arg(c.cboTherm->currentText(), entries(c.cboTherm), c.coefText[0]->text(),
             c.coefText[1]->text(), c.coefText[2]->text())
        .arg(c.cboOffset->currentIndex())
        .arg(c.opC->isChecked() ? QLatin1Char('C') : QLatin1Char('-'))
        .arg(c.opF->isChecked() ? QLatin1Char('F') : QLatin1Char('-'));
}
} // namespace

class TestSettingsFlows : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void init() { cl_Kelvano().DeleteSetting(section); }

    void firstStartChangesNothing() {
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        QCOMPARE(describe(p, 1),
                 QStringLiteral("-1|Select Sensor 1|Sensor 1-1,Sensor 1-2,Sensor 1-3|"
                                "0.001194033 0.000256377 0.000000230|-1|-F"));
        QCOMPARE(describe(p, 2),
                 QStringLiteral("-1|Select Sensor 2|Sensor 2-1,Sensor 2-2,Sensor 2-3|"
                                "0.001355699 0.000196433 0.000000130|-1|-F"));
        QCOMPARE(w->logPanel()->cboTimer->currentIndex(), -1);
        QVERIFY(stored().isEmpty()); // loading writes nothing
    }

    void saveWithNothingSelected() {
        auto w = loadedWindow();
        QVERIFY(w);
        w->setupPanel()->btnSave->click();
        QCOMPARE(stored().size(), 15); // no coefficients
        QCOMPARE(stored({"cboThermList1", "Sensor2-3 Name", "Fahrenheit1", "Celsius1", "cboTimerL",
                         "A1-1_value"}),
                 QStringLiteral("cboThermList1=-1; Sensor2-3 Name=Sensor 2-3; Fahrenheit1=True; "
                                "Celsius1=False; cboTimerL=-1; A1-1_value=-"));
    }

    void saveWritesOnlyTheSelectedProfilesCoefficients() {
        store(QStringLiteral("A1-1_value"), QStringLiteral("1"));
        store(QStringLiteral("A1-3_value"), QStringLiteral("3"));
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        SetupPanel::Column& c = p.column(1);
        c.cboTherm->setCurrentIndex(1);
        QCOMPARE(c.codes.profile, QStringLiteral("50"));
        QCOMPARE(c.cboTherm->currentText(), QStringLiteral("Sensor 1-2"));
        c.coefText[0]->setText(QStringLiteral("0.0012"));
        c.coefText[2]->setText(QStringLiteral("2.3E-07"));
        c.opC->click();
        p.column(2).cboOffset->setCurrentIndex(0);
        w->logPanel()->cboTimer->setCurrentIndex(6);
        p.btnSave->click();

        QCOMPARE(stored().size(), 18 + 2);
        QCOMPARE(stored({"cboThermList1", "A1-1_value", "A1-2_value", "C1-2_value", "A1-3_value",
                         "Celsius1", "Offset2", "cboTimerL"}),
                 QStringLiteral("cboThermList1=1; A1-1_value=1; A1-2_value=0.0012; "
                                "C1-2_value=2.3E-07; A1-3_value=3; Celsius1=True; Offset2=0; "
                                "cboTimerL=6"));
    }

    void typedProfileNameIsSelectedBySave() {
        store(QStringLiteral("A1-3_value"), QStringLiteral("0.0013"));
        store(QStringLiteral("Sensor1-3 Name"), QStringLiteral("Sensor 1-3"));
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel::Column& c = w->setupPanel()->column(1);
        // Typing, Enter and leaving the box select nothing and add nothing.
        c.cboTherm->lineEdit()->selectAll();
        QTest::keyClicks(c.cboTherm->lineEdit(), QStringLiteral("Sensor 1-3"));
        QTest::keyClick(c.cboTherm->lineEdit(), Qt::Key_Return);
        Q_EMIT c.cboTherm->lineEdit()->editingFinished();
        QCOMPARE(c.cboTherm->currentIndex(), -1);
        QCOMPARE(c.cboTherm->count(), 3);
        QCOMPARE(c.cboTherm->currentText(), QStringLiteral("Sensor 1-3"));

        w->setupPanel()->btnSave->click();
        QCOMPARE(c.cboTherm->currentIndex(), 2);
        QCOMPARE(c.codes.profile, QStringLiteral("10"));
        QCOMPARE(c.coefText[0]->text(), QStringLiteral("0.0013")); // stored; B and C kept
        QCOMPARE(stored({"cboThermList1", "A1-3_value", "B1-3_value"}),
                 QStringLiteral("cboThermList1=2; A1-3_value=0.0013; B1-3_value=0.000256377"));
    }

    void renameSaveRefresh() {
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        SetupPanel::Column& c = p.column(2);
        c.cboTherm->setCurrentIndex(1);
        c.rename[1]->setText(QStringLiteral("Küche, \"10 kΩ\" = 50%"));
        QCOMPARE(c.cboTherm->itemText(1), QStringLiteral("Sensor 2-2")); // not before saving
        p.btnSave->click();
        c.coefText[0]->setText(QStringLiteral("unsaved"));
        p.btnRefresh->click();
        QCOMPARE(c.cboTherm->itemText(1), QStringLiteral("Küche, \"10 kΩ\" = 50%"));
        QCOMPARE(c.cboTherm->currentText(), QStringLiteral("Küche, \"10 kΩ\" = 50%"));
        QCOMPARE(c.coefText[0]->text(), QStringLiteral("0.001355699"));
        w->Timer1_Timer();
        QCOMPARE(w->Label2->text(), QStringLiteral("Küche, \"10 kΩ\" = 50%"));
    }

    void deleteAsksFirst() {
        store(QStringLiteral("Offset1"), QStringLiteral("2"));
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        QCOMPARE(p.column(1).cboOffset->currentIndex(), 2);

        Dialogs::setNextAnswer(QMessageBox::No);
        p.btnDelete->click();
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(box.title + QLatin1Char('|') + box.text,
                 QStringLiteral("Delete ALL Kelvano Settings|"
                                "Are you sure you want to delete ALL Kelvano settings?"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::No);
        QCOMPARE(stored().size(), 1);

        Dialogs::setNextAnswer(QMessageBox::Yes);
        p.btnDelete->click();
        QVERIFY(stored().isEmpty());
        p.btnRefresh->click();
        QCOMPARE(p.column(1).cboOffset->currentIndex(), 2); // the panel stays as it was
        QCOMPARE(p.column(1).codes.offset, QStringLiteral("1"));
    }

    // Stored values the load cannot take change nothing; the rest loads.
    void unusableStoredValues() {
        const std::pair<const char*, const char*> values[] = {
            {"cboThermList1", "7"},   {"cboThermList2", "1x"},  {"Offset1", "-2"},
            {"Offset2", "3.5"},       {"Fahrenheit1", "maybe"}, {"Celsius1", "0"},
            {"Fahrenheit2", "False"}, {"Celsius2", "FALSE"},    {"cboTimerL", "2"},
        };
        for (const auto& [key, value] : values)
            store(QLatin1String(key), QString::fromUtf8(value));
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        QCOMPARE(describe(p, 1),
                 QStringLiteral("-1|Select Sensor 1|Sensor 1-1,Sensor 1-2,Sensor 1-3|"
                                "0.001194033 0.000256377 0.000000230|-1|-F"));
        // Both unit values "False": neither option, and the unit stays "F".
        QCOMPARE(describe(p, 2).right(6), QStringLiteral("|-1|--"));
        QCOMPARE(p.column(2).codes.unit, QStringLiteral("F"));
        QCOMPARE(w->logPanel()->cboTimer->currentIndex(), 2);

        store(QStringLiteral("Celsius1"), QStringLiteral("-1")); // any other number is true
        p.btnRefresh->click();
        QCOMPARE(p.column(1).codes.unit, QStringLiteral("C"));
        QVERIFY(p.column(1).opC->isChecked() && !p.column(1).opF->isChecked());
    }

    // Settings saved in one run are there at the next start, in another process.
    void restoredByTheNextProcess() {
        auto w = loadedWindow();
        QVERIFY(w);
        SetupPanel& p = *w->setupPanel();
        p.column(1).cboTherm->setCurrentIndex(1);
        p.column(1).rename[1]->setText(QStringLiteral("Greenhouse"));
        p.column(1).cboTherm->setEditText(QStringLiteral("Greenhouse"));
        p.column(1).coefText[0]->setText(QStringLiteral("0.001355699"));
        p.column(1).coefText[1]->setText(QStringLiteral("0.000196433"));
        p.column(1).coefText[2]->setText(QStringLiteral("0.000000130"));
        p.column(2).opC->click();
        p.column(2).cboOffset->setCurrentIndex(4); // - 1°C
        p.btnSave->click();

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'));
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines[0], QStringLiteral("1|Greenhouse|Sensor 1-1,Greenhouse,Sensor 1-3|"
                                          "0.001355699 0.000196433 0.000000130|-1|-F"));
        // 5203 with the second sensor's coefficients is 48 °C = 118 °F; 31036 is 10 °C - 1.
        QCOMPARE(lines[2], QStringLiteral("Greenhouse 118°F Select Sensor 2 9°C"));
    }
};

// In the child process: start up as the program does, tick once and print
// what the panel and the readouts show.
static int childRun(int argc, char* argv[]) {
    QApplication app(argc, argv);
    auto w = loadedWindow();
    if (!w)
        return 1;
    w->Timer1_Timer();
    std::printf("%s\n%s\n%s %s %s %s\n", qUtf8Printable(describe(*w->setupPanel(), 1)),
                qUtf8Printable(describe(*w->setupPanel(), 2)), qUtf8Printable(w->Label1->text()),
                qUtf8Printable(w->lblTemp1->text()), qUtf8Printable(w->Label2->text()),
                qUtf8Printable(w->lblTemp2->text()));
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childRun(argc, argv);
    QApplication app(argc, argv);
    TestSettingsFlows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_flows.moc"
