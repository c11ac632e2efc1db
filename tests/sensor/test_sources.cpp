#include "sensor/conversion.h"
#include "sensor/demo_source.h"
#include "sensor/scripted_source.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

TEST(ScriptedSource, ReplaysReadsThenRepeatsTheLast) {
    auto source = ScriptedSource::parse(QStringLiteral("# a recorded session\n"
                                                       "probe 165\n\n"
                                                       "0 5203 31036   # good\n"
                                                       "167\n"
                                                       "\t0  7903\t53133\n"),
                                        nullptr);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->probeDevice(), 165);
    PortReading r;
    const std::tuple<int, uint32_t, uint32_t> expected[] = {
        {0, 5203, 31036}, {167, 5203, 31036}, {0, 7903, 53133}, {0, 7903, 53133}};
    for (const auto& [code, x, y] : expected) {
        EXPECT_EQ(source->readAxes(r), code);
        EXPECT_EQ(r.x, x);
        EXPECT_EQ(r.y, y);
    }
}

TEST(ScriptedSource, RejectsMalformedScriptsWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"0 1 2\nhello\n", "2: unknown entry: hello"},
        {"0 65536 0\n", "1: axis value must be a whole number from 0 to 65535"},
        {"0 -1 0\n", "1: axis value must be a whole number from 0 to 65535"},
        {"0 1\n", "1: expected: CODE or CODE X Y"},
        {"probe 0\nprobe 0\n", "2: a second probe entry"},
        {"0\n# note\nprobe 0\n", "3: probe entry after a read"},
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
    EXPECT_FALSE(ScriptedSource::fromFile(path + QLatin1Char('x'), &error));
    EXPECT_TRUE(error.startsWith(path + QStringLiteral("x:0: cannot open")));
}

// Random lines of the script's own words and some noise: parsing never
// crashes, and whatever parses replays within range.
TEST(ScriptedSource, SurvivesRandomInput) {
    std::mt19937 random(12345);
    const char* const words[] = {"probe", "0",   "167",        "-1",          "65535", "65536",
                                 "#",     "x",   "2147483648", "-2147483648", "\t",    "",
                                 "+5",    "1e3", "\xc3\xa9",   "\r"};
    for (int script = 0; script < 2000; ++script) {
        QString text;
        for (int w = int(random() % 20); w > 0; --w)
            text += QString::fromUtf8(words[random() % std::size(words)]) +
                    QLatin1Char(random() % 3 ? ' ' : '\n');
        QString error;
        auto source = ScriptedSource::parse(text, &error);
        if (!source) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        PortReading r;
        for (int i = 0; i < 8; ++i) {
            source->readAxes(r);
            ASSERT_LE(r.x, 65535u);
            ASSERT_LE(r.y, 65535u);
        }
    }
}

// Half an hour of the demo: believable, slowly changing, and the same every
// time it starts from the same second.
TEST(DemoSource, BelievableSlowlyChangingTemperatures) {
    DemoSource demo, again;
    EXPECT_EQ(demo.probeDevice(), 0);
    PortReading r, r2;
    int previous[2] = {0, 0};
    for (unsigned second = 0; second < 1800; ++second) {
        ASSERT_EQ(demo.readAxes(r), 0);
        again.readAxes(r2);
        ASSERT_EQ(r.x, r2.x);
        ChannelReadout one, two;
        ASSERT_TRUE(convert(one, r.x, initialCoefficients(1)));
        ASSERT_TRUE(convert(two, r.y, initialCoefficients(2)));
        EXPECT_NEAR(one.celsius, 21, 4);
        EXPECT_NEAR(two.celsius, 8, 4);
        if (second > 0) {
            EXPECT_LE(std::abs(one.celsius - previous[0]), 1);
            EXPECT_LE(std::abs(two.celsius - previous[1]), 1);
        }
        previous[0] = one.celsius;
        previous[1] = two.celsius;
    }
}
