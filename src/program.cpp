// SPDX-License-Identifier: GPL-3.0-or-later

#include "program.h"

#include "headless/headless_run.h"
#include "metrics/metrics_module.h"
#include "modules.h"
#include "mqtt/mqtt_module.h"
#include "sensor/demo_source.h"
#include "sensor/joystick_source.h"
#include "sensor/scripted_source.h"
#include "shell/window_main.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Whether standard output was closed when the program started; /dev/null
// stands in for it since.
bool standardOutputClosed = false;

// Opens /dev/null on each of standard input, output and error that the
// program was started without, before anything else opens a descriptor:
// otherwise the next file or socket would take the number, and a message
// meant for standard error (or the log's rows for standard output) would go
// into it.
void fillClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            standardOutputClosed = true;
        // The lowest free number: this one, the ones below it being open by now.
        ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}

// The program's options. Reading them needs no application object; --help
// and --version print through one, which every run but the window's makes
// before anything is read.
struct CommandLine {
    QCommandLineParser parser;
    const QCommandLineOption demo{
        QStringLiteral("demo"), QStringLiteral("Use two simulated sensors instead of a joystick.")};
    const QCommandLineOption replay{QStringLiteral("replay"),
                                    QStringLiteral("Play back the port readings in <file>."),
                                    QStringLiteral("file")};
    const QCommandLineOption listDevices{
        QStringLiteral("list-devices"),
        QStringLiteral("List the joysticks: index, name, number of axes, GUID.")};
    const QCommandLineOption device{
        QStringLiteral("device"),
        QStringLiteral("Read the joystick with this index, GUID or name part."),
        QStringLiteral("id")};
    const QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Log without a window until a signal ends the run.")};
    const QCommandLineOption log{
        QStringLiteral("log"),
        QStringLiteral("With --headless: log to <file>; - for standard output."),
        QStringLiteral("file")};
    const QCommandLineOption interval{
        QStringLiteral("interval"),
        QStringLiteral("With --headless: a row every <seconds> (1 to 86400)."),
        QStringLiteral("seconds")};
    const QCommandLineOption metrics{
        QStringLiteral("metrics"),
        QStringLiteral("Serve the readings to Prometheus (ip: 127.0.0.1)."),
        QStringLiteral("[ip:]port")};
    const QCommandLineOption mqtt{
        QStringLiteral("mqtt"),
        QStringLiteral("Publish the readings and alarms, found by Home Assistant, to the MQTT "
                       "broker at <url>: mqtt://[USER@]HOST[:PORT], or mqtts:// with TLS. The "
                       "password: $KELVANO_MQTT_PASSWORD or a file (--mqtt-password-file)."),
        QStringLiteral("url")};
    const QCommandLineOption mqttId{
        QStringLiteral("mqtt-id"),
        QStringLiteral("With --mqtt: this Kelvano's name in the topics (default: the host name)."),
        QStringLiteral("id")};
    const QCommandLineOption mqttInterval{
        QStringLiteral("mqtt-interval"),
        QStringLiteral("With --mqtt: publish the readings every <seconds> (1 to 86400, default "
                       "10)."),
        QStringLiteral("seconds")};
    const QCommandLineOption mqttDiscovery{
        QStringLiteral("mqtt-discovery"),
        QStringLiteral("With --mqtt: Home Assistant's discovery prefix (default homeassistant), "
                       "or off."),
        QStringLiteral("prefix")};
    const QCommandLineOption mqttCa{
        QStringLiteral("mqtt-ca"),
        QStringLiteral("With an mqtts:// broker: trust the certificates in <file> instead of "
                       "the system's."),
        QStringLiteral("file")};
    const QCommandLineOption mqttPasswordFile{
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("With --mqtt: the broker's password is the first line of <file>."),
        QStringLiteral("file")};
    const QCommandLineOption history{
        QStringLiteral("history"),
        QStringLiteral("Show the log <file> in the history window only."), QStringLiteral("file")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("Two-channel thermometer: reads two thermistors on a joystick's axes."));
        parser.addHelpOption();
        parser.addVersionOption();
        for (const QCommandLineOption* option :
             {&demo, &replay, &listDevices, &device, &headless, &log, &interval, &metrics, &mqtt,
              &mqttId, &mqttInterval, &mqttDiscovery, &mqttCa, &mqttPasswordFile, &history})
            parser.addOption(*option);
    }

    // True when the words ask for the window: they read as options, and none
    // of them asks for a run without one or is refused before one would open.
    bool wantsWindow(const QStringList& arguments) {
        return parser.parse(arguments) && parser.positionalArguments().isEmpty() &&
               !parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("help-all")) &&
               !parser.isSet(QStringLiteral("version")) && !parser.isSet(listDevices) &&
               !parser.isSet(headless) && !parser.isSet(log) && !parser.isSet(interval);
    }
};

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

