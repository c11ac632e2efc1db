// SPDX-License-Identifier: GPL-3.0-or-later

#include "program.h"

#include "sensor/demo_source.h"
#include "sensor/joystick_source.h"
#include "sensor/scripted_source.h"
#include "shell/frm_temp1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

// --list-devices: one line per joystick on standard output.
int listJoysticks() {
    JoystickSource joystick;
    if (!joystick.isAvailable()) {
        std::fprintf(stderr, "kelvano: cannot read joysticks: the SDL 2 library could not be "
                             "loaded or started\n");
        return 1;
    }
    const std::vector<JoystickInfo> devices = joystick.devices();
    if (devices.empty()) {
        std::fprintf(stderr, "kelvano: no joystick found. Check that the adapter is plugged in and "
                             "that you may read it (on many systems: be in the \"input\" group, "
                             "then log in again).\n");
        return 1;
    }
    for (const JoystickInfo& device : devices)
        std::printf("%s\n", qUtf8Printable(deviceLine(device)));
    return 0;
}

} // namespace

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
    const QCommandLineOption listDevices(
        QStringLiteral("list-devices"),
        QStringLiteral("List the joysticks: index, name, number of axes, GUID."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Read the joystick with this index, GUID or name part."),
        QStringLiteral("id"));
    parser.addOption(demo);
    parser.addOption(replay);
    parser.addOption(listDevices);
    parser.addOption(device);
    parser.process(arguments);

    if (parser.isSet(listDevices))
        return listJoysticks();
    std::unique_ptr<GamePortSource> source;
    if (int(parser.isSet(demo)) + int(parser.isSet(replay)) + int(parser.isSet(device)) > 1) {
        std::fprintf(stderr, "kelvano: use only one of --demo, --replay and --device\n");
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
        auto joystick = std::make_unique<JoystickSource>();
        if (parser.isSet(device)) {
            const std::vector<JoystickInfo> devices = joystick->devices();
            QString error;
            const int chosen = findDevice(devices, parser.value(device), &error);
            if (chosen < 0) {
                std::fprintf(stderr, "kelvano: %s\n", qUtf8Printable(error));
                return 2;
            }
            joystick->choose(devices[chosen]);
        }
        source = std::move(joystick);
    }

    frmTemp1 window(std::move(source));
    if (!window.Form_Load())
        return 1;
    window.show();
    return QApplication::exec();
}
