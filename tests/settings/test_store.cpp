#include "settings/cl_kelvano.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Rows = std::vector<std::pair<QString, QString>>;

// All tests run in one temporary config folder (QSettings reads its path once per process), never
// in the user's own settings. Each test uses its own company, hence its own file.
const QTemporaryDir configHome;

class Store : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        store.setCompany(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    QString file() const { return configHome.path() + u'/' + store.Company() + "/Kelvano.conf"; }
    // What a second process reads from the file: a copy has no share in this process's cache.
    QString onDisk(const QString& key) const {
        static int copies = 0;
        const QString copy = configHome.path() + QStringLiteral("/copy%1.ini").arg(++copies);
        QFile::copy(file(), copy);
        return QSettings(copy, QSettings::IniFormat).value(key).toString();
    }

    cl_Kelvano store;
};

TEST_F(Store, TextsRoundTripAndMissingGivesTheDefault) {
    EXPECT_EQ(store.GetSetting("Settings", "Name", "default"), "default"); // no file yet
    const QString texts[] = {"a,b, c",     "\"quoted\" a=b 100%", "@at back\\slash #x;y",
                             "  padded  ", "Küche 10 kΩ",         ""};
    for (const QString& text : texts) {
        ASSERT_TRUE(store.SaveSetting("Settings", "Name", text));
        EXPECT_EQ(store.GetSetting("Settings", "Name", "default"), text);
        EXPECT_EQ(onDisk("Settings/Name"), text);
    }
}

TEST_F(Store, ListsAndDeletesValuesAndSections) {
    const Rows rows{{"", "unnamed"}, {"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}};
    for (const auto& [name, value] : {rows[3], rows[1], rows[2]})
        ASSERT_TRUE(store.SaveSetting("Settings", name, value));
    ASSERT_TRUE(store.SaveSetting("Settings", "*", "unnamed"));
    ASSERT_TRUE(store.SaveSetting("", "Settings", "kept")); // named like the section, one level up
    EXPECT_EQ(store.GetSetting("Settings", "*"), "unnamed");
    EXPECT_EQ(store.GetAllSettings("Settings"), rows);

    EXPECT_TRUE(store.DeleteSetting("Settings", "*"));
    EXPECT_EQ(store.GetAllSettings("Settings"), Rows(rows.begin() + 1, rows.end()));
    EXPECT_TRUE(store.DeleteSetting("Settings"));
    EXPECT_FALSE(store.DeleteSetting("Settings"));
    EXPECT_TRUE(store.GetAllSettings("Settings").empty());
    EXPECT_FALSE(store.DeleteSetting("")); // never wipes the whole application
    EXPECT_EQ(store.GetSetting("", "Settings"), "kept");
}

TEST_F(Store, ChangesMadeElsewhereAreSeenAtTheNextCall) {
    ASSERT_TRUE(store.SaveSetting("Settings", "cboTimerL", "1"));
    // Another instance of the program rewrites the file within the same second, at the same size.
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[Settings]\ncboTimerL=2\n");
    f.flush();
    f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    EXPECT_EQ(store.GetSetting("Settings", "cboTimerL"), "2");
}

TEST(StoreNames, CompanyAndAppNameAreTrimmedOrReset) {
    const QString cases[][3] = {
        {"", "Corvanta", "Kelvano"}, {"  Acme Co  ", "Acme Co", "Acme Co"}, {"   ", "", ""}};
    for (const auto& [set, company, appName] : cases) {
        cl_Kelvano store;
        store.setCompany(set);
        store.setAppName(set);
        EXPECT_EQ(store.Company(), company) << set.toStdString();
        EXPECT_EQ(store.AppName(), appName) << set.toStdString();
    }
}

// On a full disk and in a read-only folder (where root would write anyway, so it acts as nobody).
TEST_F(Store, FailedSaveKeepsTheOldValue) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const QString old(300, u'o');
    for (const bool diskFull : {true, false}) {
        SCOPED_TRACE(diskFull ? "disk full" : "read-only folder");
        store.setCompany(diskFull ? "DiskFull" : "ReadOnly");
        ASSERT_TRUE(store.SaveSetting("Settings", "A1-1_value", old));
        const QByteArray folder = QFile::encodeName(configHome.path() + u'/' + store.Company());
        if (diskFull) {
            const rlimit full{rlim_t(QFile(file()).size() + 16), saved.rlim_max};
            setrlimit(RLIMIT_FSIZE, &full);
        } else {
            chmod(QFile::encodeName(configHome.path()), 0711);
            chmod(QFile::encodeName(file()), 0644);
            chmod(folder, 0555);
            EXPECT_EQ(getuid() == 0 ? seteuid(65534) : 0, 0);
        }
        EXPECT_FALSE(store.SaveSetting("Settings", "A1-1_value", QString(600, u'n')));
        EXPECT_EQ(store.GetSetting("Settings", "A1-1_value"), old);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(getuid() == 0 ? seteuid(0) : 0, 0);
        chmod(folder, 0755);

        // Once writing works again, the unsaved value does not come back with the next save.
        ASSERT_TRUE(store.SaveSetting("Settings", "B1-1_value", "next"));
        EXPECT_EQ(onDisk("Settings/A1-1_value"), old);
    }
}

} // namespace
