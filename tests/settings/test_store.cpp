#include "settings/cl_kelvano.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <iterator>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Rows = std::vector<std::pair<QString, QString>>;

// Every test runs against a temporary config folder; the user's own settings are never touched.
// QSettings reads the folder's path once per process, so there is one folder for all tests.
std::unique_ptr<QTemporaryDir> configHome;

class ConfigHome : public ::testing::Environment {
  public:
    void SetUp() override {
        if (configHome)
            return;
        configHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", configHome->path().toLocal8Bit());
    }
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new ConfigHome);

// Each test uses its own company, hence its own settings file.
class Store : public ::testing::Test {
  protected:
    void SetUp() override {
        company =
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        store.setCompany(company);
        QDir(dir()).removeRecursively();
    }
    QString dir() const { return configHome->path() + u'/' + store.Company(); }
    QString file() const { return dir() + QStringLiteral("/Kelvano.conf"); }
    QByteArray bytes() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& content) const {
        QDir().mkpath(dir());
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.flush();
        // Another process writing at the same second: only the time stamp tells the change.
        f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    }
    // What a second process reads from the file: a copy has no share in this process's cache.
    QString onDisk(const QString& key) const {
        static int copies = 0;
        const QString copy = configHome->path() + QStringLiteral("/copy%1.ini").arg(++copies);
        QFile::copy(file(), copy);
        return QSettings(copy, QSettings::IniFormat).value(key).toString();
    }

    QString company;
    cl_Kelvano store;
};

TEST_F(Store, TextsRoundTripUnchanged) {
    const QString texts[] = {"",         "with spaces", "a, b, c",   "\"quoted\"",  "a=b",
                             "100%",     "x;y",         "#hash",     "back\\slash", "  padded  ",
                             "@at sign", "Küche 10 kΩ", "two\nlines"};
    for (int i = 0; i < int(std::size(texts)); ++i) {
        const QString key = QStringLiteral("Sensor%1 Name").arg(i);
        SCOPED_TRACE(key.toStdString());
        ASSERT_TRUE(store.SaveSetting("Settings", key, texts[i]));
        cl_Kelvano other;
        other.setCompany(company);
        EXPECT_EQ(other.GetSetting("Settings", key, "default"), texts[i]);
        EXPECT_EQ(onDisk("Settings/" + key), texts[i]);
    }
}

TEST_F(Store, MissingGivesDefaultButEmptyTextIsKept) {
    EXPECT_EQ(store.GetSetting("Settings", "Offset1", "3"), "3"); // no file yet
    EXPECT_FALSE(QFile::exists(file()));                          // reading creates nothing
    ASSERT_TRUE(store.SaveSetting("Settings", "Offset1", ""));
    EXPECT_EQ(store.GetSetting("Settings", "Offset1", "3"), "");
    EXPECT_EQ(store.GetSetting("Settings", "Offset2", "3"), "3"); // missing key
    EXPECT_EQ(store.GetSetting("Other", "Offset1", "3"), "3");    // missing section
    EXPECT_EQ(store.GetSetting("Settings", "Offset2"), "");       // default of the default
    EXPECT_FALSE(store.SaveSetting("Settings", "a/b", "v"));      // '/' names a subsection
}

TEST_F(Store, StarIsTheUnnamedValue) {
    ASSERT_TRUE(store.SaveSetting("Settings", "*", "unnamed"));
    ASSERT_TRUE(store.SaveSetting("Settings", "named", "value"));
    EXPECT_EQ(store.GetSetting("Settings", "*"), "unnamed");
    EXPECT_EQ(store.GetSetting("Settings", ""), "unnamed");
    EXPECT_EQ(store.GetAllSettings("Settings"), (Rows{{"", "unnamed"}, {"named", "value"}}));

    EXPECT_TRUE(store.DeleteSetting("Settings", "*"));
    EXPECT_EQ(store.GetSetting("Settings", "*", "gone"), "gone");
    EXPECT_FALSE(store.DeleteSetting("Settings", "*"));
    EXPECT_EQ(store.GetAllSettings("Settings"), (Rows{{"named", "value"}}));
}

TEST_F(Store, DeletesValuesAndSections) {
    ASSERT_TRUE(store.SaveSetting("Settings", "Offset1", "3"));
    ASSERT_TRUE(store.SaveSetting("Settings", "Offset2", "4"));
    ASSERT_TRUE(store.SaveSetting("Other", "Offset1", "5"));
    ASSERT_TRUE(store.SaveSetting("", "Settings", "top-level value")); // not part of the section

    EXPECT_TRUE(store.DeleteSetting("Settings", "Offset2"));
    EXPECT_FALSE(store.DeleteSetting("Settings", "Offset2"));
    EXPECT_FALSE(store.DeleteSetting("Missing", "Offset1"));

    EXPECT_TRUE(store.DeleteSetting("Settings"));
    EXPECT_FALSE(store.DeleteSetting("Settings"));
    EXPECT_FALSE(store.DeleteSetting("Missing"));
    EXPECT_FALSE(store.DeleteSetting(""));  // never wipes the application level
    EXPECT_FALSE(store.DeleteSetting("/")); // nor through a section without a name
    EXPECT_EQ(store.GetSetting("Settings", "Offset1", "gone"), "gone");
    EXPECT_EQ(onDisk("Settings/Offset1"), "");
    EXPECT_EQ(store.GetSetting("Other", "Offset1"), "5");
    EXPECT_EQ(store.GetSetting("", "Settings"), "top-level value");
}

