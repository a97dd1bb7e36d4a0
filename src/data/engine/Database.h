#pragma once

#include "data/engine/Recordset.h"
#include "data/engine/TableSource.h"

#include <QList>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace lumora::engine {

struct SqlExpr;
struct SqlSelect;

// What an update statement matched and whether it wrote.
struct UpdateResult
{
    QList<qsizetype> records; // the matched records, in file order
    bool written = false;     // false: the statement was held back, nothing changed
    qsizetype matched() const { return records.size(); }
};

// What a grid shows of a table: its fields and, for each record a where
// clause accepts, the texts of its fields packed as PackedTexts (trailing
// empty texts left out, so a record of empty fields is a null string), with
// the record each row came from.
struct TableTexts
{
    QList<FieldInfo> fields;
    QList<QString> rows;
    QList<qsizetype> records;
};

// A data file opened with a connect string, as the program's statements see
// it: "Excel 8.0", "" (Access), "FOXPro3.0", "dBASE IV" or "Text" (a
// delimited text file, options after ';': "Text;charset=GBK"). Every method
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
    // What the table's backend noted while opening it (see TableSource::notes).
    QList<EngineNote> notes(const QString &table) const;
    // A bare table name (brackets allowed) or a select statement.
    Recordset openRecordset(const QString &tableOrStatement);
    // The same select looked at one record of its table only (numbered from
    // 0 over the live records, as UpdateResult::records gives them): one row
    // when the record passes the where clause, none when it does not.
    Recordset openRecordset(const QString &statement, qsizetype record);
    // The texts of the records first..last - 1 (to the end when last is
    // negative) that `whereClause` (" where ..." or empty, as a select
    // statement of the table would end) accepts. A field's text is what a
    // select joining it with "&" makes of it.
    TableTexts readTexts(const QString &table, const QString &whereClause, qsizetype first = 0,
                         qsizetype last = -1);
    // Throws, writing nothing, exactly when an update would refuse `value`
    // for that field of the table (its width, type, code page ...); checks
    // nothing in a table without records.
    void checkValue(const QString &table, int field, const Value &value) const;
    // An update statement; returns the number of records changed.
    qsizetype execute(const QString &statement);
    // An update statement that writes only when its where clause matches
    // exactly `expected` records; otherwise nothing is written and the
    // result tells how many matched.
    UpdateResult executeIfMatches(const QString &statement, qsizetype expected);

private:
    explicit Database(std::unique_ptr<Backend> backend);
    // The table of that name (the exact spelling, else the only one that
    // differs in letter case), opened once per database. Throws EngineError
    // for an unknown or ambiguous name, with the statement position when
    // offset is not negative.
    TableSource &table(const QString &name, int offset = -1) const;
    // A recordset is made in one of three ways. readTable: every record of
    // a table, as the file holds it. selectJoins: a select whose every
    // column joins values with "&" (the grid's loading query), keeping the
    // parts and joining them when read. selectRows: any other select,
    // "distinct" included. runSelect parses a select and picks one of the
    // two, over the records first..last - 1 (to the end when last < 0).
    struct Records
    {
        qsizetype first = 0;
        qsizetype end = 0; // one past the last
    };
    Recordset readTable(const QString &name) const;
    Recordset runSelect(const QString &statement, qsizetype first, qsizetype last);
    static Recordset selectJoins(const SqlSelect &select, const TableSource &source, Records records);
    static Recordset selectRows(const SqlSelect &select, const TableSource &source, Records records);
    UpdateResult runUpdate(const QString &statement, qsizetype expected);
    UpdateResult runUpdateOnce(const QString &statement, qsizetype expected);
    // Opens the file again, after another program changed it.
    void reopen();
    // The records an update's where clause can pick, found through an index
    // of one text field it compares with "=", or nothing when it has no such
    // comparison or the table cannot say whether that field is still what
    // the index was made from (TableSource::fieldBytes). A superset: every
    // candidate is still tested against the where clause.
    std::optional<QList<qsizetype>> indexedCandidates(const TableSource &source, const SqlExpr &where);

    // Records by the hash of one text field's value (its letter case folded
    // as "=" folds it), valid while the field's bytes are `bytes`.
    struct KeyIndex
    {
        int field = -1;
        QByteArray bytes;
        std::vector<std::pair<size_t, qsizetype>> records; // sorted
    };

    std::unique_ptr<Backend> m_backend;
    QString m_path, m_connect; // empty for a database over a backend made elsewhere
    mutable std::map<QString, std::unique_ptr<TableSource>> m_tables; // by the backend's spelling
    std::map<QString, KeyIndex> m_keyIndexes;                         // by the backend's spelling
};

} // namespace lumora::engine
