#include "cl_kelvano.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>

#include <memory>
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

// The settings file of one company and application, configured for one operation. Reads look at
// this file only, never at the organisation-wide or system-wide files that QSettings would
// otherwise fall back to. Writes go through a temporary file that is renamed over the old one (see
// commit() for the case where Qt renames an incomplete one). Null when Company or AppName is empty:
// such a path has an empty level and names no file of ours.
std::unique_ptr<QSettings> openStore(const QString& company, const QString& appName) {
    if (company.isEmpty() || appName.isEmpty())
        return nullptr;
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                company, appName);
    settings->setFallbacksEnabled(false);
    settings->setAtomicSyncRequired(true);
    return settings;
}

// The section as a QSettings group: "" for the application level, otherwise the section with
// empty levels dropped. Nothing when a non-empty section has no level left ("/"), which would
// otherwise silently address the whole application level.
std::optional<QString> groupOf(const QString& section) {
    if (section.isEmpty())
        return QString();
    const QString group = section.split(u'/', Qt::SkipEmptyParts).join(u'/');
    if (group.isEmpty())
        return std::nullopt;
    return group;
}

// Where the value of a section and key lives in the file. "*" and the empty key both mean the
// unnamed value, as an empty value name does in a registry. A name containing '/' cannot be the
// name of a value within one section ('/' separates levels in the file), so it has no address.
std::optional<QString> pathOf(const QString& section, const QString& key) {
    const std::optional<QString> group = groupOf(section);
    if (!group || key.contains(u'/'))
        return std::nullopt;
    const QString name = key.isEmpty() ? kUnnamed : key;
    return group->isEmpty() ? name : *group + u'/' + name;
}

// The text of a stored value. A line that QSettings reads as a list (text with unquoted commas,
// written by hand) gives its items joined with ", ". Values of other types (written by other
// programs through QSettings, e.g. "@ByteArray(...)") are not text.
std::optional<QString> textOf(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return value.toStringList().join(QStringLiteral(", "));
    default:
        return std::nullopt;
    }
}

struct Prior {
    QString path;
    bool existed;
    QVariant value;
};

// What the file held before a change: enough to undo the change in this process's shared copy of
// the file and to put the file itself back.
struct Before {
    std::vector<Prior> priors;
    bool fileExisted = false;
    QByteArray fileBytes;
};

// Records what the file holds at path and below it (removing a path in QSettings also removes the
// entries below it, so an undo must be able to put those back too). The whole file is parsed by
// this reading object, so that a malformed line is reported here and not mixed into the result of
// the later write. Nothing when the file exists but cannot be read: writing it would lose it.
std::optional<Before> readBefore(const QString& company, const QString& appName,
                                 const QString& path) {
    const auto reader = openStore(company, appName);
    if (!reader)
        return std::nullopt;
    reader->allKeys();
    if (reader->status() == QSettings::AccessError)
        return std::nullopt;
    Before before;
    QFile file(reader->fileName());
    before.fileExisted = file.exists();
    if (before.fileExisted) {
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        before.fileBytes = file.readAll();
    }
    before.priors.push_back({path, reader->contains(path), reader->value(path)});
    reader->beginGroup(path);
    const QStringList below = reader->allKeys();
    reader->endGroup();
    for (const QString& key : below) {
        const QString full = path + u'/' + key;
        before.priors.push_back({full, true, reader->value(full)});
    }
    return before;
}

void putBack(QSettings& settings, const std::vector<Prior>& priors) {
    for (const Prior& prior : priors) {
        if (!prior.existed)
            settings.remove(prior.path);
    }
    for (const Prior& prior : priors) {
        if (prior.existed)
            settings.setValue(prior.path, prior.value);
    }
}