// The port source the options name. Null, with the exit status in *status,
// when the run ends here; the reason has been printed. With described, what
// the source reads, as the run without a window says at its start.
std::unique_ptr<GamePortSource> sourceFor(const CommandLine& line, int* status,
                                          QString* described = nullptr) {
    const QCommandLineParser& parser = line.parser;
    *status = 2;
    if (int(parser.isSet(line.demo)) + int(parser.isSet(line.replay)) +
            int(parser.isSet(line.device)) >
        1) {
        std::fprintf(stderr, "kelvano: use only one of --demo, --replay and --device\n");
        return nullptr;
    }
    QString ignored;
    described = described ? described : &ignored;
    if (parser.isSet(line.replay)) {
        QString error;
        auto scripted = ScriptedSource::fromFile(parser.value(line.replay), &error);
        if (!scripted) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            return nullptr;
        }
        *described = QStringLiteral("the readings in %1 (--replay)")
                         .arg(QFileInfo(parser.value(line.replay)).absoluteFilePath());
        return std::make_unique<ScriptedSource>(std::move(*scripted));
    }
    if (parser.isSet(line.demo)) {
        *described = QStringLiteral("two simulated sensors (--demo)");
        return std::make_unique<DemoSource>();
    }
    auto joystick = std::make_unique<JoystickSource>();
    if (parser.isSet(line.device)) {
        const std::vector<JoystickInfo> devices = joystick->devices();
        QString error;
        const int chosen = findDevice(devices, parser.value(line.device), &error);
        if (chosen < 0) {
            std::fprintf(stderr, "kelvano: %s\n", qUtf8Printable(error));
            return nullptr;
        }
        joystick->choose(devices[chosen]);
        *described = QStringLiteral("joystick ") + deviceLine(devices[chosen]);
    } else if (described != &ignored) {
        // The joystick that the first read will open (with none, the run ends there).
        const std::vector<JoystickInfo> devices = joystick->devices();
        const int first = firstUsableDevice(devices);
        if (first >= 0)
            *described = QStringLiteral("joystick ") + deviceLine(devices[first]);
    }
    return joystick;
}

// Where --metrics asks to serve: nothing when it is not given. False when its
// value is malformed or no address of this computer; the reason has been printed.
bool metricsAddress(const CommandLine& line, std::optional<QString>* where) {
    if (!line.parser.isSet(line.metrics))
        return true;
    *where = line.parser.value(line.metrics);
    return checkMetricsAddress(**where);
}

// The broker --mqtt names, with its companion options: nothing when it is not given. False when
// they are malformed or a file they name cannot be read; the reason has been printed.
bool mqttOptions(const CommandLine& line, std::optional<MqttOptions>* options) {
    const QCommandLineParser& parser = line.parser;
    const auto value = [&](const QCommandLineOption& option) {
        return parser.isSet(option) ? std::optional<QString>(parser.value(option)) : std::nullopt;
    };
    if (!parser.isSet(line.mqtt)) {
        for (const QCommandLineOption* companion :
             {&line.mqttId, &line.mqttInterval, &line.mqttDiscovery, &line.mqttCa,
              &line.mqttPasswordFile}) {
            if (parser.isSet(*companion)) {
                std::fprintf(stderr, "kelvano: --%s goes with --mqtt\n",
                             qUtf8Printable(companion->names().first()));
                return false;
            }
        }
        return true;
    }
    MqttArguments arguments;
    arguments.url = parser.value(line.mqtt);
    arguments.id = value(line.mqttId);
    arguments.interval = value(line.mqttInterval);
    arguments.discovery = value(line.mqttDiscovery);
    arguments.caFile = value(line.mqttCa);
    arguments.passwordFile = value(line.mqttPasswordFile);
    if (qEnvironmentVariableIsSet("KELVANO_MQTT_PASSWORD"))
        arguments.envPassword = qEnvironmentVariable("KELVANO_MQTT_PASSWORD");
    arguments.hostName = QSysInfo::machineHostName();
    const MqttOptionsResult result = parseMqttOptions(arguments);
    if (!result.options) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(result.error));
        return false;
    }
    *options = result.options;
    return true;
}

// Hands the run to the window library: the main window on the source, or the history window
// alone. Without an application object the library makes its own from argc and argv.
int runWindow(WindowStart start) {
    QString error;
    const auto windowMain =
        reinterpret_cast<WindowMain>(moduleFunction("window", "kelvano_window_main", &error));
    if (!windowMain) {
        std::fprintf(stderr, "kelvano: cannot open a window: %s\n", qUtf8Printable(error));
        return 3;
    }
    return windowMain(&start);
}

