// Start-up and the sampling tick as the main window runs them.

#include "sensor/scripted_source.h"
#include "settings/setup_panel.h"
#include "shell/frm_temp1.h"
#include "shell/icon_module.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }

    void missingDeviceEndsStartUp() {
        auto source = ScriptedSource::parse(QStringLiteral("probe 165\n0 5203 31036\n"), nullptr);
        frmTemp1 window(std::make_unique<ScriptedSource>(std::move(*source)));
        frmTemp1* w = &window;
        Dialogs::setNextAnswer(QMessageBox::Ok);
        QVERIFY(!w->Form_Load());
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(box.text, QStringLiteral("Couldn't detect the Sensors. Make sure gameport "
                                          "driver is installed."));
        QCOMPARE(box.title, QStringLiteral("Kelvano"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        // No tick, no settings, no icon left behind.
        QVERIFY(!w->Timer1->isActive());
        QVERIFY(!w->store());
        QVERIFY(!iconModule::isInstalled());
    }

    void startUpThenTheFirstTick() {
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(w->Timer1->timerType(), Qt::PreciseTimer);
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));
        SetupPanel::Column& c = w->setupPanel()->column(2);
        QCOMPARE(entries(c.cboOffset),
                 QStringLiteral("+ 3°C,+ 2°C,+ 1°C,No Offset,- 1°C,- 2°C,- 3°C"));
        QCOMPARE(entries(c.cboTherm), QStringLiteral("Sensor 2-1,Sensor 2-2,Sensor 2-3"));
        QCOMPARE(c.cboTherm->currentText(), QStringLiteral("Select Sensor 2"));
        QCOMPARE(entries(w->logPanel()->cboTimer),
                 QStringLiteral("1 Second,5 Seconds,6 Seconds,10 Seconds,"
                                "15 Seconds,30 Seconds,1 Minute"));

        // Until the first tick, about a second later.
        QCOMPARE(w->status->text(), QStringLiteral("port status:"));
        QCOMPARE(w->Label1->text(), QStringLiteral("Sensor 1"));
        QCOMPARE(w->lblG1->text() + w->lblG2->text(), QStringLiteral("xy"));
        QTRY_COMPARE_WITH_TIMEOUT(w->status->text(),
                                  QStringLiteral("port status: sensors connected"), 3000);
        QCOMPARE(w->Label1->text(), QStringLiteral("Select Sensor 1"));
        QCOMPARE(w->Label2->text(), QStringLiteral("Select Sensor 2"));
        QCOMPARE(w->lblTemp1->text(), deg(50, 'F'));
        QCOMPARE(w->lblTemp2->text(), deg(50, 'F'));
        QCOMPARE(c.raw->text(), QStringLiteral("31036"));
        QCOMPARE(w->lblG1->text(), QStringLiteral("50"));
    }

    void panelChangesShowAtTheNextTick() {
        auto w = loadedWindow("0 5203 0\n");
        QVERIFY(w);
        w->Timer1_Timer();
        QCOMPARE(w->status->text(), QStringLiteral("port status: sensor 2 unplugged"));
        SetupPanel::Column& c = w->setupPanel()->column(1);
        c.opC->click();
        c.cboOffset->setCurrentIndex(6); // - 3°C
        c.cboTherm->setEditText(QStringLiteral("Garden"));
        QCOMPARE(w->lblTemp1->text(), deg(50, 'F'));
        w->Timer1_Timer();
        QCOMPARE(w->lblTemp1->text(), deg(7, 'C'));
        QCOMPARE(w->lblG1->text(), QStringLiteral("44.6"));
        QCOMPARE(w->Label1->text(), QStringLiteral("Garden"));
    }

    void badReplayFileEndsBeforeAnyWindow() {
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
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.endsWith(path + QStringLiteral(":3: probe entry after a read\n")),
                 qPrintable(errors));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
