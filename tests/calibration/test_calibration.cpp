// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration assistant: the coefficient solver, and its dialog on a replayed port.

#include "calibration/calibration_dialog.h"
#include "settings/setup_panel.h"
#include "window_support.h"

#include <cmath>

namespace {
void fill(CalibrationDialog* d, const QStringList& temperatures, const QStringList& raws) {
    for (int i = 0; i < 3; ++i) {
        d->rows[i].temperature->setText(temperatures.value(i));
        d->rows[i].raw->setText(raws.value(i));
    }
}
} // namespace

class TestCalibration : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // Temperatures that known coefficients give, in °C and in °F, bring them back; a negative A
    // comes with a note.
    void recoversKnownCoefficients() {
        const std::tuple<Coefficients, std::array<double, 3>, const char*> cases[] = {
            {initialCoefficients(1), {8000, 3000, 20000}, ""},
            {initialCoefficients(2), {10000, 31036, 65535}, ""},
            {{"-1e-3", "5e-4", "1e-7"}, {4000, 30000, 9000}, "A (-1.000000000e-03) is negative"},
        };
        for (const auto& [k, raws, note] : cases)
            for (const auto unit : {TemperatureUnit::Celsius, TemperatureUnit::Fahrenheit}) {
                std::vector<ReferencePoint> given;
                for (const double raw : raws)
                    given.push_back({*temperatureAt(k, raw, unit), raw});
                const CalibrationResult solved = solveSteinhartHart(given, unit);
                QCOMPARE(solved.error + solved.note.section(u':', 0, 0), QLatin1String(note));
                const double found[] = {solved.a, solved.b, solved.c};
                const double known[] = {k.a.toDouble(), k.b.toDouble(), k.c.toDouble()};
                for (int i = 0; i < 3; ++i)
                    QVERIFY2(std::abs(found[i] - known[i]) <= 1e-9 * std::abs(known[i]),
                             qPrintable(QString::number(found[i], 'g', 17)));
            }
    }

    // The check table's raw values: a quarter of the span beyond each end (within 1 to 65535) and
    // between neighbours, rounded even between close points (the image "calibration-used": plain).
    void checkTableRawValues() {
        const std::pair<std::vector<double>, const char*> cases[] = {
            {{2, 100, 60000}, "1 2 14 100 2449 60000 65535"},
            {{100.6, 30000, 100.2}, "24 100 100.2 100.6 1737 30000 65535"},
        };
        for (const auto& [raws, check] : cases) {
            std::vector<ReferencePoint> given;
            for (const double raw : raws)
                given.push_back({0.0, raw});
            QStringList found;
            for (const double raw : checkRawValues(given))
                found << QString::number(raw);
            QCOMPARE(found.join(u' '), QLatin1String(check));
        }
    }

    // Points that cannot be calibrated with get a message that says why, and no coefficients;
    // those at the limits of the range are taken.
    void badPointsAreRefused() {
        const struct {
            const char *given, *message; // "10:5203" is 10° at raw 5203; "" for no message
            bool fahrenheit = false;
        } cases[] = {
            {"10:5000 0:8000", "value; 2 given."},
            {"10:0 0:8000 -10:12000", "A raw value of 0 means the sensor reads as"},
            {"10:0.12345678901 0:8000 -10:12000", "A raw value of 0.123456789 is below 1,"},
            {"10:5000 0:8000 -10:65536", "A raw value of 65536 is above 65535,"},
            {"10:5000 0:8000 -100.01:12000", "-100.01°C lies outside -100°C to 300°C,"},
            {"300.01:5000 0:8000 -10:12000", "300.01°C lies outside -100°C to 300°C,"},
            {"1e300:5000 1e299:8000 1e298:12000", "1e+300°F lies outside -148°F to 572°F,", true},
            {"300:50 20:3000 -100:60000", ""},
            {"572:50 68:3000 -148:60000", "", true},
            {"30:1000 20:1000.5 0:1001", "these coefficients give 30.03°C instead of 30°C at raw "
                                         "1000: the raw values lie too close"},
            {"10:5000 0:8000 -10:5000", "Two points have the same raw value, 5000;"},
            {"10:5000 0:8000 10:12000", "Two points have the same temperature, 10°C;"},
            {"10:5000 -10:12000 20:8000", "but 20°C at raw 8000 is warmer than 10°C at raw 5000."},
            {"30:1000 19.9:60000 20:2000",
             "turns back between raw 1000 and 60000: C (-1.550967805e-06) is negative,"},
            {"30:1000 29.9:1500 0:60000",
             "turns back between raw 1000 and 60000: B (-1.372236976e-04) is negative,"},
        };
        for (const auto& [given, message, fahrenheit] : cases) {
            std::vector<ReferencePoint> points;
            for (const QString& point : QString::fromLatin1(given).split(u' '))
                points.push_back(
                    {point.section(u':', 0, 0).toDouble(), point.section(u':', 1).toDouble()});
            const CalibrationResult solved = solveSteinhartHart(
                points, fahrenheit ? TemperatureUnit::Fahrenheit : TemperatureUnit::Celsius);
            QVERIFY2(solved.error.contains(QString::fromUtf8(message)),
                     qPrintable(given + QStringLiteral(": ") + solved.error));
            if (*message) // refused: no coefficients
                QCOMPARE(solved.texts().a + solved.note, QStringLiteral("0.000000000e+00"));
        }
    }

    // Capture averages the next ten raw values of a connected sensor, not failed reads nor 0. Three
    // points in °C go to the sensor's fields and readout, and stay, in the sensor's unit.
    void captureCalculateAndUse() {
        QByteArray script = "0 4000 31036\n167\n0 0 31036\n";
        for (int x = 5000; x <= 5009; ++x)
            script += "0 " + QByteArray::number(x) + " 31036\n";
        script += "0 5203 31036\n";
        auto w = loadedWindow(script.constData());
        SetupPanel::Column& c = w->setupPanel()->column(1);
        c.opC->click();
        c.btnCalibrate->click();
        CalibrationDialog* d = w->findChild<CalibrationDialog*>("dlgCalibrate1");
        QVERIFY(d && d->isVisible() && !d->isModal());
        w->Timer1_Timer(); // 4000, before the capture
        d->rows[0].capture->click();
        for (int tick = 0; tick < 11; ++tick)
            w->Timer1_Timer();
        QCOMPARE(d->rows[0].raw->text() + u'|' + d->rows[0].progress->text(), "|9/10");
        QCOMPARE(d->lblRawNow->text(), "Raw value now: 5008");
        w->Timer1_Timer();
        QCOMPARE(d->rows[0].raw->text() + u'|' + d->rows[0].capture->text(), "5004.5|Capture");
        w->Timer1_Timer(); // 5203
        QCOMPARE(d->rows[0].raw->text() + u' ' + w->lblTemp1->text(), "5004.5 10°C");

        fill(d, {"60.73", "32.99", "10.04"}, {"3000", "", "31036"});
        d->btnCalculate->click();
        QCOMPARE(d->lblMessage->text(), "Point 2 needs both a temperature and a raw value.");
        fill(d, {"60.73", "32.99", "10.04"}, {"3000", "10000", "31036"});
        d->btnCalculate->click();
        QVERIFY(d->btnUse->isEnabled()); // the check table: the reference image "calibration-used"

        // A point changed after Calculate takes the coefficients and "Use these" away.
        QTest::keyClick(d->rows[1].temperature, Qt::Key_0);
        QCOMPARE(d->result[0]->text() + d->result[1]->text() + d->result[2]->text() +
                     QString::number(d->tblCheck->rowCount()),
                 "0");
        QVERIFY(!d->btnUse->isEnabled());
        d->btnCalculate->click();
        QTest::keyClicks(d->result[0], "9"); // read only: the coefficients go over as calculated
        d->btnUse->click();
        QCOMPARE(c.coefText[0]->text() + u' ' + c.coefText[1]->text() + u' ' +
                     c.coefText[2]->text(),
                 "1.354405326e-03 1.966388621e-04 1.292218982e-07");
        QCOMPARE(w->lblTemp1->text(), "10°C");
        w->Timer1_Timer();
        QCOMPARE(w->lblTemp1->text(), "48°C");

        d->btnClose->click();
        QVERIFY(!d->isVisible());
        c.opF->click();
        w->Timer1_Timer();
        c.btnCalibrate->click();
        QVERIFY(w->calibration(1) == d && d->isVisible());
        QCOMPARE(d->rows[0].temperature->text() + u' ' + d->rows[2].temperature->text() + u' ' +
                     d->rows[2].raw->text() + u' ' + d->lblTemperature->text(),
                 "141.314 50.072 31036 Reference (°F)");
    }

    // Long messages stay inside the dialog: typed text is quoted with at most 40 characters, and
    // a message longer than the room kept for it (here in a large face) makes the dialog taller.
    void longMessagesStayInside() {
        CalibrationDialog d(1);
        d.setUnit(TemperatureUnit::Celsius);
        d.show();
        fill(&d, {QString(100, u'x'), "20", "10"}, {"3000", "10000", "31036"});
        d.btnCalculate->click();
        QCOMPARE(d.lblMessage->text(),
                 QStringLiteral("Point 1: \"%1\u2026\" is not a number; write numbers with a "
                                "decimal point, as in 21.5.")
                     .arg(QString(40, u'x')));

        QFont large = d.font();
        large.setPointSizeF(14);
        d.setFont(large);
        fill(&d, {"30", "19.9", "20"}, {"1000", "60000", "2000"});
        d.btnCalculate->click();
        QCoreApplication::sendPostedEvents();
        const QRect message = d.lblMessage->geometry();
        QVERIFY(d.lblMessage->text().contains(QStringLiteral("turns back")));
        QVERIFY(d.lblMessage->heightForWidth(message.width()) <= message.height());
        QVERIFY(message.bottom() < d.result[0]->geometry().top());
        QVERIFY(d.btnClose->geometry().bottom() < d.height());
    }
};

QTEST_MAIN(TestCalibration)
#include "test_calibration.moc"
