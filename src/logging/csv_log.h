// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>
#include <cstdint>

// The file of one logging run: a header line, then one row per interval with
// the date, the time and both sensors' shown values. Every row goes to the
// operating system in one write as soon as it is made, so a crash or a kill
// loses nothing that was written; a failed write leaves the file ending with
// its last whole row.
class CsvLog {
  public:
    static QString fileName() { return QStringLiteral("KelvanoLog.csv"); }
    static QByteArray header() { return QByteArrayLiteral("Date,Time,Sensor1,Sensor2,\r\n"); }

    // Where the log goes: the program's own folder when the user may write
    // there, otherwise the documents folder.
    static QString folderFor(const QString& programFolder, const QString& documentsFolder);
    static QString defaultPath();

    // One row: the date and the time as the locale writes them (quoted when
    // they hold a comma or a quote), sensor 1 bare, sensor 2 with a sign
    // position before it and a space after it.
    static QByteArray rowText(const QString& date, const QString& time, int16_t sensor1,
                              int16_t sensor2);
    // A time format without its time-zone field.
    static QString withoutTimeZone(const QString& format);

    // Creates the file, or empties it, and writes the header. On failure the
    // reason is in errorString() and no file is open.
    bool open(const QString& path);
    // Writes one row for the given moment in the default locale's formats:
    // date and time come from the same reading of the clock, so a row made
    // at midnight never pairs one day's date with the next day's time.
    bool writeRow(const QDateTime& when, int16_t sensor1, int16_t sensor2);
    void close();

    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }
    int rows() const { return rows_; }
    QString errorString() const { return error_; }

  private:
    bool write(const QByteArray& line);

    QFile file_;
    qint64 size_ = 0; // bytes of whole lines in the file
    int rows_ = 0;
    QString error_;
};
