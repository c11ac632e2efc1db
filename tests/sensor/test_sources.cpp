// SPDX-License-Identifier: GPL-3.0-or-later

#include "sensor/conversion.h"
#include "sensor/demo_source.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace std::string_literals; // "\0" inside a std::string literal is kept

namespace {
std::string repeat(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i)
        repeated += text;
    return repeated;
}
} // namespace

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
        {"0\n# note\nprobe 0\n"s, "3: probe entry after a read"},
        {"99999999999 1 2\n"s, "1: unknown entry: 99999999999"},
        // At most 40 characters of a word, a character outside the BMP being one.
        {std::string(41, 'x') + std::string(1 << 20, 'y'),
         "1: unknown entry: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\u2026"},
        {std::string(39, '\0') + "\U0001F321",
         "1: unknown entry: "s + repeat("\\0", 39) + "\U0001F321"},
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

// Only a regular file of at most 16 MB is read; a FIFO or a device is never opened.
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
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const qint64 limit = ScriptedSource::maxFileSize;
    const std::pair<QString, QString> cases[] = {
        // a lone CR ends a line in a file too
        {make("bad", "0 1 2\r0 5\0junk 2\r\n"s),
         ":2: axis value must be a whole number from 0 to 65535: 5\\0junk"},
        {dir.filePath(QStringLiteral("missing")), ":0: cannot open: No such file or directory"},
        {dir.path(), ": not a regular file"},
        {QStringLiteral("/dev/zero"), ": not a regular file"},
        {fifo, ": not a regular file"},
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
