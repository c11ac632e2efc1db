#include "program.h"

#include "sensor/demo_source.h"
#include "sensor/joystick_source.h"
#include "sensor/scripted_source.h"
#include "shell/frm_temp1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

int runProgram(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Two-channel thermometer: reads two thermistors on a joystick's axes."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"), QStringLiteral("Use two simulated sensors instead of a joystick."));
    const QCommandLineOption replay(QStringLiteral("replay"),
                                    QStringLiteral("Play back the port readings in <file>."),
                                    QStringLiteral("file"));
    parser.addOption(demo);
    parser.addOption(replay);
    parser.process(arguments);

    std::unique_ptr<GamePortSource> source;
    if (parser.isSet(demo) && parser.isSet(replay)) {
        std::fprintf(stderr, "kelvano: --demo and --replay cannot be used together\n");
        return 2;
    }
    if (parser.isSet(replay)) {
        QString error;
        auto scripted = ScriptedSource::fromFile(parser.value(replay), &error);
        if (!scripted) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            return 2;
        }
        source = std::make_unique<ScriptedSource>(std::move(*scripted));
    } else if (parser.isSet(demo)) {
        source = std::make_unique<DemoSource>();
    } else {
        source = std::make_unique<JoystickSource>();
    }

    frmTemp1 window(std::move(source));
    if (!window.Form_Load())
        return 1;
    window.show();
    return QApplication::exec();
}
