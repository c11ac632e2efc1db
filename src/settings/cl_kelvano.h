#pragma once

#include <QString>
#include <utility>
#include <vector>

// The per-user settings store. Values are texts addressed by a section and a
// key below Company and AppName; on Linux the file is
// $XDG_CONFIG_HOME/<Company>/<AppName>.conf (default ~/.config), and each
// section is a group of it. An empty section means the application level
// itself; a section "a/b" is the subsection b of a.
//
// Every call opens the file, does one job and lets go of it again, so a change
// made by another instance or process is seen at the next call. The key "*"
// (and, as in a registry, the empty key) stands for the section's unnamed
// value; it is kept under the entry name "*", which no other key can reach. A
// key containing '/' names no value of a section: reads give the default and
// writes fail. When Company or AppName is empty, nothing is read or written.
// No operation throws; failures show only in the results.
class cl_Kelvano {
  public:
    cl_Kelvano();

    // Construction gives "Corvanta" and "Kelvano". Setting a text stores it
    // without leading and trailing spaces; setting the empty text gives the
    // construction value back (so "   " leaves the level empty).
    QString Company() const { return company_; }
    void setCompany(const QString& company);
    QString AppName() const { return appName_; }
    void setAppName(const QString& appName);

    // The stored text, or defaultValue when there is none. A value stored as
    // empty text is empty text. A hand-written line that holds a list gives its
    // items joined with ", "; a value that is not text gives defaultValue.
    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    // True when the file on disk now holds the value; creates the folder and
    // file as needed. After a failure the old value stays, on disk and for the
    // following calls, and the file is never left half-written.
    bool SaveSetting(const QString& section, const QString& key, const QString& setting);
    // With a key: deletes that value. Without one: deletes the whole section
    // with its subsections (never the application level). True when something
    // was deleted and the file on disk no longer holds it.
    bool DeleteSetting(const QString& section, const QString& key = QString());
    // Every text value directly in the section as (name, value) rows, in the
    // store's order (sorted by name); empty when there is none. The unnamed
    // value is reported with an empty name.
    std::vector<std::pair<QString, QString>> GetAllSettings(const QString& section) const;

  private:
    QString company_;
    QString appName_;
};
