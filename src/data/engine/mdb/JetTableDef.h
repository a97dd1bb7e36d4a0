#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

namespace lumora::engine {

class JetFile;

// Jet's own type codes, as a table definition stores them.
enum class JetType : quint8 {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Numeric = 0x10, // Decimal
};

// One column of a table definition.
struct JetColumn
{
    QString name;
    QByteArray nameBytes;    // the name as stored (Jet 3: in the database's code page)
    quint8 type = 0;         // JetType
    quint16 number = 0;      // its bit in a row's null mask; deleted columns leave gaps
    quint16 varIndex = 0;    // its place among the variable-length columns
    quint16 fixedOffset = 0; // a fixed column's data, after the row's column count
    quint16 length = 0;      // bytes (a Jet 4 text column holds length / 2 characters)
    quint8 flags = 0;        // 0x01 fixed length, 0x02 may be Null
    quint8 extFlags = 0;     // Jet 4: 0x01 its text may be stored compressed
    quint8 precision = 0;    // Decimal
    quint8 scale = 0;        // Decimal
    bool fixed() const { return flags & 0x01; }
    // Bytes of a fixed column's data in a row (0 for Boolean, held in the null mask).
    int fixedSize() const;
};

// What a row written now holds, as the table definition has it: a row
// written before columns were added holds fewer.
struct JetRowShape
{
    int columns = 0;   // the column count: one null-mask bit each, deleted columns included
    int fixedSize = 0; // bytes of fixed-length data after the column count
    int varCount = 0;  // variable-length columns in the offset table
};

// One index as Access shows it, with the columns of the index it uses.
struct JetIndex
{
    QString name;
    quint8 type = 0;              // 1 primary key, 2 a relationship's foreign key, 0 any other
    std::vector<quint16> columns; // column numbers
};

// A table definition: its columns in column-number order, its indexes and
// where its pages are listed. Throws EngineError naming the table when a
// definition page is missing or does not hold what it claims.
struct JetTableDef
{
    quint32 page = 0;   // the definition's first page, which names the table's data pages
    quint32 rows = 0;   // as the definition counts them
    int maxColumns = 0; // the column count of a row written now
    int varColumns = 0; // how many columns are of variable length
    std::vector<JetColumn> columns;
    std::vector<JetIndex> indexes;
    quint32 usedPages = 0; // page-row of the map of its data pages
    quint32 freePages = 0; // page-row of the map of its data pages with room

    static JetTableDef read(const JetFile &db, quint32 page, const QString &table);
    JetRowShape rowShape() const;
    // The indexes `column` belongs to.
    std::vector<const JetIndex *> indexesOf(const JetColumn &column) const;
};

} // namespace lumora::engine
