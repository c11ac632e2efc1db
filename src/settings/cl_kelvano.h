// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <utility>
#include <vector>

// The per-user settings store. Values are texts addressed by a section and a
// key below Company and AppName, kept in the text file
// <config>/<Company>/<AppName>.conf ($XDG_CONFIG_HOME, default ~/.config, on
// Linux), one [section] per section. An empty section means the application
// level itself; a section "a/b" is the subsection b of a.
//
// Every call reads the file afresh, so a change made by another instance or
// process is seen at the next call. A change rewrites the whole file once: the
// new file replaces the old one in a single step, so that a crash or power cut
// leaves either the old file or the new one, never a mix. Values are only ever
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

  private:
    QString fileName() const;

    QString company_;
    QString appName_;
};
