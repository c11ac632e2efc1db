// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <functional>
#include <utility>
#include <vector>

// The per-user settings store. Values are texts addressed by a section and a
// key below Company and AppName, kept in the text file
// <config>/<Company>/<AppName>.conf ($XDG_CONFIG_HOME, default ~/.config, on
// Linux), one [section] per section. An empty section means the application
// level itself; a section "a/b" is the subsection b of a.
//
// Every call reads the file afresh, once, so a change made by another instance
// or process is seen at the next call. A change rewrites the whole file once:
// the new file replaces the old one in a single step, so that a crash or power
// cut leaves either the old file or the new one, never a mix. The copies that
// a save killed at that step leaves beside the file are removed by a later
// save once they are ten minutes old (a younger one may be another running
// copy's save in progress).
//
// A settings file is a few kB. A file larger than maxFileSize (a broken disk,
// a wrong file copied into place), a folder or anything else that is not a
// plain file in its place is not read: reads give their defaults, with one
// line on standard error, and changes fail without touching it. Values are only ever
// read as text: a value in the file that is not plain text (as other programs
// write "@Variant(...)" or "@ByteArray(...)") counts as not stored, and is
// written back unchanged by later changes.
//
// The key "*" (and, as in a registry, the empty key) stands for the section's
// unnamed value; it is kept under the entry name "*", which no other key can
// reach. A key containing '/' names no value of a section: reads give the
// default and writes fail. When Company or AppName is empty, nothing is read
// or written.
class cl_Kelvano {
  public:
    using Values = std::vector<std::pair<QString, QString>>;

    static constexpr qint64 maxFileSize = 1024 * 1024;

    cl_Kelvano();

    // Construction gives "Corvanta" and "Kelvano". Setting a text stores it
    // without leading and trailing spaces; setting the empty text gives the
    // construction value back (so "   " leaves the level empty).
    QString Company() const { return company_; }
    void setCompany(const QString& company);
    QString AppName() const { return appName_; }
    void setAppName(const QString& appName);

    // The stored text, or defaultValue when there is none. A value stored as
    // empty text is empty text.
    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    // True when the file on disk now holds the value; creates the folder and
    // file as needed. After a failure the old file stays as it was.
    bool SaveSetting(const QString& section, const QString& key, const QString& setting);
    // Saves several (key, value) pairs of one section in one rewrite of the
    // file: afterwards the file holds all of them, or, after a failure, none.
    bool SaveSettings(const QString& section, const Values& values);
    // With a key: deletes that value. Without one: deletes the whole section
    // with its subsections (never the application level). True when something
    // was deleted and the file on disk no longer holds it.
    bool DeleteSetting(const QString& section, const QString& key = QString());
    // Every text value directly in the section as (name, value) rows, sorted
    // by name; empty when there is none. The unnamed value is reported with an
    // empty name.
    Values GetAllSettings(const QString& section) const;
    // Reads the file once, asks make for the values to save given the
    // section's stored values (as GetAllSettings lists them), and saves them
    // as SaveSettings does. make is not called when the file cannot be read.
    bool UpdateSettings(const QString& section,
                        const std::function<Values(const Values& stored)>& make);

    // The settings file; empty when Company or AppName is empty.
    QString fileName() const;
    // Why the last call failed, in words for the user ("Permission denied");
    // empty when it did not fail or failed only because there was nothing to
    // delete.
    QString errorString() const { return error_; }

  private:
    QString company_;
    QString appName_;
    mutable QString error_;
};
