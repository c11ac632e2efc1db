// SPDX-License-Identifier: GPL-3.0-or-later

#include "cl_kelvano.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

const QString kDefaultCompany = QStringLiteral("Corvanta");
const QString kDefaultAppName = QStringLiteral("Kelvano");
// The entry that holds a section's unnamed value.
const QString kUnnamed = QStringLiteral("*");

QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

// The section as a path prefix: "" for the application level, otherwise the section with empty
// levels dropped. Nothing when a non-empty section has no level left ("/"), which would otherwise
// silently address the whole application level.
std::optional<QString> groupOf(const QString& section) {
    if (section.isEmpty())
        return QString();
    const QString group = section.split(u'/', Qt::SkipEmptyParts).join(u'/');
    if (group.isEmpty())
        return std::nullopt;
    return group;
}

// Where the value of a section and key lives. "*" and the empty key both mean the unnamed value, as
// an empty value name does in a registry. A name containing '/' cannot be the name of a value
// within one section ('/' separates levels), so it has no address.
std::optional<QString> pathOf(const QString& section, const QString& key) {
    const std::optional<QString> group = groupOf(section);
    if (!group || key.contains(u'/'))
        return std::nullopt;
    const QString name = key.isEmpty() ? kUnnamed : key;
    return group->isEmpty() ? name : *group + u'/' + name;
}

// The file's values by path ("Settings/A1-1_value"; a value of the application level has no
// section part). Each value is kept as the text that stands for it in the file, so that a value
// this program does not read is written back exactly as it was.
using Entries = QMap<QString, QByteArray>;

// The file's form of a section or key name: '/' becomes '\', and every character but ASCII
// letters, digits, '_', '-' and '.' becomes %XX or %UXXXX.
QByteArray nameInFile(const QString& name) {
    QByteArray out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'/')
            out += '\\';
        else if (u < 0x80 && (c.isLetterOrNumber() || u == u'_' || u == u'-' || u == u'.'))
            out += char(u);
        else if (u <= 0xFF)
            out += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            out += "%U" + QByteArray::number(u, 16).toUpper().rightJustified(4, '0');
    }
    return out;
}

QString nameFromFile(const QByteArray& raw) {
    QString name;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%') {
            const bool wide = raw.mid(i + 1, 1) == "U";
            const QByteArray hex = raw.mid(i + 1 + wide, wide ? 4 : 2);
            bool ok = false;
            const uint code = hex.toUInt(&ok, 16);
            if (ok && hex.size() == (wide ? 4 : 2)) {
                name += QChar(char16_t(code));
                i += wide + hex.size();
                continue;
            }
        }
        name += raw[i] == '\\' ? QChar(u'/') : QChar::fromLatin1(raw[i]);
    }
    return name;
}

// The value of a hex digit, 99 for any other character.
int digitOf(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = char(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : 99;
}

// The file's form of a text value: in double quotes, with '"' and '\' escaped and control
// characters written as \xHH (a hex digit right after one is escaped too, since a reader takes
// every hex digit that follows \x). A leading '@' is doubled: a single one marks a value that is
// not plain text.
QByteArray valueInFile(const QString& text) {
    const QByteArray utf8 = (text.startsWith(u'@') ? "@" : "") + text.toUtf8();
    QByteArray out = "\"";
    bool afterHex = false;
    for (const char c : utf8) {
        afterHex = uchar(c) < 0x20 || (afterHex && digitOf(c) < 16);
        if (afterHex)
            out += "\\x" + QByteArray::number(uchar(c), 16);
        else
            out += (c == '"' || c == '\\') ? QByteArray(1, '\\') + c : QByteArray(1, c);
    }
    return out + '"';
}

// The text of a value in the file, or nothing when it is not plain text. Double quotes keep spaces
// and are dropped; a backslash escapes the character after it: \a \b \f \n \r \t \v as in C, \x
// with hex digits and \ with octal digits give the character of that code, any other character
// stands for itself. Nothing here allocates more than the raw text's length asks for.
std::optional<QString> textOf(const QByteArray& raw) {
    QByteArray bytes;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"')
            continue;
        if (c != '\\' || i + 1 == raw.size()) {
            bytes += c;
            continue;
        }
        const char e = raw[++i];
        const qsizetype named = QByteArrayView("abfnrtv").indexOf(e);
        const int base = e == 'x' ? 16 : digitOf(e) < 8 ? 8 : 0;
        if (named >= 0) {
            bytes += "\a\b\f\n\r\t\v"[named];
        } else if (base > 0) {
            char16_t code = 0;
            for (i += base / 16; i < raw.size() && digitOf(raw[i]) < base; ++i)
                code = char16_t(code * base + digitOf(raw[i]));
            --i;
            bytes += QString(QChar(code)).toUtf8();
        } else {
            bytes += e;
        }
    }
    const QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    if (text.startsWith(u'@'))
        return std::nullopt;
    return text;
}

