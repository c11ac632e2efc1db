// SPDX-License-Identifier: GPL-3.0-or-later

#include "settings/cl_kelvano.h"

#include <gtest/gtest.h>

#include <QtCore>

#include <csignal>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Values = cl_Kelvano::Values;

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

// The file reads and writes as QSettings (used by earlier builds) does.
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

// Values that are not plain text count as not stored and are kept as they were.
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
    for (const char* key : {"v0", "v1"})
        EXPECT_EQ(store.GetSetting("Settings", key, "default"), "default") << key;
    EXPECT_EQ(store.GetAllSettings("Settings"), Values({{"kept", QString(100000, ',') + 'A'}}));
    ASSERT_TRUE(store.SaveSetting("Settings", "new", "1"));
    EXPECT_EQ(bytes(), text.insert(text.indexOf("v0="), "new=\"1\"\n") + '\n');
}

// Too large: neither read (defaults, one line on stderr) nor replaced. (A folder in its place:
// test_settings_flows.)
TEST_F(Store, TooLargeOrNotAFileIsNeitherReadNorWritten) {
    const QByteArray text = "[Settings]\nk=\"v\"\n";
    const QByteArray padding =
        '#' + QByteArray(cl_Kelvano::maxFileSize - text.size() - 2, ' ') + '\n';
    const std::tuple<const char*, QByteArray, const char*> cases[] = {
        {"1 MB", text + padding, nullptr},
        {"1 MB and a byte", text + ' ' + padding, "it is larger than 1 MB"}};
    for (const auto& [name, written, reason] : cases) {
        SCOPED_TRACE(name);
        use(name);
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(written) > 0);
        f.close();
        ::testing::internal::CaptureStderr();
        const QString value = store.GetSetting("Settings", "k", "default");
        const QString error = QString::fromStdString(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(value, reason ? "default" : "v");
        if (reason) // one line
            EXPECT_TRUE(error.startsWith("kelvano: cannot read the settings file " + file() + ": " +
                                         reason) &&
                        error.indexOf(u'\n') == error.size() - 1)
                << qPrintable(error);
        else
            EXPECT_EQ(error, "");
        EXPECT_EQ(store.SaveSetting("Settings", "k", "new"), !reason);
        EXPECT_EQ(store.DeleteSetting("Settings"), !reason);
        EXPECT_TRUE(reason ? store.errorString().startsWith(reason) : store.errorString().isEmpty())
            << qPrintable(store.errorString());
        EXPECT_EQ(bytes(), reason ? written : "");
    }
}

// Killed saves' copies go at the next successful save once ten minutes old; nothing else does.
TEST_F(Store, OldCopiesOfKilledSavesAreRemoved) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::tuple<const char*, int, bool> files[] = {
        // name, minutes old, kept
        {"Kelvano.conf.aBcxYz", 11, false}, {"Kelvano.conf.XXXXXX", 60, false},
        {"Kelvano.conf.QzeLmw", 9, true},   {"Kelvano.conf.Backup", 60, true},
        {"Kelvano.conf.a_b-c.", 60, true},  {"Kelvano.conf.aBcxYzW", 60, true},
        {"Other.conf.aBcxYz", 60, true}};
    for (const auto& [name, minutesOld, kept] : files) {
        QFile copy(folder() + u'/' + name);
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        ASSERT_TRUE(copy.setFileTime(now.addSecs(-60 * minutesOld), QFile::FileModificationTime));
    }
    const auto left = [&] {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(u' ');
    };
    const QString all = left();
    EXPECT_FALSE(store.DeleteSetting("Settings", "k")); // nothing to delete: no save
    EXPECT_EQ(left(), all);
    ASSERT_TRUE(store.SaveSetting("Settings", "k", "v"));
    QStringList kept{"Kelvano.conf"};
    for (const auto& [name, minutesOld, left] : files)
        if (left)
            kept << name;
    kept.sort();
    EXPECT_EQ(left(), kept.join(u' '));
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

// A failed change leaves the file as it was and no stray file (root acts as nobody here).
TEST_F(Store, FailedChangeKeepsTheOldFile) {
    chmod(QFile::encodeName(configHome.path()), 0711);
    const std::tuple<const char*, mode_t, mode_t, mode_t> cases[] = {
        // folder, file, umask
        {"read-only-folder", 0555, 0666, 022},
        {"unreadable-file", 0777, 0222, 022},
        {"written-file-unreadable", 0777, 0, 0477}};
    for (const auto& [name, folderMode, fileMode, mask] : cases) {
        SCOPED_TRACE(name);
        use(name);
        ASSERT_TRUE(!fileMode || store.SaveSetting("Settings", "A1-1_value", "old"));
        const QByteArray before = bytes();
        chmod(QFile::encodeName(file()), fileMode);
        chmod(QFile::encodeName(folder()), folderMode);
        umask(mask);
        ASSERT_EQ(getuid() == 0 ? seteuid(65534) : 0, 0);
        EXPECT_FALSE(store.SaveSettings("Settings", {{"A1-1_value", "new"}, {"B", "new"}}));
        EXPECT_FALSE(store.errorString().isEmpty());
        EXPECT_EQ(store.DeleteSetting("Settings", "A1-1_value"), false);
        ASSERT_EQ(getuid() == 0 ? seteuid(0) : 0, 0);
        umask(022);
        chmod(QFile::encodeName(folder()), 0755);
        chmod(QFile::encodeName(file()), 0644);
        EXPECT_EQ(bytes(), before);
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), fileMode ? 1 : 0);
    }
}

// Killed saves and deletes leave all values old or all new, and no copy in TMPDIR: the child
// saves, saves other values and deletes them, and is killed after each of its system calls in
// turn (traced, it stops at each one's entry and exit), until it gets through them all.
TEST_F(Store, KilledSavesAreWholeOrNotAtAll) {
    const QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    Values a, b;
    for (int n = 10; n < 31; ++n) {
        a.emplace_back(QStringLiteral("key%1").arg(n), QStringLiteral("a%1").arg(n));
        b.emplace_back(a.back().first, QStringLiteral("b%1").arg(n));
    }
    ASSERT_TRUE(store.SaveSetting("Other", "kept", "1")); // a torn file loses it
    bool finished = false;
    int point = 0;
    for (; !finished; ++point) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
                _exit(3);
            raise(SIGSTOP);
            store.SaveSettings("Settings", a);
            store.SaveSettings("Settings", b);
            store.DeleteSetting("Settings");
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSTOPPED(status)) << "the saving process cannot be traced";
        // From its stop before the first call to the exit of call number point.
        for (int stop = 0; stop < 2 * point && !finished; ++stop) {
            ptrace(PTRACE_SYSCALL, child, nullptr, nullptr);
            finished = waitpid(child, &status, 0) != child || WIFEXITED(status);
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const Values now = store.GetAllSettings("Settings");
        ASSERT_TRUE((now.empty() || now == a || now == b) &&
                    store.GetSetting("Other", "kept") == "1")
            << "killed after call " << point;
    }
    EXPECT_GT(point, 20); // the saves made system calls
    EXPECT_TRUE(QDir(tmp.path()).isEmpty());
}

} // namespace
