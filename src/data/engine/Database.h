#pragma once

#include "data/engine/TableSource.h"

#include <QList>
#include <QString>
#include <map>
#include <memory>

namespace lumora::engine {

// The materialised result of a select. Rows are held in memory; a roster of
// tens of thousands of rows fits comfortably.
class Recordset
{
public:
    const QList<FieldInfo> &fields() const { return m_fields; }
    qsizetype size() const { return m_rows.size(); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    const QList<Value> &row(qsizetype i) const { return m_rows.at(i); }
    const Value &value(qsizetype row, int field) const { return m_rows.at(row).at(field); }

    // For a column whose expression joins values with "&": the text of each
    // operand, in order, with the Chr(9) separators left out. A value that
    // holds a tab therefore stays one part. Empty for other columns.
    QStringList parts(qsizetype row, int field) const;

    // Filled by the executor.
    QList<FieldInfo> m_fields;
    QList<QList<Value>> m_rows;
    QList<QList<QStringList>> m_parts;  // [row][field], empty when not a join
};

// A data file opened with a connect string, as the program's statements see
// it: "Excel 8.0", "" (Access), "FOXPro3.0" or "dBASE IV". Every method
// throws EngineError with a clear message; nothing crashes on a bad file.
class Database
{
public:
    static std::unique_ptr<Database> open(const QString &path, const QString &connect);
    // A database over a backend made elsewhere (an in-memory one in tests).
    static std::unique_ptr<Database> fromBackend(std::unique_ptr<Backend> backend);
    ~Database();

    QStringList tableNames() const;
    QList<FieldInfo> fields(const QString &table) const;
    // A bare table name (brackets allowed) or a select statement.
    Recordset openRecordset(const QString &tableOrStatement);
    // An update statement; returns the number of records changed.
    qsizetype execute(const QString &statement);

private:
    explicit Database(std::unique_ptr<Backend> backend);
    // The table of that name (ignoring case), opened once per database.
    // Throws EngineError for an unknown table, with the statement position
    // when offset is not negative.
    TableSource &table(const QString &name, int offset = -1) const;

    std::unique_ptr<Backend> m_backend;
    mutable std::map<QString, std::unique_ptr<TableSource>> m_tables; // by case-folded name
};

} // namespace lumora::engine
