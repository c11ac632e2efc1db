// SPDX-License-Identifier: GPL-3.0-or-later
// The alarms in the main window: the dialog, what it stores, and a readout in alarm.

#include "alarms/alarm_controller.h"
#include "alarms/alarm_dialog.h"
#include "settings/settings_keys.h"
#include "settings/setup_panel.h"
#include "window_support.h"

namespace {
// Sensor 1 reads 50 °F (5203), 75 °F (3000) twice, then 50 °F again; sensor 2 reads 50 °F.
const char* const crossing = "0 5203 31036\n0 3000 31036\n0 3000 31036\n0 5203 31036\n";

AlarmDialog* openDialog(frmTemp1* w) {
    w->mnuAlarms->trigger();
    return w->alarms()->dialog();
}

// The alarm keys in the settings file, "key=value" sorted.
QString storedAlarmKeys(frmTemp1* w) {
    QStringList keys;
    for (const auto& [key, value] : w->store()->GetAllSettings(SettingsKeys::section()))
        if (key.startsWith(QLatin1String("Alarm")))
            keys << key + u'=' + value;
    return keys.join(u' ');
}

// Sensor s's fields from "high-on high low-on low hysteresis hold", "_" for an empty field.
void fillSensor(AlarmDialog* d, int s, const char* fields) {
    const QStringList f = QString::fromUtf8(fields).replace(u'_', QString()).split(u' ');
    AlarmDialog::Sensor& sensor = d->sensors[s - 1];
    sensor.chkHigh->setChecked(f[0] == QLatin1String("on"));
    sensor.high.field->setText(f[1]);
    sensor.chkLow->setChecked(f[2] == QLatin1String("on"));
    sensor.low.field->setText(f[3]);
    sensor.hysteresis.field->setText(f[4]);
    sensor.hold.field->setText(f[5]);
}

// The messages shown beside the fields, "name: text".
QString shownErrors(AlarmDialog* d) {
    QStringList shown;
    for (QLabel* error : d->findChildren<QLabel*>(QRegularExpression(QStringLiteral("^err")))) {
        if (!error->isHidden())
            shown << error->objectName() + QStringLiteral(": ") + error->text();
    }
    shown.sort();
    return shown.join(QStringLiteral("; "));
}
} // namespace

