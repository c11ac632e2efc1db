// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>
#include <QStringList>
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

    // Where the log goes: the program's own folder when the program runs
    // from a folder of its own (a build folder, a copied folder) that the
    // user may write; the documents folder when it runs from one of the
    // installedFolders, where a log does not belong even when it may be
    // written (as root).
    static QString folderFor(const QString& programFolder, const QString& documentsFolder,
                             const QStringList& installedFolders);
    // The folder the program is installed into, and the system's own
    // program folders.
    static QStringList installedFolders();
    static QString defaultPath();

    // The name a previous run's file is kept under: its name with the time
    // of its last change, and a counter from 2 on when that name is taken,
    // e.g. KelvanoLog-2026-12-05_074847.csv, KelvanoLog-2026-12-05_074847-2.csv.
    static QString keptName(const QString& path, const QDateTime& changed, int counter);
    // Renames a file at path that holds rows (more than the header) to its
    // kept name before a new run empties it. Returns false, with the reason, when the rename fails;
    // the file is then as it was. keptAs gets the new path, or stays empty
    // when there was nothing to keep.
    static bool keepPrevious(const QString& path, QString* keptAs, QString* error);

    // One row: the date and the time as the locale writes them (quoted when
    // they hold a comma or a quote), sensor 1 bare, sensor 2 with a sign
    // position before it and a space after it.
    static QByteArray rowText(const QString& date, const QString& time, int16_t sensor1,
                              int16_t sensor2);
    // A time format without its time-zone field and the separator that
    // joined it to the rest.
    static QString withoutTimeZone(const QString& format);
    // A date format with a four-digit year, the locale's order and
    // separators kept.
    static QString withFullYear(const QString& format);
    // The formats a row's date and time are written in under the given
    // locale: its short date with a four-digit year, its long time without
    // the zone.
    static QString dateFormat(const QLocale& locale);
    static QString timeFormat(const QLocale& locale);

    enum class Mode { Create, Append };
    // Closes what is open, then creates (or empties) the file, or opens it
    // for appending. On failure the reason is in errorString() and no file
    // is open.
    bool open(const QString& path, Mode mode);
    // Writes to the program's standard output instead of a file; the log
    // must be closed.
    bool openStandardOutput();
    bool writeHeader() { return write(header()); }
    // Writes one row for the given moment in the default locale's formats:
    // date and time come from the same reading of the clock, so a row made
    // at midnight never pairs one day's date with the next day's time.
    bool writeRow(const QDateTime& when, int16_t sensor1, int16_t sensor2);
    void close();
    // Whether the path still names the open file: false once the file was
    // removed, renamed or replaced by another one. Only for an open file.
    bool stillAtPath() const;

    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }
    qint64 size() const { return size_; }
    // Rows written since the file was opened.
    int rows() const { return rows_; }
    QString errorString() const { return error_; }
    // Whether the last write failed because nothing reads the pipe or socket
    // written to any more (standard output's reader has exited).
    bool readerGone() const { return readerGone_; }

  private:
    bool write(const QByteArray& line);

    QFile file_;
    // The open file's identity on its device and its path as the system names it, taken at
    // opening, so that a row costs one look at the path.
    QByteArray systemPath_;
    quint64 device_ = 0, inode_ = 0;
    qint64 size_ = 0; // bytes of whole lines in the file
    int rows_ = 0;
    QString error_;
    bool readerGone_ = false;
};
