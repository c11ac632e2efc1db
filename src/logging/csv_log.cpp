// SPDX-License-Identifier: GPL-3.0-or-later

#include "csv_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
} // namespace

QString CsvLog::folderFor(const QString& programFolder, const QString& documentsFolder) {
    const QFileInfo program(programFolder);
    return program.isDir() && program.isWritable() ? programFolder : documentsFolder;
}

QString CsvLog::defaultPath() {
    const QString folder =
        folderFor(QCoreApplication::applicationDirPath(),
                  QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    return QDir(folder).filePath(fileName());
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
    // Drop the zone letters (t) outside quoted text, then the blanks they leave.
    QString kept;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            kept += c;
    }
    return kept.simplified();
}

bool CsvLog::open(const QString& path) {
    close();
    rows_ = 0;
    size_ = 0;
    error_.clear();
    QDir().mkpath(QFileInfo(path).absolutePath());
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    if (!write(header())) {
        close();
        return false;
    }
    return true;
}

bool CsvLog::writeRow(const QDateTime& when, int16_t sensor1, int16_t sensor2) {
    const QLocale locale;
    const QByteArray row = rowText(
        locale.toString(when.date(), QLocale::ShortFormat),
        locale.toString(when.time(), withoutTimeZone(locale.timeFormat(QLocale::LongFormat))),
        sensor1, sensor2);
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

void CsvLog::close() {
    if (file_.isOpen())
        file_.close();
}
