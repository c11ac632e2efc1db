#include "sensor/conversion.h"
#include "sensor/demo_source.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

TEST(ScriptedSource, ReplaysReadsThenRepeatsTheLast) {
    QString error;
    auto source = ScriptedSource::parse(QStringLiteral("# a recorded session\n"
                                                       "probe 0\n"
                                                       "\n"
                                                       "0 5203 31036   # good\n"
                                                       "167\n"
                                                       "\t0  7903\t53133\n"),
                                        &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_EQ(source->probeDevice(), 0);
    PortReading r;
    EXPECT_EQ(source->readAxes(r), 0);
    EXPECT_EQ(r.x, 5203u);
    EXPECT_EQ(r.y, 31036u);
    EXPECT_EQ(source->readAxes(r), 167); // leaves x and y
    EXPECT_EQ(r.x, 5203u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(source->readAxes(r), 0);
        EXPECT_EQ(r.y, 53133u);
    }
}

TEST(ScriptedSource, ProbeCodeAndEmptyScript) {
    auto failing = ScriptedSource::parse(QStringLiteral("probe 165\n"), nullptr);
    ASSERT_TRUE(failing);
    EXPECT_EQ(failing->probeDevice(), 165);
    auto empty = ScriptedSource::parse(QString(), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->probeDevice(), 0);
    PortReading r{0, 9, 9};
    EXPECT_EQ(empty->readAxes(r), 0);
    EXPECT_EQ(r.x, 9u);
}

TEST(ScriptedSource, RejectsMalformedScriptsWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"0 1 2\nhello\n", "2: unknown entry: hello"},
        {"0 65536 0\n", "1: axis value must be a whole number from 0 to 65535"},
        {"0 -1 0\n", "1: axis value must be a whole number from 0 to 65535"},
        {"0 1.5 0\n", "1: axis value must be a whole number from 0 to 65535"},
        {"0 1\n", "1: expected: CODE or CODE X Y"},
        {"0 1 2 3\n", "1: expected: CODE or CODE X Y"},
        {"probe 0\nprobe 0\n", "2: a second probe entry"},
        {"0\n# note\nprobe 0\n", "3: probe entry after a read"},
        {"probe\n", "1: expected: probe CODE"},
        {"probe x\n", "1: probe code is not a whole number: x"},
        {"99999999999 1 2\n", "1: unknown entry: 99999999999"},
    };
    for (const auto& [text, message] : cases) {
        QString error;
        EXPECT_FALSE(ScriptedSource::parse(QString::fromLatin1(text), &error)) << text;
        EXPECT_EQ(error, QLatin1String(message)) << text;
    }
}

TEST(ScriptedSource, FileErrorsNameTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0 1 2\n0 1 x\n");
    file.close();
    QString error;
    EXPECT_FALSE(ScriptedSource::fromFile(path, &error));
    EXPECT_EQ(error,
              path + QStringLiteral(":2: axis value must be a whole number from 0 to 65535"));

    const QString missing = dir.filePath(QStringLiteral("missing.txt"));
    EXPECT_FALSE(ScriptedSource::fromFile(missing, &error));
    EXPECT_TRUE(error.startsWith(missing + QStringLiteral(":0: cannot open")));
}

// Random lines made of the script's own words and some noise: parsing never
// crashes, and whatever parses replays within range.
TEST(ScriptedSource, SurvivesRandomInput) {
    std::mt19937 random(12345);
    const char* const words[] = {"probe", "0",     "167", "165",        "-1",          "65535",
                                 "65536", "#",     "x",   "2147483648", "-2147483648", "\t",
                                 "",      "00012", "+5",  "1e3",        "\xc3\xa9",    "\r"};
    const int wordCount = int(sizeof(words) / sizeof(words[0]));
    for (int script = 0; script < 2000; ++script) {
        QString text;
        const int lines = int(random() % 6);
        for (int l = 0; l < lines; ++l) {
            const int count = int(random() % 5);
            for (int w = 0; w < count; ++w)
                text += QString::fromUtf8(words[random() % wordCount]) + QLatin1Char(' ');
            text += QLatin1Char('\n');
        }
        QString error;
        auto source = ScriptedSource::parse(text, &error);
        if (!source) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        source->probeDevice();
        PortReading r;
        for (int i = 0; i < 8; ++i) {
            source->readAxes(r);
            ASSERT_LE(r.x, 65535u);
            ASSERT_LE(r.y, 65535u);
        }
    }
}

TEST(DemoSource, BelievableSlowlyChangingTemperatures) {
    DemoSource demo;
    EXPECT_EQ(demo.probeDevice(), 0);
    PortReading r;
    int previous[2] = {0, 0};
    for (unsigned second = 0; second < 1800; ++second) {
        ASSERT_EQ(demo.readAxes(r), 0);
        ChannelReadout one, two;
        ASSERT_TRUE(convert(one, r.x, initialCoefficients(1)));
        ASSERT_TRUE(convert(two, r.y, initialCoefficients(2)));
        EXPECT_NEAR(one.celsius, 21, 4);
        EXPECT_NEAR(two.celsius, 8, 4);
        if (second > 0) { // at most a degree a second
            EXPECT_LE(std::abs(one.celsius - previous[0]), 1);
            EXPECT_LE(std::abs(two.celsius - previous[1]), 1);
        }
        previous[0] = one.celsius;
        previous[1] = two.celsius;
    }
}

TEST(DemoSource, SameStartSameReadings) {
    DemoSource a(100), b(100);
    PortReading ra, rb;
    for (int i = 0; i < 10; ++i) {
        a.readAxes(ra);
        b.readAxes(rb);
        EXPECT_EQ(ra.x, rb.x);
        EXPECT_EQ(ra.y, rb.y);
    }
}

TEST(DemoSource, RawValuesConvertBackToTheirTemperature) {
    for (double celsius : {0.0, 8.0, 21.0, 30.0}) {
        for (int sensor : {1, 2}) {
            ChannelReadout r;
            ASSERT_TRUE(
                convert(r, DemoSource::rawFor(sensor, celsius), initialCoefficients(sensor)));
            EXPECT_EQ(r.celsius, int(celsius)) << sensor << " " << celsius;
        }
    }
}
