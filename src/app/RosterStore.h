#pragma once

#include <QString>

struct DataSource;

// Values kept for one roster (a data file and a table in it) between runs,
// in the settings store beside the window's own keys, which it never
// touches: application "Lumora", section "Rosters/<id>", where <id> is
// derived from the file's path and the table's name. So the roster of
// D:/名单/高一.xls, table [一班] keeps its values whatever other rosters keep.
class RosterStore
{
public:
    RosterStore() = default;
    // file: the roster file's path (made absolute); table: "[name]".
    RosterStore(const QString &file, const QString &table);
    // The roster the DataSource names (an empty store when it names none).
    static RosterStore of(const DataSource &ds);

    bool isValid() const { return !m_id.isEmpty(); }
    QString file() const { return m_file; }
    QString table() const { return m_table; }
    // The section its values live in: "Rosters/" + 16 hexadecimal digits.
    QString section() const;

    bool contains(const QString &key) const;
    // The stored text, or defaultValue when the key is missing.
    QString value(const QString &key, const QString &defaultValue = QString()) const;
    // False when the store could not be written.
    bool setValue(const QString &key, const QString &value) const;

    friend bool operator==(const RosterStore &a, const RosterStore &b) { return a.m_id == b.m_id; }

private:
    QString m_file;
    QString m_table;
    QString m_id;
};
