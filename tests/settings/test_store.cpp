#include "settings/cl_kelvano.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Values = cl_Kelvano::Values;

// All tests run in one temporary config folder, never in the user's own settings. Each test uses
// its own company, hence its own file.
const QTemporaryDir configHome;

class Store : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        use(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void use(const QString& company) {
        store.setCompany(company);
        QDir().mkpath(folder());
    }
    QString folder() const { return configHome.path() + u'/' + store.Company(); }
    QString file() const { return folder() + "/Kelvano.conf"; }
    QByteArray bytes() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }
    void write(const QByteArray& text) const {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    }
    // Reads or writes the file the way QSettings-based builds of the program did.
    QSettings older(const QString& name) const { return {folder() + name, QSettings::IniFormat}; }

    cl_Kelvano store;
};

// What earlier builds wrote reads back, and what this one writes reads back in them.
TEST_F(Store, TextsRoundTripAndMatchWhatQSettingsWrites) {
    EXPECT_EQ(store.GetSetting("Settings", "Name", "default"), "default"); // no file yet
    const QString texts[] = {"a,b; c=d",
                             "\"quoted\" back\\slash #x",
                             "@at",
                             "@@",
                             "  padded  ",
                             "Küche 10 kΩ",
                             "",
                             "tab\tnew\nline\x01"
                             "7f\x1f"};
    const std::pair<QString, QString> places[] = {
        {"Settings", "Sensor1-1 Name"}, {"", "k"}, {"General", "%ü Ω*"}, {"a//b", "*"}};
    int copies = 0;
    for (const QString& text : texts) {
        for (const auto& [section, key] : places) {
            SCOPED_TRACE((section + '|' + key + '|' + text).toStdString());
            const QString path = section.isEmpty() ? key : QDir::cleanPath(section + '/' + key);
            const QString copy = QStringLiteral("/copy%1.ini").arg(++copies);
            ASSERT_TRUE(store.SaveSetting(section, key, text));
            EXPECT_EQ(store.GetSetting(section, key, "default"), text);
            ASSERT_TRUE(QFile::copy(file(), folder() + copy));
            EXPECT_EQ(older(copy).value(path).toString(), text);

            older(copy).setValue(path, text + "+");
            QFile::remove(file());
            ASSERT_TRUE(QFile::copy(folder() + copy, file()));
            EXPECT_EQ(store.GetSetting(section, key), text + "+");
        }
    }
}

// A damaged or hostile file: values that are not plain text count as not stored, take no time,
// and are written back unchanged; nothing else in the file is lost.
TEST_F(Store, ValuesThatAreNotPlainTextAreNotStored) {
    QByteArray polygon, image;
    QDataStream(&polygon, QIODevice::WriteOnly)
        << quint32(127) << QByteArray("QPolygonF", 10) << quint32(0x7fffffff);
    QDataStream(&image, QIODevice::WriteOnly)
        << quint32(QMetaType::QImage) << qint8(0) << qint32(1);
    image += QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x7f\xff\xff\xff\x7f\xff\xff\xff", 24);
    QByteArray hostile[] = {polygon, image, "\"@ByteArray(\\0\\xff)\"", "@Invalid()",
                            "@Rect(1 2 3 4)"};
    for (QByteArray* variant : {&hostile[0], &hostile[1]}) {
        QByteArray escaped;
        for (const char c : *variant)
            escaped += "\\x" + QByteArray::number(uchar(c), 16);
        *variant = "@Variant(" + escaped + ')';
    }
    const QByteArray kept = "kept=\"" + QByteArray(100000, ',') + "\\x41\"\n";
    QByteArray file;
    for (int i = 0; i < 5; ++i)
        file += "v" + QByteArray::number(i) + '=' + hostile[i] + '\n';
    write("[Settings]\n" + kept + file);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(store.GetSetting("Settings", QStringLiteral("v%1").arg(i), "default"), "default");
    EXPECT_EQ(store.GetSetting("Settings", "kept"), QString(100000, ',') + 'A');
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(store.GetAllSettings("Settings").size(), 1u);
    ASSERT_TRUE(store.SaveSetting("Settings", "new", "1"));
    EXPECT_EQ(bytes(), "[Settings]\n" + kept + "new=\"1\"\n" + file + '\n');

    // Random bytes: whatever a value reads as, rewriting the file does not change it.
    std::mt19937 random(9);
    for (int round = 0; round < 50; ++round) {
        QByteArray junk;
        for (int n = random() % 200; n > 0; --n)
            junk += char(random());
        write("[Settings]\nk=" + junk + "\n");
        const QString before = store.GetSetting("Settings", "k", "default");
        ASSERT_TRUE(store.SaveSetting("Settings", "other", "1"));
        EXPECT_EQ(store.GetSetting("Settings", "k", "default"), before) << junk.toHex().data();
    }
}