// The path prefix of a section name in the file. "[General]" holds the application level;
// "[%General]" is how QSettings writes a section that is really called General.
QString sectionFromFile(const QByteArray& name) {
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return QString();
    const bool general = name.compare("%general", Qt::CaseInsensitive) == 0;
    return (general ? QStringLiteral("General") : nameFromFile(name)) + u'/';
}

// Lines "[section]" start a section ("General" is the application level); lines "name=value" are
// values; all other lines are ignored. Of two values with one path, the later one counts.
Entries parse(const QByteArray& bytes) {
    Entries entries;
    QString section;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype equals = line.indexOf('=');
        if (line.startsWith('[')) {
            section = sectionFromFile(line.mid(1, line.indexOf(']') - 1));
        } else if (equals > 0) {
            entries.insert(section + nameFromFile(line.left(equals).trimmed()),
                           line.mid(equals + 1).trimmed());
        }
    }
    return entries;
}

QByteArray serialize(const Entries& entries) {
    QMap<QString, QByteArray> sections; // the lines of each section
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section] += nameInFile(it.key().mid(slash + 1)) + '=' + it.value() + '\n';
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        QByteArray name = it.key().isEmpty() ? "General" : nameInFile(it.key());
        // A section that is really called "General" must not become the application level.
        if (!it.key().isEmpty() && name.compare("general", Qt::CaseInsensitive) == 0)
            name = "%" + QByteArray::number(name[0], 16) + name.mid(1);
        out += '[' + name + "]\n" + it.value() + '\n';
    }
    return out;
}

QString tooLarge() {
    return QStringLiteral("it is larger than 1 MB, so it cannot be Kelvano's settings and is left "
                          "as it is; move it away or delete it");
}

// The file's bytes: empty when there is no file; nothing, with the reason in error, when it cannot
// be read. A file too large to be the settings is not read at all, and the read is bounded in case
// the file grows meanwhile.
std::optional<QByteArray> contents(const QString& fileName, QString& error) {
    const QFileInfo info(fileName);
    if (fileName.isEmpty()) {
        error = QStringLiteral("no settings file: Company or AppName is empty");
        return std::nullopt;
    }
    if (!info.exists() && !info.isSymLink())
        return QByteArray();
    if (info.isDir()) {
        error = QStringLiteral("it is a folder, not a file");
        return std::nullopt;
    }
    if (!info.isFile()) {
        error = QStringLiteral("it is not a plain file");
        return std::nullopt;
    }
    if (info.size() > cl_Kelvano::maxFileSize) {
        error = tooLarge();
        return std::nullopt;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(cl_Kelvano::maxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() > cl_Kelvano::maxFileSize) {
        error = tooLarge();
        return std::nullopt;
    }
    return bytes;
}

// The entries of the file for a reader: none, with one line on standard error, when the file
// cannot be read.
Entries readEntries(const QString& fileName, QString& error) {
    if (fileName.isEmpty())
        return {};
    const std::optional<QByteArray> bytes = contents(fileName, error);
    if (!bytes) {
        std::fprintf(stderr, "kelvano: cannot read the settings file %s: %s. Using the defaults.\n",
                     qUtf8Printable(QDir::toNativeSeparators(fileName)), qUtf8Printable(error));
        return {};
    }
    return parse(*bytes);
}

// Every text value directly below group ("" for the application level), the unnamed one with an
// empty name.
cl_Kelvano::Values valuesOf(const Entries& entries, const QString& group) {
    cl_Kelvano::Values rows;
    const QString prefix = group.isEmpty() ? QString() : group + u'/';
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString name = it.key().mid(prefix.size());
        const std::optional<QString> text = textOf(it.value());
        if (it.key().startsWith(prefix) && !name.contains(u'/') && text)
            rows.emplace_back(name == kUnnamed ? QString() : name, *text);
    }
    return rows;
}

// A copy that a save leaves beside the file when it is killed between writing the copy and putting
// it in the file's place: the file's name, a dot and six random letters or digits. A user's own
// "Kelvano.conf.backup" has that form too, and is kept.
bool isLeftoverCopy(const QString& name, const QString& fileName) {
    const QString suffix = name.mid(fileName.size() + 1);
    if (name.size() != fileName.size() + 7 || !name.startsWith(fileName + u'.') ||
        suffix.compare(QLatin1String("backup"), Qt::CaseInsensitive) == 0)
        return false;
    for (const QChar c : suffix)
        if (c.unicode() > 0x7f || !c.isLetterOrNumber())
            return false;
    return true;
}

// Removes the copies that killed saves left and that no save still running can own: none takes
// ten minutes.
void removeLeftovers(const QString& fileName) {
    const QFileInfo file(fileName);
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-600);
    const QFileInfoList entries =
        file.dir().entryInfoList({file.fileName() + QStringLiteral(".??????")},
                                 QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (isLeftoverCopy(entry.fileName(), file.fileName()) &&
            entry.lastModified().toUTC() < cutoff)
            QFile::remove(entry.filePath());
    }
}

// Replaces the file with bytes in one step: the new content is written to a file of its own that
// then takes the old one's place, so the old file stays whole until the new one is complete.
bool writeFile(const QString& fileName, const QByteArray& bytes, QString& error) {
    QDir().mkpath(QFileInfo(fileName).path());
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = file.errorString();
    return false;
}

