#pragma once

#include "data/engine/PackedTexts.h"
#include "data/engine/TableSource.h"

#include <QList>
#include <QStringList>
#include <vector>

namespace lumora::engine {

// The materialised result of a select: fields, then rows of values, e.g.
// value(0, 1) is the second field of the first row. Rows are held in memory,
// sparsely: a row costs its values that are not Null and eight bytes, so a
// sheet of four cells spanning A1:IV65536 is four values, not sixteen
// million Nulls, and a roster of tens of thousands of rows fits comfortably.
//
// When every column of a select joins values with "&" (the grid's loading
// query), only the parts are kept and a record's joined text is built the
// first time value() or row() asks for it: the grid wants the parts, and
// building 50,000 joined texts nobody reads costs as much as the parts do.
// That cache makes the const readers write, so one recordset must not be
// read from two threads at once. The parts of a row are packed into one
// string (see PackedTexts), a cell costing its characters and four bytes;
// the empty parts at a row's end are not kept, and a row of empty parts is
// the null string.
class Recordset
{
public:
    Recordset() = default;
    explicit Recordset(QList<FieldInfo> fields)
        : m_fields(std::move(fields))
    {
    }

    const QList<FieldInfo> &fields() const { return m_fields; }
    qsizetype size() const { return m_tabs.isEmpty() ? qsizetype(m_rowEnds.size()) : m_packed.size(); }
    bool isEmpty() const { return size() == 0; }
    // Row i, one value per field, built when asked for (and not kept).
    QList<Value> row(qsizetype i) const;
    const Value &value(qsizetype row, int field) const;

    // For a column whose expression joins values with "&": the text of each
    // operand, in order, with the Chr(9) separators left out. A value that
    // holds a tab therefore stays one part. Empty for other columns.
    QStringList parts(qsizetype row, int field) const;
    // Whether this is a lazily joined result whose only column is a join:
    // packedParts() then gives every row's parts.
    bool packsParts() const { return m_tabs.size() == 1; }
    // For such a result: the parts of the row packed as PackedTexts, shared
    // rather than copied, without the empty parts at its end (a row of
    // empty parts is the null string). Null for any other result.
    QString packedParts(qsizetype row) const;

    // Filling, by the statement that makes the result.
    void reserve(qsizetype rows);
    // A row of values, one per field, with the parts of its joined columns
    // (one list per field, an empty one for a column that is no join; no
    // list at all when no column joins).
    void appendRow(QList<Value> values, QList<QStringList> parts = {});
    // A row given a value at a time, without a list for it: the values that
    // are not Null, their fields ascending, then endRow().
    void appendValue(int field, Value value);
    void endRow() { m_rowEnds.push_back(m_values.size()); }
    // Makes every column a lazily built join: tabs[field][operand] is true
    // for an operand that is a Chr(9) separator. Rows are then added with
    // appendJoinedRow() only.
    void joinLazily(QList<QList<bool>> tabs);
    // A row of a lazily joined result: per field the texts of the operands
    // that are no separator, and whether every operand was Null (the joined
    // value is then Null).
    // The parts of every field follow one another in `parts`.
    void appendJoinedRow(const QStringList &parts, const std::vector<bool> &allNull);

private:
    QList<Value> joinedRow(qsizetype i) const;

    QList<FieldInfo> m_fields;
    // Rows built eagerly: the values that are not Null, row after row, each
    // with its field; m_rowEnds[row] is one past the row's last value. A
    // row's fields ascend, so a value is found by binary search.
    std::vector<Value> m_values;
    std::vector<int> m_valueFields;
    std::vector<size_t> m_rowEnds;
    qsizetype m_expectedRows = 0;      // as reserve() said
    QList<QList<QStringList>> m_parts; // [row][field] of eager rows, empty when no column joins
    // Lazily joined rows. While m_tabs is set, m_built stays empty until
    // value() first reads a row, and a row left empty is built from m_packed
    // then; row() builds a row without keeping it.
    mutable QList<QList<Value>> m_built; // [row][field]
    QList<QList<bool>> m_tabs;           // [field][operand]; empty when rows are built eagerly
    QList<qsizetype> m_firstPart;        // [field]: index of its first part in a packed row
    QList<qsizetype> m_partCount;        // [field]: how many parts it has
    QList<QString> m_packed;             // [row]: the parts of every field, packed
    std::vector<bool> m_allNull;         // [row * width + field]: every operand was Null
};

} // namespace lumora::engine
