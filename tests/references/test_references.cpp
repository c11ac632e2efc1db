// SPDX-License-Identifier: GPL-3.0-or-later
// Every window at each of its sizes, filled with fixed readings, compared pixel for pixel with
// the reference images beside this file: a moved control, a lost font or a wrong colour shows
// as a difference. When a change of looks is intended, scripts/renew-references writes new ones.

#include "alarms/alarm_controller.h"
#include "alarms/alarm_dialog.h"
#include "calibration/calibration_dialog.h"
#include "graph/frm_graph.h"
#include "shell/frm_about.h"
#include "shell/frm_help.h"
#include "window_support.h"

#include <cmath>

namespace {
const QString referenceFolder = QStringLiteral(KELVANO_REFERENCES);
const QString differenceFolder = QStringLiteral(KELVANO_DIFFERENCES);

bool renewing() {
    return qgetenv("KELVANO_RENEW_REFERENCES") == "1";
}

// The window as it is on screen, brought to the front first: the active window and its focus
// are part of the picture.
QImage shown(QWidget* window) {
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return {};
    QCoreApplication::sendPostedEvents(); // layouts settle as the event loop would let them
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Compares what window shows with the reference image NAME.png; returns why they differ, or
// nothing. A difference leaves this run's image and a difference image (differing pixels red
// over a faded copy) in the build folder. When renewing, writes the reference instead.
QString compare(QWidget* window, const QString& name) {
    const QImage actual = shown(window);
    if (actual.isNull())
        return name + QStringLiteral(": the window did not become active");
    const QString referencePath = referenceFolder + u'/' + name + QStringLiteral(".png");
    const QImage reference = QImage(referencePath).convertToFormat(QImage::Format_RGB32);
    if (actual == reference)
        return {};
    if (renewing()) {
        qInfo("renewed %s", qUtf8Printable(referencePath));
        return actual.save(referencePath) ? QString()
                                          : QStringLiteral("cannot write ") + referencePath;
    }
    const QString run = differenceFolder + u'/' + name + QStringLiteral(".png");
    const QString diff = differenceFolder + u'/' + name + QStringLiteral("-diff.png");
    QDir().mkpath(differenceFolder);
    actual.save(run);
    QImage difference(actual.size().expandedTo(reference.size()), QImage::Format_RGB32);
    QRect changed;
    for (int y = 0; y < difference.height(); ++y)
        for (int x = 0; x < difference.width(); ++x) {
            const int grey = actual.valid(x, y) ? 192 + qGray(actual.pixel(x, y)) / 4 : 0;
            const bool same =
                grey && reference.valid(x, y) && actual.pixel(x, y) == reference.pixel(x, y);
            changed |= same ? QRect() : QRect(x, y, 1, 1);
            difference.setPixel(x, y, same ? qRgb(grey, grey, grey) : qRgb(255, 0, 0));
        }
    difference.save(diff);
    const auto size = [](QSize s) {
        return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height());
    };
    return QStringLiteral("%1 differs from %2 (%3 pixels, now %4) within %5,%6 %7.\nThis run: "
                          "%8\nDifference: %9\nIf the change is intended, renew the references: "
                          "scripts/renew-references")
        .arg(name, referencePath, size(reference.size()), size(actual.size()),
             QString::number(changed.x()), QString::number(changed.y()), size(changed.size()), run,
             diff);
}

#define COMPARE_LOOKS(window, name)                                                                \
    do {                                                                                           \
        const QString why = compare(window, QStringLiteral(name));                                 \
        QVERIFY2(why.isEmpty(), qUtf8Printable(why));                                              \
    } while (false)
} // namespace

class TestReferences : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() {
        // Fixed faces only: those of the two font packages, none other of the machine's.
        QVERIFY2(QFile::exists(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")) &&
                     QFile::exists(QStringLiteral(
                         "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf")),
                 "install the font packages: scripts/deps (fonts-liberation2, fonts-dejavu-core)");
        QCOMPARE(QFontDatabase::families().join(u','),
                 "DejaVu Sans,DejaVu Sans Mono,DejaVu Serif,Liberation Mono,Liberation Sans,"
                 "Liberation Serif,Monospace,Sans Serif,Serif");
        QApplication::setCursorFlashTime(0); // a text cursor that does not blink
    }