TEST_F(Store, ListsTheTextValuesOfASection) {
    EXPECT_TRUE(store.GetAllSettings("Settings").empty()); // no file
    writeFile("[Settings]\ngamma=3\nalpha=1\nbeta=2\n"
              "[Hand]\nlist=a, b\nbytes=@ByteArray(xyz)\n"
              "[Binary]\nsize=@Size(1 2)\n");
    EXPECT_EQ(store.GetAllSettings("Settings"),
              (Rows{{"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}}));
    EXPECT_EQ(store.GetAllSettings("Hand"), (Rows{{"list", "a, b"}}));
    EXPECT_TRUE(store.GetAllSettings("Binary").empty());
    EXPECT_TRUE(store.GetAllSettings("Missing").empty());
    EXPECT_EQ(store.GetSetting("Hand", "list", "d"), "a, b");
    EXPECT_EQ(store.GetSetting("Hand", "bytes", "d"), "d");
}

TEST_F(Store, ChangesMadeElsewhereAreSeenAtTheNextCall) {
    ASSERT_TRUE(store.SaveSetting("Settings", "cboTimerL", "1"));
    EXPECT_EQ(store.GetSetting("Settings", "cboTimerL"), "1");

    cl_Kelvano other;
    other.setCompany(company);
    ASSERT_TRUE(other.SaveSetting("Settings", "cboTimerL", "2"));
    EXPECT_EQ(store.GetSetting("Settings", "cboTimerL"), "2");

    writeFile("[Settings]\ncboTimerL=3\n"); // same size as before
    EXPECT_EQ(store.GetSetting("Settings", "cboTimerL"), "3");
}

TEST(StoreNames, CompanyAndAppNameAreTrimmedOrReset) {
    const struct {
        QString set, expected;
    } cases[] = {{"", "Corvanta"}, {"  Acme  ", "Acme"}, {"   ", ""}, {"Acme Corp", "Acme Corp"}};
    for (const auto& c : cases) {
        cl_Kelvano store;
        store.setCompany(c.set);
        EXPECT_EQ(store.Company(), c.expected) << c.set.toStdString();
        store.setAppName(c.set);
        EXPECT_EQ(store.AppName(), c.expected == "Corvanta" ? "Kelvano" : c.expected);
    }
}

TEST(StoreNames, AnEmptyLevelStoresNothing) {
    cl_Kelvano store;
    store.setAppName("   ");
    EXPECT_FALSE(store.SaveSetting("Settings", "k", "v"));
    EXPECT_EQ(store.GetSetting("Settings", "k", "d"), "d");
    EXPECT_FALSE(store.DeleteSetting("Settings"));
    EXPECT_TRUE(store.GetAllSettings("Settings").empty());

    store.setAppName("Kelvano");
    store.setCompany("  Fresh Co  ");
    EXPECT_TRUE(store.SaveSetting("Settings", "k", "v")); // creates every level
    EXPECT_TRUE(QFile::exists(configHome->path() + "/Fresh Co/Kelvano.conf"));
}

// Lowers the largest file this process may write, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

// Makes a folder read-only for this process. Root ignores folder permissions, so a test running
// as root hands the folder to an unprivileged user and acts as that user meanwhile.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const QString& dir, const QString& file) : dir_(dir) {
        if (asRoot_) {
            chmod(QFile::encodeName(configHome->path()), 0711);
            for (const QString& path : {dir, file})
                EXPECT_EQ(chown(QFile::encodeName(path), kNobody, kNobody), 0);
            EXPECT_EQ(seteuid(kNobody), 0);
        }
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    ~ReadOnlyFolder() {
        QFile::setPermissions(dir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (asRoot_)
            seteuid(0);
    }

  private:
    static constexpr uid_t kNobody = 65534;
    const bool asRoot_ = geteuid() == 0;
    QString dir_;
};

TEST_F(Store, FailedSaveKeepsTheOldValueAndTheFile) {
    enum Obstacle { ReadOnly, DiskFull, FileIsAFolder };
    const QString old(300, u'o');
    const QString unsaved(600, u'n');
    for (Obstacle obstacle : {ReadOnly, DiskFull, FileIsAFolder}) {
        SCOPED_TRACE(int(obstacle));
        store.setCompany(company + QString::number(obstacle));
        QDir(dir()).removeRecursively();
        const bool hasOld = obstacle != FileIsAFolder;
        if (hasOld)
            ASSERT_TRUE(store.SaveSetting("Settings", "A1-1_value", old));
        else
            ASSERT_TRUE(QDir().mkpath(file()));
        const QByteArray before = bytes();
        const QString expected = hasOld ? old : QString("default");
        {
            std::unique_ptr<FileSizeLimit> limit;
            std::unique_ptr<ReadOnlyFolder> readOnly;
            if (obstacle == DiskFull)
                limit = std::make_unique<FileSizeLimit>(before.size() + 16);
            if (obstacle == ReadOnly)
                readOnly = std::make_unique<ReadOnlyFolder>(dir(), file());

            EXPECT_FALSE(store.SaveSetting("Settings", "A1-1_value", unsaved));
            if (obstacle == ReadOnly) { // deletes fail the same way
                EXPECT_FALSE(store.DeleteSetting("Settings", "A1-1_value"));
                EXPECT_FALSE(store.DeleteSetting("Settings"));
            }
            EXPECT_EQ(store.GetSetting("Settings", "A1-1_value", "default"), expected);
            EXPECT_EQ(bytes(), before);
        }
        if (!hasOld)
            QDir(file()).removeRecursively();

        // Once writing works again, the unsaved value does not come back with the next save.
        ASSERT_TRUE(store.SaveSetting("Settings", "B1-1_value", "next"));
        EXPECT_EQ(store.GetSetting("Settings", "A1-1_value", "default"), expected);
        EXPECT_EQ(onDisk("Settings/A1-1_value"), hasOld ? old : QString());
    }
}

} // namespace