TEST_F(Store, ListsAndDeletesValuesAndSections) {
    const Values rows{{"", "unnamed"}, {"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}};
    ASSERT_TRUE(store.SaveSettings("Settings", {rows[3], rows[1], rows[2], {"*", "unnamed"}}));
    ASSERT_TRUE(store.SaveSetting("", "Settings", "kept")); // named like the section, one level up
    ASSERT_TRUE(store.SaveSetting("Settings/sub", "deeper", "kept"));
    EXPECT_FALSE(store.SaveSettings("Settings", {{"fine", "1"}, {"a/b", "2"}}));
    EXPECT_EQ(store.GetAllSettings("Settings"), rows);

    EXPECT_TRUE(store.DeleteSetting("Settings", "*"));
    EXPECT_FALSE(store.DeleteSetting("Settings", "*"));
    EXPECT_EQ(store.GetAllSettings("Settings"), Values(rows.begin() + 1, rows.end()));
    EXPECT_TRUE(store.DeleteSetting("Settings"));
    EXPECT_FALSE(store.DeleteSetting("Settings"));
    EXPECT_TRUE(store.GetAllSettings("Settings").empty());
    EXPECT_EQ(store.GetSetting("Settings/sub", "deeper"), "");
    EXPECT_FALSE(store.DeleteSetting("/"));
    EXPECT_FALSE(store.DeleteSetting("")); // never wipes the whole application
    EXPECT_EQ(store.GetAllSettings(""), Values({{"Settings", "kept"}}));
}

TEST_F(Store, CompanyAndAppNameAreTrimmedOrReset) {
    const QString cases[][3] = {
        {"", "Corvanta", "Kelvano"}, {"  Acme Co  ", "Acme Co", "Acme Co"}, {"   ", "", ""}};
    for (const auto& [set, company, appName] : cases) {
        cl_Kelvano store;
        store.setCompany(set);
        store.setAppName(set);
        EXPECT_EQ(store.Company(), company) << set.toStdString();
        EXPECT_EQ(store.AppName(), appName) << set.toStdString();
        EXPECT_EQ(store.SaveSetting("Settings", "k", "v"), !company.isEmpty());
    }
}

// Root would write anyway, so it acts as nobody. After each failure the file is as it was and no
// stray file is left behind.
TEST_F(Store, FailedChangeKeepsTheOldFile) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    chmod(QFile::encodeName(configHome.path()), 0711);
    const struct {
        const char* name;
        bool exists;
        mode_t folder, file, mask;
        bool diskFull;
    } cases[] = {{"disk-full", true, 0777, 0666, 022, true},
                 {"read-only-folder", true, 0555, 0666, 022, false},
                 {"unreadable-file", true, 0777, 0222, 022, false},
                 {"written-file-unreadable", false, 0777, 0, 0477, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.name);
        ASSERT_TRUE(!c.exists || store.SaveSetting("Settings", "A1-1_value", "old"));
        const QByteArray before = bytes();
        const rlimit full{rlim_t(before.size() + 10), saved.rlim_max};
        chmod(QFile::encodeName(file()), c.file);
        chmod(QFile::encodeName(folder()), c.folder);
        umask(c.mask);
        setrlimit(RLIMIT_FSIZE, c.diskFull ? &full : &saved);
        ASSERT_EQ(getuid() == 0 ? seteuid(65534) : 0, 0);
        EXPECT_FALSE(
            store.SaveSettings("Settings", {{"A1-1_value", "new"}, {"B1-1_value", "new"}}));
        ASSERT_EQ(getuid() == 0 ? seteuid(0) : 0, 0);
        setrlimit(RLIMIT_FSIZE, &saved);
        umask(022);
        chmod(QFile::encodeName(folder()), 0755);
        chmod(QFile::encodeName(file()), 0644);
        EXPECT_EQ(bytes(), before);
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), c.exists ? 1 : 0);
    }
}

// Saves and deletes killed at random points leave every value old or every value new, and no
// copy of the file in the temporary folder.
TEST_F(Store, KilledSavesAreWholeOrNotAtAll) {
    const QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    Values a, b;
    for (int n = 0; n < 21; ++n) {
        a.emplace_back(QStringLiteral("key%1").arg(n), QStringLiteral("a%1").arg(n));
        b.emplace_back(a.back().first, QStringLiteral("b%1").arg(n));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::mt19937 random(1);
    int seen[3] = {};
    for (int round = 0; round < 200; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        while (child == 0) {
            store.SaveSettings("Settings", a);
            store.SaveSettings("Settings", b);
            store.DeleteSetting("Settings");
        }
        usleep(random() % 25000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const Values now = store.GetAllSettings("Settings");
        ASSERT_TRUE(now.empty() || now == a || now == b) << round;
        ++seen[now.empty() ? 0 : now == a ? 1 : 2];
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
    EXPECT_TRUE(QDir(tmp.path()).isEmpty());
}

} // namespace
