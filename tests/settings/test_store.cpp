// SPDX-License-Identifier: GPL-3.0-or-later

#include "settings/cl_kelvano.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Values = cl_Kelvano::Values;

// One temporary config folder, never the user's; each test uses a company (a file) of its own.
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

    cl_Kelvano store;
};

// Texts round-trip, and the file reads and writes as QSettings (used by earlier builds) does.
TEST_F(Store, TextsRoundTripAndMatchWhatQSettingsReadsAndWrites) {
    EXPECT_EQ(store.GetSetting("Settings", "Name", "default"), "default"); // no file yet
    const QString texts[] = {
        "a,b; c=d", "\"quoted\" back\\slash",      "@at", "  padded  ", "Küche 10 kΩ",
        "",         QString("\t\n\x01") + "7f\x1f"};
    const std::pair<QString, QString> places[] = {
        {"Settings", "Sensor1-1 Name"}, {"", "k"}, {"General", "%ü Ω*"}, {"a//b", "*"}};
    int copies = 0;
    for (const QString& text : texts) {
        for (const auto& [section, key] : places) {
            SCOPED_TRACE((section + '|' + key + '|' + text).toStdString());
            const QString path = section.isEmpty() ? key : QDir::cleanPath(section + '/' + key);
            const QString copy = folder() + QStringLiteral("/copy%1.ini").arg(++copies);
            ASSERT_TRUE(store.SaveSetting(section, key, text));
            EXPECT_EQ(store.GetSetting(section, key, "default"), text);
            ASSERT_TRUE(QFile::copy(file(), copy));
            EXPECT_EQ(QSettings(copy, QSettings::IniFormat).value(path).toString(), text);
            QSettings(copy, QSettings::IniFormat).setValue(path, text + "+");
            ASSERT_TRUE(QFile::remove(file()) && QFile::copy(copy, file()));
            EXPECT_EQ(store.GetSetting(section, key), text + "+");
        }
    }
}

// Values that are not plain text count as not stored and are kept as they were; all read fast.
TEST_F(Store, ValuesThatAreNotPlainTextAreNotStored) {
    QByteArray polygon;
    QDataStream(&polygon, QIODevice::WriteOnly)
        << quint32(127) << QByteArray("QPolygonF", 10) << quint32(0x7fffffff);
    QByteArray text = "[Settings]\nkept=\"" + QByteArray(100000, ',') + "\\x41\"\nv0=@Variant(";
    for (const char c : polygon)
        text += "\\x" + QByteArray::number(uchar(c), 16);
    text += ")\nv1=\"@ByteArray(\\0\\xff)\"\n";
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    f.close();
    QElapsedTimer timer;
    timer.start();
    for (const char* key : {"v0", "v1"})
        EXPECT_EQ(store.GetSetting("Settings", key, "default"), "default") << key;
    EXPECT_EQ(store.GetAllSettings("Settings"), Values({{"kept", QString(100000, ',') + 'A'}}));
    EXPECT_LT(timer.elapsed(), 1000);
    ASSERT_TRUE(store.SaveSetting("Settings", "new", "1"));
    EXPECT_EQ(bytes(), text.insert(text.indexOf("v0="), "new=\"1\"\n") + '\n');

    std::mt19937 random(3); // random bytes read quickly, as texts or as nothing
    for (int round = 0; round < 20; ++round) {
        QByteArray noise(int(random() % 400), 0);
        for (char& byte : noise)
            byte = char(random());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("[Settings]\nk=" + noise) > 0);
        f.close();
        store.GetAllSettings("Settings");
    }
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST_F(Store, ListsAndDeletesValuesAndSections) {
    const Values rows{{"", "unnamed"}, {"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}};
    ASSERT_TRUE(store.SaveSettings("Settings", {rows[3], rows[1], rows[2], {"*", "unnamed"}}));
    ASSERT_TRUE(store.SaveSetting("", "Settings", "kept")); // named like the section, one level up
    ASSERT_TRUE(store.SaveSetting("Settings/sub", "deeper", "gone"));
    EXPECT_FALSE(store.SaveSettings("Settings", {{"fine", "1"}, {"a/b", "2"}}));
    EXPECT_EQ(store.GetAllSettings("Settings"), rows);
    EXPECT_TRUE(store.DeleteSetting("Settings", "*"));
    EXPECT_FALSE(store.DeleteSetting("Settings", "*"));
    EXPECT_EQ(store.GetAllSettings("Settings"), Values(rows.begin() + 1, rows.end()));
    EXPECT_TRUE(store.DeleteSetting("Settings"));
    EXPECT_FALSE(store.DeleteSetting("Settings"));
    EXPECT_EQ(store.GetSetting("Settings/sub", "deeper", "none"), "none");
    EXPECT_FALSE(store.DeleteSetting("/"));
    EXPECT_FALSE(store.DeleteSetting("")); // never wipes the whole application
    EXPECT_EQ(store.GetAllSettings(""), Values({{"Settings", "kept"}}));
}

TEST_F(Store, CompanyAndAppNameAreTrimmedOrReset) {
    const QString cases[][2] = {{"", "Corvanta"}, {"  Acme Co  ", "Acme Co"}, {"   ", ""}};
    for (const auto& [set, name] : cases) {
        cl_Kelvano other;
        other.setCompany(set);
        other.setAppName(set);
        EXPECT_EQ(other.Company() + '|' + other.AppName(),
                  name + '|' + (set.isEmpty() ? "Kelvano" : name));
        EXPECT_EQ(other.SaveSetting("Settings", "k", "v"), !name.isEmpty());
    }
}

// A failed change leaves the file as it was and no stray file (root acts as nobody here).
TEST_F(Store, FailedChangeKeepsTheOldFile) {
    chmod(QFile::encodeName(configHome.path()), 0711);
    const struct {
        const char* name;
        mode_t folder, file, mask;
    } cases[] = {{"read-only-folder", 0555, 0666, 022},
                 {"unreadable-file", 0777, 0222, 022},
                 {"written-file-unreadable", 0777, 0, 0477}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.name);
        ASSERT_TRUE(!c.file || store.SaveSetting("Settings", "A1-1_value", "old"));
        const QByteArray before = bytes();
        chmod(QFile::encodeName(file()), c.file);
        chmod(QFile::encodeName(folder()), c.folder);
        umask(c.mask);
        ASSERT_EQ(getuid() == 0 ? seteuid(65534) : 0, 0);
        EXPECT_FALSE(store.SaveSettings("Settings", {{"A1-1_value", "new"}, {"B", "new"}}));
        EXPECT_EQ(store.DeleteSetting("Settings", "A1-1_value"), false);
        ASSERT_EQ(getuid() == 0 ? seteuid(0) : 0, 0);
        umask(022);
        chmod(QFile::encodeName(folder()), 0755);
        chmod(QFile::encodeName(file()), 0644);
        EXPECT_EQ(bytes(), before);
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), c.file ? 1 : 0);
    }
}

// Killed saves and deletes leave all values old or all new, and no copy in the temporary folder.
TEST_F(Store, KilledSavesAreWholeOrNotAtAll) {
    const QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    Values a, b;
    for (int n = 10; n < 31; ++n) {
        a.emplace_back(QStringLiteral("key%1").arg(n), QStringLiteral("a%1").arg(n));
        b.emplace_back(a.back().first, QStringLiteral("b%1").arg(n));
    }
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
    // The kills fell at different points (under load not every outcome shows).
    EXPECT_GE((seen[0] > 0) + (seen[1] > 0) + (seen[2] > 0), 2);
    EXPECT_TRUE(QDir(tmp.path()).isEmpty());
}

} // namespace