// The run without a window, with the metrics endpoint and the broker when asked for.
int runHeadless(std::unique_ptr<GamePortSource> source, const HeadlessRun::Options& options,
                const std::optional<QString>& metrics, const std::optional<MqttOptions>& mqtt) {
    HeadlessRun run(std::move(source), options);
    std::unique_ptr<QObject> page;
    std::function<void(bool)> brokerShown;
    if (!serveMetrics(metrics, &run.station(), mqtt.has_value(), &page, &brokerShown))
        return 2;
    std::unique_ptr<QObject> broker; // goes before the metrics page
    if (!startMqtt(mqtt, &run.station(), brokerShown, &broker))
        return 3;
    return run.exec();
}

// --history's file, when it can be shown: given alone, and there. Otherwise
// the exit status, the reason printed.
int historyRefused(const CommandLine& line) {
    const QCommandLineParser& parser = line.parser;
    for (const QCommandLineOption* other : {&line.demo, &line.replay, &line.device, &line.headless,
                                            &line.log, &line.interval, &line.metrics, &line.mqtt}) {
        if (parser.isSet(*other)) {
            std::fprintf(stderr,
                         "kelvano: --history shows a log and does nothing else: use it "
                         "without --%s\n",
                         qUtf8Printable(other->names().first()));
            return 2;
        }
    }
    const QString path = parser.value(line.history);
    const QFileInfo file(path);
    if (!file.isFile()) {
        std::fprintf(stderr, "kelvano: %s: %s\n", qUtf8Printable(path),
                     file.exists() ? "not a regular file" : "no such file");
        return 2;
    }
    return 0;
}

// True when a window system may be there: a platform named for Qt, or a
// display named for X11 or Wayland. Whether a named display answers shows
// only when the application object connects to it.
bool displayNamed(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int runProgram(const QStringList& arguments) {
    CommandLine line;
    line.parser.process(arguments);
    if (const QStringList words = line.parser.positionalArguments(); !words.isEmpty()) {
        std::fprintf(stderr, "kelvano: unexpected argument '%s'\n", qUtf8Printable(words.first()));
        return 2;
    }
    if (line.parser.isSet(line.listDevices))
        return listJoysticks();
    if (line.parser.isSet(line.history)) {
        if (const int refused = historyRefused(line))
            return refused;
        WindowStart start;
        start.historyPath = line.parser.value(line.history);
        return runWindow(std::move(start));
    }
    const bool headless = line.parser.isSet(line.headless);
    if (!headless && (line.parser.isSet(line.log) || line.parser.isSet(line.interval))) {
        std::fprintf(stderr, "kelvano: --log and --interval go with --headless\n");
        return 2;
    }
    HeadlessRun::Options options;
    options.logPath = line.parser.value(line.log);
    options.standardOutputClosed = standardOutputClosed;
    if (line.parser.isSet(line.interval)) {
        bool whole = false;
        const int seconds = line.parser.value(line.interval).toInt(&whole);
        if (!whole || seconds < 1 || seconds > 86400) {
            std::fprintf(stderr,
                         "kelvano: --interval takes a whole number of seconds from 1 to "
                         "86400, not '%s'\n",
                         qUtf8Printable(line.parser.value(line.interval)));
            return 2;
        }
        options.intervalSeconds = seconds;
    }
    int status = 0;
    std::unique_ptr<GamePortSource> source = sourceFor(line, &status, &options.device);
    if (!source)
        return status;
    std::optional<QString> metrics;
    if (!metricsAddress(line, &metrics))
        return 2;
    std::optional<MqttOptions> mqtt;
    if (!mqttOptions(line, &mqtt))
        return 2;
    if (headless)
        return runHeadless(std::move(source), options, metrics, mqtt);
    WindowStart start;
    start.source = std::move(source);
    start.metrics = metrics;
    start.mqtt = mqtt;
    return runWindow(std::move(start));
}

int kelvanoMain(int argc, char* argv[]) {
    fillClosedStandardDescriptors();
    QCoreApplication::setApplicationName(QStringLiteral("Kelvano"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVANO_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    CommandLine line;
    if (!line.wantsWindow(arguments)) {
        const QCoreApplication app(argc, argv);
        return runProgram(QCoreApplication::arguments());
    }

    // The window: whatever can fail without one fails first.
    const bool history = line.parser.isSet(line.history);
    if (history) {
        if (const int refused = historyRefused(line))
            return refused;
    }
    int status = 0;
    std::unique_ptr<GamePortSource> source = history ? nullptr : sourceFor(line, &status);
    if (!history && !source)
        return status;
    std::optional<QString> metrics;
    if (!metricsAddress(line, &metrics))
        return 2;
    std::optional<MqttOptions> mqtt;
    if (!history && !mqttOptions(line, &mqtt))
        return 2;
    if (!displayNamed(argc, argv)) {
        std::fputs(noDisplayMessage, stderr);
        return 3;
    }
    WindowStart start;
    start.argc = &argc;
    start.argv = argv;
    if (history)
        start.historyPath = line.parser.value(line.history);
    start.source = std::move(source);
    start.metrics = metrics;
    start.mqtt = mqtt;
    return runWindow(std::move(start));
}
