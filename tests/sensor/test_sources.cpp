// SPDX-License-Identifier: GPL-3.0-or-later

#include "sensor/conversion.h"
#include "sensor/demo_source.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <random>

using namespace std::string_literals; // "\0" inside a std::string literal is kept

// CR LF, LF and a lone CR all end a line.
TEST(ScriptedSource, ReplaysReadsThenRepeatsTheLast) {
    auto source = ScriptedSource::parse(QStringLiteral("# a recorded session\r\n"
                                                       "probe 165\n\n"
                                                       "0 5203 3103\r6\r\n"
                                                       "0 0 65535   # limits\n"
                                                       "\t0  7903\t53133"),
                                        nullptr);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->probeDevice(), 165);
    EXPECT_EQ(ScriptedSource::parse(QStringLiteral("0 1 2"), nullptr)->probeDevice(), 0);
    PortReading r;
    const std::tuple<int, uint32_t, uint32_t> expected[] = {
        {0, 5203, 3103}, {6, 5203, 3103}, {0, 0, 65535}, {0, 7903, 53133}, {0, 7903, 53133}};
    for (const auto& [code, x, y] : expected) {
        EXPECT_EQ(source->readAxes(r), code);
        EXPECT_EQ(std::pair(r.x, r.y), std::pair(x, y));
    }
}

// The file's own text shows in the message, its control characters escaped.
TEST(ScriptedSource, RejectsMalformedScriptsWithTheLine) {
    const std::pair<std::string, const char*> cases[] = {
        {"0 1 2\nhello\n"s, "2: unknown entry: hello"},
        {"0 65536 0\n"s, "1: axis value must be a whole number from 0 to 65535: 65536"},
        {"0 -1 0\n"s, "1: axis value must be a whole number from 0 to 65535: -1"},
        {"0 0 +1\n"s, "1: axis value must be a whole number from 0 to 65535: +1"},
        {"0 5\0junk 40000"s, "1: axis value must be a whole number from 0 to 65535: 5\\0junk"},
        {"0 1 2\r\r5\0 1 2"s, "3: unknown entry: 5\\0"},
        {"probe \\x\x7f"s, "1: probe code is not a whole number: \\\\x\\x7f"},
        {"0 1\n"s, "1: expected: CODE or CODE X Y"},
        {"probe\n"s, "1: expected: probe CODE"},
        {"probe 0\rprobe 0\r"s, "2: a second probe entry"},
        {"0\n# note\nprobe 0\n"s, "3: probe entry after a read"},
        {"99999999999 1 2\n"s, "1: unknown entry: 99999999999"},
    };
    for (const auto& [script, message] : cases) {
        QString error;
        EXPECT_FALSE(ScriptedSource::parse(QString::fromStdString(script), &error)) << message;
        EXPECT_EQ(error, QLatin1String(message));
    }
}

TEST(ScriptedSource, FileErrorsNameTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString("0 1 2\r0 5\0junk 2\r\n"s));
    file.close();
    QString error; // a lone CR ends a line in a file too
    EXPECT_FALSE(ScriptedSource::fromFile(path, &error));
    EXPECT_EQ(error, path + QStringLiteral(
                                ":2: axis value must be a whole number from 0 to 65535: 5\\0junk"));
    EXPECT_FALSE(ScriptedSource::fromFile(path + QLatin1Char('x'), &error));
    EXPECT_TRUE(error.startsWith(path + QStringLiteral("x:0: cannot open")));
}

// Random scripts: no crash, the same result with any line end, no control character in a message.
TEST(ScriptedSource, SurvivesRandomInput) {
    std::mt19937 random(12345);
    const std::string words[] = {"probe", "0",     "167",     "-1",         "65535",   "65536",
                                 "#",     "x",     "+5",      "2147483648", "\t",      "1e3",
                                 "\0"s,   "5\0x"s, "\x1b[2J", "\xc2\x9b",   "\xc3\xa9"};
    const char* const lineEnds[] = {"\n", "\r\n", "\r"};
    for (int script = 0; script < 2000; ++script) {
        QString plain, mixed;
        for (int w = int(random() % 20); w > 0; --w) {
            const QString word = QString::fromStdString(words[random() % std::size(words)]);
            const bool lineEnd = random() % 3 == 0;
            plain += word + QLatin1Char(lineEnd ? '\n' : ' ');
            mixed += word + (lineEnd ? QLatin1String(lineEnds[random() % 3]) : QLatin1String(" "));
        }
        QString error, mixedError;
        auto source = ScriptedSource::parse(plain, &error);
        ScriptedSource::parse(mixed, &mixedError);
        ASSERT_EQ(error, mixedError);
        for (const QChar ch : error)
            ASSERT_NE(ch.category(), QChar::Other_Control) << qPrintable(error);
        PortReading r;
        for (int i = 0; source && i < 3; ++i) // an empty script reads too
            source->readAxes(r);
    }
}

// Half an hour of the demo: about 21 °C and 8 °C on average, a degree at a time, as recorded once.
TEST(DemoSource, BelievableSlowlyChangingTemperatures) {
    EXPECT_EQ(DemoSource().probeDevice(), 0);
    for (int sensor : {1, 2}) {
        DemoSource demo;
        int sum = 0, previous = INT_MIN;
        for (unsigned second = 0; second < 1800; ++second) {
            PortReading r;
            ASSERT_EQ(demo.readAxes(r), 0);
            ChannelReadout out;
            convert(out, sensor == 1 ? r.x : r.y, initialCoefficients(sensor));
            EXPECT_NEAR(out.celsius, DemoSource::temperatureAt(sensor, second), 0.51);
            EXPECT_TRUE(previous == INT_MIN || std::abs(out.celsius - previous) <= 1) << second;
            previous = out.celsius;
            sum += out.celsius;
        }
        EXPECT_NEAR(sum / 1800.0, sensor == 1 ? 21 : 8, 0.3);
    }
    const std::tuple<unsigned, uint32_t, uint32_t> recorded[] = {
        {0, 3319, 29408}, {150, 3130, 29820}, {400, 3555, 37189}, {777, 3025, 32736}};
    for (const auto& [start, x, y] : recorded) {
        PortReading r;
        DemoSource(start).readAxes(r);
        EXPECT_EQ(std::pair(r.x, r.y), std::pair(x, y)) << start;
    }
}
