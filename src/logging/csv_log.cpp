// SPDX-License-Identifier: GPL-3.0-or-later

#include "csv_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// A field as a CSV reader takes it: quoted, with its quotes doubled, when it
// holds a separator, a quote or a line break.
QString csvField(const QString& text) {
    static const QString special = QStringLiteral(",\"\r\n");
    for (QChar c : text) {
        if (special.contains(c)) {
            QString quoted = text;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            return QLatin1Char('"') + quoted + QLatin1Char('"');
        }
    }
    return text;
}

// A folder as the file system names it, links resolved, so that /bin and
// /usr/bin (one folder on most systems today) compare equal.
QString canonicalFolder(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

// What a removed time-zone field leaves around it: the blank and the comma
// that joined it to the time, or the brackets around it. A full stop is
// kept, since it ends an abbreviation such as the Bulgarian "ч.".
bool zoneSeparator(QChar c) {
    return c.isSpace() || QStringLiteral(",;()[]-/").contains(c);
}
// A file with no row (empty, or a header alone) holds nothing worth keeping.
bool holdsRows(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) &&
           !CsvLog::header().startsWith(file.read(CsvLog::header().size() + 1));
}
} // namespace

QStringList CsvLog::installedFolders() {
    return {QStringLiteral(KELVANO_INSTALL_BINDIR),
            QStringLiteral("/usr/bin"),
            QStringLiteral("/usr/local/bin"),
            QStringLiteral("/bin"),
            QStringLiteral("/usr/games"),
            QStringLiteral("/usr/local/games"),
            QStringLiteral("/usr/sbin"),
            QStringLiteral("/sbin")};
}

QString CsvLog::folderFor(const QString& programFolder, const QString& documentsFolder,
                          const QStringList& installedFolders) {
    const QString program = canonicalFolder(programFolder);
    for (const QString& installed : installedFolders)
        if (canonicalFolder(installed) == program)
            return documentsFolder;
    const QFileInfo info(programFolder);
    return info.isDir() && info.isWritable() ? programFolder : documentsFolder;
}

QString CsvLog::defaultPath() {
    const QString folder = folderFor(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), installedFolders());
    return QDir(folder).filePath(fileName());
}

QString CsvLog::keptName(const QString& path, const QDateTime& changed, int counter) {
    const QFileInfo info(path);
    QString name = info.completeBaseName() + QLatin1Char('-') +
                   changed.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    if (counter > 1)
        name += QLatin1Char('-') + QString::number(counter);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return info.dir().filePath(name);
}

bool CsvLog::keepPrevious(const QString& path, QString* keptAs, QString* error) {
    keptAs->clear();
    const QFileInfo info(path);
    if (!info.isFile() || !holdsRows(path))
        return true;
    QString target;
    for (int counter = 1; QFileInfo::exists(target = keptName(path, info.lastModified(), counter));
         ++counter) {
    }
    QFile file(path);
    if (!file.rename(target)) {
        *error = file.errorString();
        return false;
    }
    *keptAs = target;
    return true;
}

QByteArray CsvLog::rowText(const QString& date, const QString& time, int16_t sensor1,
                           int16_t sensor2) {
    const QString sign = sensor2 < 0 ? QString() : QStringLiteral(" ");
    return (csvField(date) + QLatin1Char(',') + csvField(time) + QLatin1Char(',') +
            QString::number(sensor1) + QLatin1Char(',') + sign + QString::number(sensor2) +
            QLatin1String(" \r\n"))
        .toUtf8();
}

QString CsvLog::withoutTimeZone(const QString& format) {
    // Drop the zone letters (t) outside quoted text.
    QString kept;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            kept += c;
    }
    if (kept.size() == format.size())
        return format;
    // Then what joined the zone to the time, at either end, and doubled blanks.
    qsizetype begin = 0;
    qsizetype end = kept.size();
    while (begin < end && zoneSeparator(kept.at(begin)))
        ++begin;
    while (end > begin && zoneSeparator(kept.at(end - 1)))
        --end;
    return kept.mid(begin, end - begin).simplified();
}

QString CsvLog::withFullYear(const QString& format) {
    // A two-letter year (yy) outside quoted text becomes yyyy.
    QString full;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('y')) {
            full += c;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format.at(i + run) == c)
            ++run;
        full += QString(run == 2 ? 4 : run, c);
        i += run - 1;
    }
    return full;
}

QString CsvLog::dateFormat(const QLocale& locale) {
    return withFullYear(locale.dateFormat(QLocale::ShortFormat));
}

QString CsvLog::timeFormat(const QLocale& locale) {
    return withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

bool CsvLog::open(const QString& path, Mode mode) {
    close();
    rows_ = 0;
    size_ = 0;
    error_.clear();
    QDir().mkpath(QFileInfo(path).absolutePath());
    file_.setFileName(path);
    const QIODevice::OpenMode how = mode == Mode::Create ? QIODevice::Truncate : QIODevice::Append;
    if (!file_.open(QIODevice::WriteOnly | how | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    size_ = file_.size();
#ifdef Q_OS_UNIX
    struct stat opened {};
    ::fstat(file_.handle(), &opened);
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
    systemPath_ = QFile::encodeName(path);
#endif
    return true;
}

bool CsvLog::openStandardOutput() {
    rows_ = 0;
    size_ = 0;
    error_.clear();
    file_.setFileName(QString());
    if (!file_.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered,
                    QFileDevice::DontCloseHandle)) {
        error_ = file_.errorString();
        return false;
    }
    return true;
}

bool CsvLog::writeRow(const QDateTime& when, int16_t sensor1, int16_t sensor2) {
    const QLocale locale;
    const QByteArray row =
        rowText(locale.toString(when.date(), dateFormat(locale)),
                locale.toString(when.time(), timeFormat(locale)), sensor1, sensor2);
    if (!write(row))
        return false;
    ++rows_;
    return true;
}

bool CsvLog::write(const QByteArray& line) {
    if (!file_.isOpen()) {
        error_ = QCoreApplication::translate("CsvLog", "the file is not open");
        return false;
    }
    for (qint64 done = 0; done < line.size();) {
        const qint64 n = file_.write(line.constData() + done, line.size() - done);
        if (n <= 0) {
            readerGone_ = errno == EPIPE;
            error_ = file_.errorString();
            // Leave no half line behind.
            file_.resize(size_);
            return false;
        }
        done += n;
    }
    size_ += line.size();
    return true;
}

bool CsvLog::stillAtPath() const {
#ifdef Q_OS_UNIX
    struct stat named {};
    return ::stat(systemPath_.constData(), &named) == 0 && quint64(named.st_dev) == device_ &&
           quint64(named.st_ino) == inode_;
#else
    // Elsewhere a file open for writing can be neither removed nor replaced.
    return QFileInfo::exists(file_.fileName());
#endif
}

void CsvLog::close() {
    if (file_.isOpen())
        file_.close();
}