// Applies change to the file's values and writes the result as one new file. True when the file
// now holds exactly that; false, with the old file in place and the reason in error, when the
// file cannot be read or written. False with no reason when change finds nothing to do.
//
// When the disk fills up as the new file is flushed, the file that takes the old one's place can
// be cut short although every call reported success; its size tells, without reading it again.
// A umask can make the new file unreadable to its owner, and so lose the settings for good.
bool rewrite(const QString& fileName, const std::function<bool(Entries&)>& change, QString& error) {
    const bool existed = QFileInfo::exists(fileName);
    const std::optional<QByteArray> before = contents(fileName, error);
    if (!before)
        return false; // writing a file that cannot be read would lose it
    Entries entries = parse(*before);
    if (!change(entries))
        return false;
    const QByteArray after = serialize(entries);
    if (!writeFile(fileName, after, error))
        return false;
    const QFileInfo written(fileName);
    if (written.size() == after.size() && written.permission(QFileDevice::ReadOwner)) {
        removeLeftovers(fileName);
        return true;
    }
    error = written.size() == after.size()
                ? QStringLiteral("the new file could not be read by its owner (see the umask)")
                : QStringLiteral("the new file came out shorter than the settings (is the disk "
                                 "full?)");
    QString ignored;
    if (existed)
        writeFile(fileName, *before, ignored);
    else
        QFile::remove(fileName);
    return false;
}

} // namespace

cl_Kelvano::cl_Kelvano() : company_(kDefaultCompany), appName_(kDefaultAppName) {}

void cl_Kelvano::setCompany(const QString& company) {
    company_ = company.isEmpty() ? kDefaultCompany : trimSpaces(company);
}

void cl_Kelvano::setAppName(const QString& appName) {
    appName_ = appName.isEmpty() ? kDefaultAppName : trimSpaces(appName);
}

QString cl_Kelvano::fileName() const {
    if (company_.isEmpty() || appName_.isEmpty())
        return QString();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
           company_ + u'/' + appName_ + QLatin1String(".conf");
}

QString cl_Kelvano::GetSetting(const QString& section, const QString& key,
                               const QString& defaultValue) const {
    error_.clear();
    const std::optional<QString> path = pathOf(section, key);
    const Entries entries = readEntries(fileName(), error_);
    const auto it = path ? entries.constFind(*path) : entries.cend();
    if (it == entries.cend())
        return defaultValue;
    return textOf(*it).value_or(defaultValue);
}

bool cl_Kelvano::SaveSetting(const QString& section, const QString& key, const QString& setting) {
    return SaveSettings(section, {{key, setting}});
}

namespace {
// The file's form of the values, keyed by path; nothing when a key has no place in the section.
std::optional<Entries> changesOf(const QString& section, const cl_Kelvano::Values& values,
                                 QString& error) {
    Entries changes;
    for (const auto& [key, value] : values) {
        const std::optional<QString> path = pathOf(section, key);
        if (!path) {
            error =
                QStringLiteral("\"%1\" cannot be stored: a key holds no '/', a section no empty "
                               "level")
                    .arg(key);
            return std::nullopt;
        }
        changes.insert(*path, valueInFile(value));
    }
    return changes;
}
} // namespace

bool cl_Kelvano::SaveSettings(const QString& section, const Values& values) {
    return UpdateSettings(section, [&](const Values&) { return values; });
}

bool cl_Kelvano::UpdateSettings(const QString& section,
                                const std::function<Values(const Values& stored)>& make) {
    error_.clear();
    const std::optional<QString> group = groupOf(section);
    if (!group) {
        error_ = QStringLiteral("the section \"%1\" names no level").arg(section);
        return false;
    }
    return rewrite(
        fileName(),
        [&](Entries& entries) {
            const std::optional<Entries> changes =
                changesOf(section, make(valuesOf(entries, *group)), error_);
            if (changes)
                entries.insert(*changes);
            return changes.has_value();
        },
        error_);
}

bool cl_Kelvano::DeleteSetting(const QString& section, const QString& key) {
    error_.clear();
    if (!key.isEmpty()) {
        const std::optional<QString> path = pathOf(section, key);
        return path &&
               rewrite(
                   fileName(), [&](Entries& entries) { return entries.remove(*path); }, error_);
    }
    // The whole section. The application level itself is never wiped.
    const std::optional<QString> group = groupOf(section);
    if (!group || group->isEmpty())
        return false;
    return rewrite(
        fileName(),
        [&](Entries& entries) {
            return entries.removeIf([&](Entries::iterator entry) {
                return entry.key().startsWith(*group + u'/');
            }) > 0;
        },
        error_);
}

cl_Kelvano::Values cl_Kelvano::GetAllSettings(const QString& section) const {
    error_.clear();
    const std::optional<QString> group = groupOf(section);
    if (!group)
        return {};
    return valuesOf(readEntries(fileName(), error_), *group);
}