class TestAlarmDialog : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init() { cl_Kelvano().DeleteSetting(SettingsKeys::section()); }

    // Each field is known to screen readers by its caption, a label's buddy (the captions
    // themselves are in the reference image). Test fires a test event once the command can be
    // split.
    void accessibleFieldsAndTest() {
        auto w = loadedWindow();
        AlarmDialog* d = openDialog(w.get());
        QVERIFY(!d->isModal());
        for (const AlarmDialog::Sensor& s : d->sensors)
            for (const AlarmDialog::Row* row :
                 {&s.high, &s.low, &s.hysteresis, &s.hold, &std::as_const(d->command)}) {
                const auto* label = qobject_cast<QLabel*>(row->caption);
                QVERIFY(row->field->accessibleName().size() > 1);
                QCOMPARE(row->field->accessibleName(), row->caption->property("text").toString());
                QVERIFY(!label || label->buddy() == row->field);
            }
        QStringList tests; // the test notification's text, with sensor 1's reading
        connect(&w->alarms()->monitor(), &AlarmMonitor::alarmEvent, this,
                [&](const AlarmEvent& e) { tests << AlarmMonitor::body(e, QStringLiteral("S")); });
        d->command.field->setText(QStringLiteral("notify 'x"));
        d->btnTest->click();
        QCOMPARE(tests, QStringList());
        QCOMPARE(shownErrors(d), "errCommand: A quote is not closed");
        d->command.field->clear();
        w->Timer1_Timer();
        d->btnTest->click();
        QCOMPARE(tests, QStringList{"S: 50°F. A test of the alarm notification and command."});
    }

    // Bad input: a message beside the field, nothing stored, the dialog stays open. Put right,
    // the same OK stores and closes, and the messages are gone when it opens again.
    void refusedOk() {
        // Sensor 1's fields (the last rows in °C), the command, the messages.
        const std::tuple<const char*, const char*, const char*> cases[] = {
            {"on 2,5 off _ 1 0", "", "errHigh1: Not a number"},
            {"on 40 on 40 1 0", "", "errLow1: Must be below the high limit"},
            {"on 573 off _ 1 0", "", "errHigh1: Must be from -148 to 572 °F"},
            {"on 40 off _ -1 0", "", "errHysteresis1: Must be from 0 to 180 °F"},
            {"on 40 on 30 10.5 0", "",
             "errHysteresis1: Must be at most the high limit minus the low limit"},
            {"on 40 off _ 1 1.5", "", "errHold1: A whole number of seconds from 0 to 86400"},
            {"off _ off _ 1 86401", "", "errHold1: A whole number of seconds from 0 to 86400"},
            {"on 40 off _ 1 0", "notify 'x", "errCommand: A quote is not closed"},
            {"on 40 off _ 1 0", "<4097>", "errCommand: At most 4096 characters"},
            {"on 301 on -100.5 101 0", "",
             "errHigh1: Must be from -100 to 300 °C; errHysteresis1: Must be from 0 to 100 °C; "
             "errLow1: Must be from -100 to 300 °C"},
        };
        auto w = loadedWindow();
        AlarmDialog* d = openDialog(w.get());
        for (const auto& [fields, command, errors] : cases) {
            if (QByteArray(errors).contains("°C")) {
                w->setupPanel()->column(1).opC->click();
                w->Timer1_Timer();
            }
            fillSensor(d, 1, fields);
            const bool long_ = QByteArray(command) == "<4097>";
            d->command.field->setText(long_ ? QString(4097, u'x') : QString::fromUtf8(command));
            d->btnOK->click();
            QCOMPARE(shownErrors(d), QString::fromUtf8(errors));
            QVERIFY(d->isVisible());
            QCOMPARE(storedAlarmKeys(w.get()), QString());
        }
        fillSensor(d, 1, "on 40 off _ 1 0");
        d->command.field->clear();
        d->btnOK->click();
        QVERIFY(!d->isVisible());
        QCOMPARE(shownErrors(openDialog(w.get())), QString());
    }

    // OK stores every key in one write, numbers in the C locale whatever the user's; a limit
    // that is off is not checked. Cancel changes nothing, in the file or in the dialog.
    void okStoresCancelDoesNot() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        auto w = loadedWindow();
        AlarmDialog* d = openDialog(w.get());
        fillSensor(d, 1, "on 40.5 on -4 2 30");
        fillSensor(d, 2, "off abc on 5 0 0");
        d->command.field->setText(QStringLiteral(" '/opt/my alarm' --now "));
        d->btnOK->click();
        QVERIFY(!d->isVisible());
        const QString stored =
            "Alarm1High=40.5 Alarm1HighOn=True Alarm1Hold=30 Alarm1Hysteresis=2 Alarm1Low=-4 "
            "Alarm1LowOn=True Alarm2High= Alarm2HighOn=False Alarm2Hold=0 Alarm2Hysteresis=0 "
            "Alarm2Low=5 Alarm2LowOn=True AlarmCommand='/opt/my alarm' --now";
        QCOMPARE(storedAlarmKeys(w.get()), stored);

        d = openDialog(w.get());
        fillSensor(d, 1, "off 1 off 0 0 0");
        d->command.field->clear();
        d->btnCancel->click();
        QVERIFY(!d->isVisible());
        QCOMPARE(storedAlarmKeys(w.get()), stored);
        d = openDialog(w.get());
        QVERIFY(d->sensors[0].chkHigh->isChecked());
        QCOMPARE(d->sensors[0].high.field->text(), "40.5");
        QCOMPARE(d->command.field->text(), "'/opt/my alarm' --now");
        QLocale::setDefault(QLocale::c());
    }

    // A unit change converts the typed limits, in the open dialog and the one opened again; a
    // limit never set stays empty and the hysteresis never set is 1 degree in either unit. The
    // limits are stored in the unit the settings file holds for each sensor, and again in the
    // new one once the setup panel stores that.
    void limitsFollowTheUnit() {
        auto w = loadedWindow();
        AlarmDialog* d = openDialog(w.get());
        fillSensor(d, 1, "on 77 on 32 1.8 0");
        d->btnOK->click();
        d = openDialog(w.get());
        for (int s : {1, 2})
            w->setupPanel()->column(s).opC->click();
        w->Timer1_Timer();
        const auto shown = [&d] {
            QStringList texts;
            for (const AlarmDialog::Sensor& s : d->sensors)
                texts << s.high.field->text() + ' ' + s.low.field->text() + ' ' +
                             s.hysteresis.field->text() + s.hysteresis.unit->text();
            return texts.join(QStringLiteral(" | "));
        };
        QCOMPARE(shown(), "25 0 1°C |   1°C");
        d->btnCancel->click();
        d = openDialog(w.get());
        QCOMPARE(shown(), "25 0 1°C |   1°C");
        d->sensors[0].high.field->setText(QStringLiteral("30"));
        d->sensors[1].low.field->setText(QStringLiteral("10"));
        d->btnOK->click();
        QVERIFY(storedAlarmKeys(w.get()).contains("Alarm1High=86 "));
        QVERIFY(storedAlarmKeys(w.get()).contains("Alarm2Hysteresis=1.8 Alarm2Low=50 "));
        w->setupPanel()->btnSave->click();
        for (const char* key : {"Alarm1High=30 ", "Alarm1Hysteresis=1 ",
                                "Alarm2High= ", "Alarm2Hysteresis=1 ", "Alarm2Low=10 "})
            QVERIFY2(storedAlarmKeys(w.get()).contains(key), key);
    }

    // While a sensor is in alarm its readout shows its own colour as the background, in every
    // window size, and says so to screen readers; back to normal it looks as before.
    void readoutInAlarm() {
        cl_Kelvano().SaveSettings(SettingsKeys::section(), {{"Alarm1HighOn", "True"},
                                                            {"Alarm1High", "60"},
                                                            {"Alarm2LowOn", "True"},
                                                            {"Alarm2Low", "51"}});
        auto w = loadedWindow(crossing);
        w->show();
        const auto background = [&](QLabel* readout) {
            return readout->grab().toImage().pixelColor(2, 2).name();
        };
        const QString plain = background(w->lblTemp1);
        w->Timer1_Timer();
        QCOMPARE(w->lblTemp1->accessibleDescription(), QString());
        w->Timer1_Timer();
        QVERIFY2(w->lblTemp1->accessibleDescription().contains(QRegularExpression(
                     "^Alarm: above the high limit of 60°F since \\d\\d:\\d\\d:\\d\\d$")),
                 qPrintable(w->lblTemp1->accessibleDescription()));
        QCOMPARE(w->lblTemp2->accessibleDescription().section(" since", 0, 0),
                 "Alarm: below the low limit of 51°F");
        for (const auto size :
             {frmTemp1::Size::Compact, frmTemp1::Size::Log, frmTemp1::Size::Setup}) {
            w->setSize(size);
            QCOMPARE(background(w->lblTemp1), "#ff0000");
            QCOMPARE(background(w->lblTemp2), "#0000ff");
        }
        w->showMaximized();
        QCOMPARE(background(w->lblTemp1), "#ff0000");

        // A limit raised above the reading ends the alarm at the next reading, with its event.
        QStringList events;
        connect(&w->alarms()->monitor(), &AlarmMonitor::alarmEvent, this,
                [&](const AlarmEvent& e) { events << AlarmMonitor::summary(e); });
        AlarmDialog* d = openDialog(w.get());
        d->sensors[0].high.field->setText(QStringLiteral("80"));
        d->btnOK->click();
        w->Timer1_Timer(); // still 75 °F
        QCOMPARE(events, QStringList{QStringLiteral("Kelvano: Sensor 1 back to normal")});
        QCOMPARE(w->lblTemp1->accessibleDescription(), QString());
        QCOMPARE(background(w->lblTemp1), plain);
        QCOMPARE(background(w->lblTemp2), "#0000ff"); // still 50 °F

        // The last limits switched off: the alarm still on ends at the next reading, so said.
        d = openDialog(w.get());
        d->sensors[0].chkHigh->setChecked(false);
        d->sensors[1].chkLow->setChecked(false);
        d->btnOK->click();
        w->Timer1_Timer();
        QCOMPARE(events.last(), "Kelvano: Sensor 2 alarm switched off");
        QCOMPARE(w->lblTemp2->accessibleDescription(), QString());
    }
};

QTEST_MAIN(TestAlarmDialog)
#include "test_alarm_dialog.moc"