// Whether the file on disk holds exactly what settings holds. The file is parsed from a private
// copy, since every QSettings on the file itself would answer from the copy in memory. False also
// when the check cannot be made.
bool fileHolds(const QSettings& settings) {
    QFile file(settings.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
        return false;
    const QSettings onDisk(copy.fileName(), QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    if (onDisk.allKeys() != keys)
        return false;
    for (const QString& key : keys) {
        if (onDisk.value(key) != settings.value(key))
            return false;
    }
    return true;
}

// Replaces the file with its earlier content, or removes it when there was none. The new content
// replaces the old only once it is completely written.
void restoreFile(const QString& fileName, const Before& before) {
    if (!before.fileExisted) {
        QFile::remove(fileName);
        return;
    }
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (file.write(before.fileBytes) != before.fileBytes.size() || !file.flush()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

// Writes the changes pending in writer to disk; true when the file now holds them.
//
// All QSettings objects of a process share one in-memory copy of each file. After a failed write
// the unwritten change stays in that copy: the next call would read it back, and the next
// successful write of any value would save it after all. So on failure the touched entries get
// their previous contents back in that copy, and the next call sees what the file really holds.
// (An entry that existed stays pending with its old content and is written again, unchanged, by
// the next write that succeeds.)
//
// QSettings writes a temporary file and renames it over the old one, but when the disk fills up
// (or a file size limit is hit) while that temporary file is being flushed, Qt 6.4 still renames
// the cut-off file into place and reports success. So the written file is read back and compared;
// if it is incomplete, the earlier content is put back.
bool commit(QSettings& writer, const Before& before) {
    writer.sync();
    bool written = writer.status() == QSettings::NoError;
    if (written && !fileHolds(writer)) {
        restoreFile(writer.fileName(), before);
        written = false;
    }
    if (!written)
        putBack(writer, before.priors);
    return written;
}

} // namespace

cl_Kelvano::cl_Kelvano() : company_(kDefaultCompany), appName_(kDefaultAppName) {}

void cl_Kelvano::setCompany(const QString& company) {
    company_ = company.isEmpty() ? kDefaultCompany : trimSpaces(company);
}

void cl_Kelvano::setAppName(const QString& appName) {
    appName_ = appName.isEmpty() ? kDefaultAppName : trimSpaces(appName);
}

QString cl_Kelvano::GetSetting(const QString& section, const QString& key,
                               const QString& defaultValue) const {
    try {
        const std::optional<QString> path = pathOf(section, key);
        const auto settings = openStore(company_, appName_);
        if (!path || !settings)
            return defaultValue;
        return textOf(settings->value(*path)).value_or(defaultValue);
    } catch (...) {
        return defaultValue;
    }
}

bool cl_Kelvano::SaveSetting(const QString& section, const QString& key, const QString& setting) {
    try {
        const std::optional<QString> path = pathOf(section, key);
        if (!path)
            return false;
        const std::optional<Before> before = readBefore(company_, appName_, *path);
        const auto writer = openStore(company_, appName_);
        if (!before || !writer)
            return false;
        writer->setValue(*path, setting);
        return commit(*writer, *before);
    } catch (...) {
        return false;
    }
}

bool cl_Kelvano::DeleteSetting(const QString& section, const QString& key) {
    try {
        if (key.isEmpty()) {
            // The whole section. The application level itself is never wiped.
            const std::optional<QString> group = groupOf(section);
            if (!group || group->isEmpty())
                return false;
            std::optional<Before> before = readBefore(company_, appName_, *group);
            const auto writer = openStore(company_, appName_);
            if (!before || !writer)
                return false;
            // The first entry is a value named like the section, one level up; it stays.
            before->priors.erase(before->priors.begin());
            if (before->priors.empty())
                return false;
            for (const Prior& prior : before->priors)
                writer->remove(prior.path);
            return commit(*writer, *before);
        }

        const std::optional<QString> path = pathOf(section, key);
        if (!path)
            return false;
        const std::optional<Before> before = readBefore(company_, appName_, *path);
        const auto writer = openStore(company_, appName_);
        if (!before || !writer || !before->priors.front().existed)
            return false;
        writer->remove(*path);
        // The entries of a subsection named like the value are not part of it.
        for (auto it = before->priors.begin() + 1; it != before->priors.end(); ++it)
            writer->setValue(it->path, it->value);
        return commit(*writer, *before);
    } catch (...) {
        return false;
    }
}

std::vector<std::pair<QString, QString>> cl_Kelvano::GetAllSettings(const QString& section) const {
    std::vector<std::pair<QString, QString>> rows;
    try {
        const std::optional<QString> group = groupOf(section);
        const auto settings = openStore(company_, appName_);
        if (!group || !settings)
            return rows;
        settings->beginGroup(*group);
        const QStringList names = settings->childKeys();
        for (const QString& name : names) {
            if (const std::optional<QString> text = textOf(settings->value(name)))
                rows.emplace_back(name == kUnnamed ? QString() : name, *text);
        }
    } catch (...) {
        rows.clear();
    }
    return rows;
}
