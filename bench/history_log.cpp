// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a log as a logging run at 1 s would, from the demo's two simulated
// sensors with the program's initial settings (both in °F), through the log's
// own code: a week of rows in a few seconds instead of a week.
//
// usage: history_log FILE [--hours N] [--locale NAME]
//   --hours   the length of the run (default 168, a week: 604,800 rows)
//   --locale  the formats of the dates and times (default: the user's)

#include "logging/csv_log.h"
#include "sensor/demo_source.h"
#include "sensor/sampling_cycle.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The log to write."));
    const QCommandLineOption hours(QStringLiteral("hours"), QStringLiteral("Length of the run."),
                                   QStringLiteral("n"), QStringLiteral("168"));
    const QCommandLineOption locale(QStringLiteral("locale"),
                                    QStringLiteral("Formats of dates and times."),
                                    QStringLiteral("name"));
    parser.addOption(hours);
    parser.addOption(locale);
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    if (parser.isSet(locale))
        QLocale::setDefault(QLocale(parser.value(locale)));

    CsvLog log;
    if (!log.open(parser.positionalArguments().first(), CsvLog::Mode::Create) ||
        !log.writeHeader()) {
        std::fprintf(stderr, "history_log: %s\n", qUtf8Printable(log.errorString()));
        return 1;
    }
    std::array<ChannelInput, 2> inputs;
    for (int sensor = 1; sensor <= 2; ++sensor)
        inputs[sensor - 1].coefficients = initialCoefficients(sensor);
    DemoSource demo;
    SamplingCycle cycle;
    const QDateTime start(QDate(2026, 11, 30), QTime(8, 0));
    const qint64 rows = parser.value(hours).toLongLong() * 3600;
    for (qint64 i = 0; i < rows; ++i) {
        cycle.tick(demo, inputs);
        if (!log.writeRow(start.addSecs(i), cycle.readout(1).shown, cycle.readout(2).shown)) {
            std::fprintf(stderr, "history_log: %s\n", qUtf8Printable(log.errorString()));
            return 1;
        }
    }
    log.close();
    std::printf("%lld rows\n", rows);
    return 0;
}