    // The three sizes of the main window on a replayed port, after two ticks: sensor 1 in red,
    // sensor 2 in blue, the log panel, and the setup panel with both raw values.
    void mainWindow() {
        auto w = loadedWindow("0 5203 31036\n0 4100 24000\n");
        QVERIFY(w);
        w->Timer1->stop();
        w->Timer1_Timer();
        w->Timer1_Timer();
        COMPARE_LOOKS(w.get(), "main-compact");
        w->setSize(frmTemp1::Size::Log);
        COMPARE_LOOKS(w.get(), "main-log");
        w->setSize(frmTemp1::Size::Setup);
        COMPARE_LOOKS(w.get(), "main-setup");
    }

    // The graph after 450 seconds of two swinging readings, sensor 1 beyond the top of the
    // scale for a while, sensor 2 below its foot, and sensor 2 without a reading for five.
    void graph() {
        int second = 0;
        const auto values = [&second]() -> std::array<QString, 2> {
            const double one = 100.0 + 110.0 * std::sin(second * 2.0 * M_PI / 180.0);
            const double two = 30.0 + 90.0 * std::sin(second * 2.0 * M_PI / 250.0 + 1.0);
            const bool gap = second >= 300 && second < 305;
            return {QString::number(one, 'f', 1),
                    gap ? QStringLiteral("y") : QString::number(two, 'f', 1)};
        };
        auto* graph = new frmGraph(values, programIcon());
        graph->Timer1->stop();
        for (; second < 450; ++second)
            graph->Timer1_Timer();
        COMPARE_LOOKS(graph, "graph");
        graph->close();
    }

    void aboutAndReadMe() {
        auto* about = new frmAbout;
        COMPARE_LOOKS(about, "about");
        about->close();
        auto* readMe = new frmHelp;
        COMPARE_LOOKS(readMe, "readme");
        readMe->close();
    }

    // File › Alarms… on a window whose sensors read 50 °F, as the dialog opens.
    void alarms() {
        auto w = loadedWindow();
        QVERIFY(w);
        w->Timer1->stop();
        w->Timer1_Timer();
        w->mnuAlarms->trigger();
        COMPARE_LOOKS(w->alarms()->dialog(), "alarms");
    }

    // The calibration dialog fresh; with points whose curve turns back, and the second point
    // being captured; calculated and used.
    void calibration() {
        CalibrationDialog d(1);
        d.setUnit(TemperatureUnit::Celsius);
        d.sample(5203);
        COMPARE_LOOKS(&d, "calibration");

        const auto enter = [&d](const QStringList& points) { // "temperature:raw"
            for (int i = 0; i < 3; ++i) {
                d.rows[i].temperature->setText(points[i].section(u':', 0, 0));
                d.rows[i].raw->setText(points[i].section(u':', 1));
            }
        };
        enter({"30:1000", "19.9:60000", "20:2000"});
        d.btnCalculate->click();
        d.rows[1].capture->click();
        for (int raw : {10003, 9998, 10001})
            d.sample(raw);
        COMPARE_LOOKS(&d, "calibration-capture");

        enter({"60.73:3000", "32.99:", "10.04:31036"});
        for (int raw : {9996, 9998, 9999, 10000, 10001, 10002, 10002})
            d.sample(raw);
        d.btnCalculate->click();
        d.btnUse->click();
        COMPARE_LOOKS(&d, "calibration-used");
    }
};

int main(int argc, char** argv) {
    // Nothing of the machine's desktop settings may change a pixel.
    qputenv("FONTCONFIG_FILE", KELVANO_FONTS_CONF);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* name :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI", "QT_STYLE_OVERRIDE",
          "QT_QPA_PLATFORMTHEME", "QT_ENABLE_HIGHDPI_SCALING"})
        qunsetenv(name);
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    TestReferences test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_references.moc"
