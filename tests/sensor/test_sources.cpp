// SPDX-License-Identifier: GPL-3.0-or-later

#include "sensor/conversion.h"
#include "sensor/demo_source.h"
#include "sensor/scripted_source.h"

#include <QtCore>
#include <climits>
#include <gtest/gtest.h>

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
    PortReading r;
    const std::tuple<int, uint32_t, uint32_t> expected[] = {
        {0, 5203, 3103}, {6, 5203, 3103}, {0, 0, 65535}, {0, 7903, 53133}, {0, 7903, 53133}};
    for (const auto& [code, x, y] : expected) {
        EXPECT_EQ(source->readAxes(r), code);
        EXPECT_EQ(std::pair(r.x, r.y), std::pair(x, y));
    }
    // A script without reads reads as a success that writes nothing.
    EXPECT_EQ(ScriptedSource::parse(QStringLiteral("probe 0\n"), nullptr)->readAxes(r), 0);
    EXPECT_EQ(std::pair(r.x, r.y), std::pair(7903u, 53133u));
}

// The file's own text shows in the message, its control characters escaped.
TEST(ScriptedSource, RejectsMalformedScriptsWithTheLine) {
    const std::pair<std::string, std::string> cases[] = {
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
        {"99999999999 1 2\n"s, "1: unknown entry: 99999999999"},
        // At most 40 characters of a word, a character outside the BMP being one.
        {std::string(39, '\0') + "\U0001F321",
         "1: unknown entry: "s + QStringLiteral("\\0").repeated(39).toStdString() + "\U0001F321"},
        {"0 0 " + std::string(39, '9') + "\U0001F321.", "1: axis value must be a whole number "
                                                        "from 0 to 65535: " +
                                                            std::string(39, '9') +
                                                            "\U0001F321\u2026"},
    };
    for (const auto& [script, message] : cases) {
        QString error;
        EXPECT_FALSE(ScriptedSource::parse(QString::fromStdString(script), &error)) << message;
        EXPECT_EQ(error.toStdString(), message);
    }
}

// Only a regular file of at most 16 MB is read (a FIFO or a device: command_line.sh).
TEST(ScriptedSource, FileErrorsNameTheFile) {
    QTemporaryDir dir;
    // size bytes: a comment padded with NULs, then the last line, "0 1 2".
    const auto make = [&](const char* name, const std::string& bytes, qint64 size = -1) {
        QFile file(dir.filePath(QLatin1String(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        if (size >= 0) {
            file.write("#");
            file.resize(size - 6);
            file.seek(size - 6);
            file.write("\n0 1 2");
        }
        file.write(QByteArray::fromStdString(bytes));
        return file.fileName();
    };
    const qint64 limit = ScriptedSource::maxFileSize;
    const std::pair<QString, QString> cases[] = {
        // a lone CR ends a line in a file too
        {make("bad", "0 1 2\r0 5\0junk 2\r\n"s),
         ":2: axis value must be a whole number from 0 to 65535: 5\\0junk"},
        {dir.filePath(QStringLiteral("missing")), ":0: cannot open: No such file or directory"},
        {make("largest", ""s, limit), ""},
        {make("too large", ""s, limit + 1), ": larger than 16 MB"},
    };
    for (const auto& [path, message] : cases) {
        QString error;
        const bool read = ScriptedSource::fromFile(path, &error).has_value();
        EXPECT_EQ(read, message.isEmpty()) << qPrintable(path);
        EXPECT_EQ(error.toStdString(), message.isEmpty() ? "" : (path + message).toStdString());
    }
}

// Half an hour of the demo: about 21 °C and 8 °C on average, a degree at a time.
TEST(DemoSource, BelievableSlowlyChangingTemperatures) {
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
}
