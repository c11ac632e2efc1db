// Start-up and the sampling tick as the main window runs them.

#include "sensor/scripted_source.h"
#include "settings/setup_panel.h"
#include "shell/frm_temp1.h"
#include "shell/icon_module.h"
#include "shell/message_box.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
std::unique_ptr<GamePortSource> scripted(const char* script) {
    auto source = ScriptedSource::parse(QString::fromLatin1(script), nullptr);
    return std::make_unique<ScriptedSource>(std::move(*source));
}

QStringList entries(const QComboBox* chooser) {
    QStringList list;
    for (int i = 0; i < chooser->count(); ++i)
        list << chooser->itemText(i);
    return list;
}

const QString degF = QString(QChar(0x00B0)) + QLatin1Char('F');
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }

    void missingDeviceEndsStartUp() {
        frmTemp1 window(scripted("probe 165\n0 5203 31036\n"));
        const int before = Dialogs::boxesShown();
        Dialogs::setNextAnswer(QMessageBox::Ok);
        QVERIFY(!window.Form_Load());

        QCOMPARE(Dialogs::boxesShown(), before + 1);
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(
            box.text,
            QStringLiteral("Couldn't detect the Sensors. Make sure gameport driver is installed."));
        QCOMPARE(box.title, QStringLiteral("Kelvano"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        // No tick, no settings, no icon left behind.
        QVERIFY(!window.Timer1->isActive());
        QCOMPARE(window.status->text(), QStringLiteral("port status:"));
        QVERIFY(!window.store());
        QVERIFY(!iconModule::isInstalled());
        QCOMPARE(window.setupPanel()->column(1).cboOffset->count(), 0);
    }

    void startUpFillsChoosersAndWaitsForTheFirstTick() {
        frmTemp1 window(scripted("0 5203 31036\n"));
        QVERIFY(window.Form_Load());
        QVERIFY(window.Timer1->isActive());
        QCOMPARE(window.Timer1->interval(), 1000);
        QCOMPARE(window.Timer1->timerType(), Qt::PreciseTimer);
        QVERIFY(iconModule::isInstalled());
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));
        QVERIFY(window.store());

        SetupPanel* panel = window.setupPanel();
        const QStringList offsets = {QStringLiteral("+ 3°C"), QStringLiteral("+ 2°C"),
                                     QStringLiteral("+ 1°C"), QStringLiteral("No Offset"),
                                     QStringLiteral("- 1°C"), QStringLiteral("- 2°C"),
                                     QStringLiteral("- 3°C")};
        const QStringList intervals = {QStringLiteral("1 Second"),   QStringLiteral("5 Seconds"),
                                       QStringLiteral("6 Seconds"),  QStringLiteral("10 Seconds"),
                                       QStringLiteral("15 Seconds"), QStringLiteral("30 Seconds"),
                                       QStringLiteral("1 Minute")};
        for (int s : {1, 2}) {
            QCOMPARE(entries(panel->column(s).cboOffset), offsets);
            QCOMPARE(panel->column(s).cboOffset->currentIndex(), -1);
            QCOMPARE(entries(panel->column(s).cboTherm),
                     (QStringList{QStringLiteral("Sensor %1-1").arg(s),
                                  QStringLiteral("Sensor %1-2").arg(s),
                                  QStringLiteral("Sensor %1-3").arg(s)}));
            QCOMPARE(panel->column(s).cboTherm->currentIndex(), -1);
            QCOMPARE(panel->column(s).cboTherm->currentText(),
                     QStringLiteral("Select Sensor %1").arg(s));
        }
        QCOMPARE(entries(window.cboTimer), intervals);

        // Before the first tick.
        QCOMPARE(window.status->text(), QStringLiteral("port status:"));
        QCOMPARE(window.Label1->text(), QStringLiteral("Sensor 1"));
        QCOMPARE(window.lblTemp1->text(), QString());
        QCOMPARE(panel->column(1).raw->text(), QString());
        QCOMPARE(window.lblG1->text(), QStringLiteral("x"));
        QCOMPARE(window.lblG2->text(), QStringLiteral("y"));

        // The first tick comes from the timer, about a second later.
        QTRY_COMPARE_WITH_TIMEOUT(window.status->text(),
                                  QStringLiteral("port status: sensors connected"), 3000);
        QCOMPARE(window.Label1->text(), QStringLiteral("Select Sensor 1"));
        QCOMPARE(window.Label2->text(), QStringLiteral("Select Sensor 2"));
        QCOMPARE(window.lblTemp1->text(), QStringLiteral("50") + degF);
        QCOMPARE(window.lblTemp2->text(), QStringLiteral("50") + degF);
        QCOMPARE(panel->column(1).raw->text(), QStringLiteral("5203"));
        QCOMPARE(panel->column(2).raw->text(), QStringLiteral("31036"));
        QCOMPARE(window.lblG1->text(), QStringLiteral("50"));
    }

    // What the user changes on the setup panel shows at the next tick.
    void panelChangesTakeEffectAtTheNextTick() {
        frmTemp1 window(scripted("0 5203 0\n"));
        QVERIFY(window.Form_Load());
        window.Timer1_Timer();
        QCOMPARE(window.status->text(), QStringLiteral("port status: sensor 2 unplugged"));

        SetupPanel* panel = window.setupPanel();
        panel->column(1).opC->click();
        panel->column(1).cboOffset->setCurrentIndex(6);                 // - 3°C
        QCOMPARE(window.lblTemp1->text(), QStringLiteral("50") + degF); // not before the tick
        window.Timer1_Timer();
        QCOMPARE(window.lblTemp1->text(), QStringLiteral("7") + QChar(0x00B0) + QLatin1Char('C'));
        QCOMPARE(window.lblG1->text(), QStringLiteral("44.6"));

        panel->column(1).cboTherm->setEditText(QStringLiteral("Garden"));
        panel->column(1).coefText[0]->setText(QStringLiteral("0.001355699"));
        window.Timer1_Timer();
        QCOMPARE(window.Label1->text(), QStringLiteral("Garden"));
        QVERIFY(window.lblTemp1->text() != QStringLiteral("7") + QChar(0x00B0) + QLatin1Char('C'));
    }

    void replayFileErrorsEndBeforeAnyWindow() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("session.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("probe 0\n0 5203 31036\nprobe 0\n");
        file.close();

        QProcess process;
        process.start(QStringLiteral(KELVANO_BINARY), {QStringLiteral("--replay"), path});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        const QStringList errors = QString::fromUtf8(process.readAllStandardError())
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!errors.isEmpty());
        QCOMPARE(errors.last(), path + QStringLiteral(":3: probe entry after a read"));

        process.start(QStringLiteral(KELVANO_BINARY),
                      {QStringLiteral("--replay"), dir.filePath(QStringLiteral("none"))});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
