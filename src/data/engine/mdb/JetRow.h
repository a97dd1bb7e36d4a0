#pragma once

#include "data/engine/Value.h"
#include "data/engine/mdb/JetFormat.h"
#include "data/engine/mdb/JetTableDef.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QVarLengthArray>
#include <optional>

namespace lumora::engine {

// Where the fields of one row lie. A row is: the column count (u8 in Jet 3,
// u16 in Jet 4), the fixed-length data, the variable-length data, the
// offsets of the variable-length columns from the end of the row backwards
// (Jet 4: u16 each, the end offset first, then the count u16; Jet 3: the
// low bytes, then a table of "jumps" naming the column at which each further
// 256 bytes begin, then the count u8), and last the null mask, one bit per
// column number (set: the column holds a value; for Boolean the value).
class JetRow
{
public:
    // The layout of `row`; nothing when the row cannot hold what it says.
    // `variable`: whether the table has variable-length columns at all.
    static std::optional<JetRow> crack(const JetFormat &format, QByteArrayView row, bool variable);
    // The same into `out`, reusing its storage; false when the row is damaged.
    static bool crackInto(const JetFormat &format, QByteArrayView row, bool variable, JetRow &out);

    int columns() const { return m_columns; }
    int varCount() const { return int(m_offsets.size()) - 1; }
    // Whether the column holds a value (for Boolean: its value).
    bool present(const JetColumn &column) const;
    // The bytes of a column's data; empty for Null or a column the row
    // predates. Throws nothing: a fixed column whose data would lie past the
    // fixed area, or a variable one with crossed offsets, reads as Null.
    QByteArrayView data(const JetColumn &column) const;

    // The row with variable-length column `column` holding `bytes` (Null
    // when nothing): every other column's data and null bit kept. A row
    // written before columns were added to the table grows to `shape` (the
    // columns it lacks Null, or No for Yes/No), as a row written now would
    // be laid out; every other row keeps every byte but the column's.
    // Nothing when the new offsets cannot be written (a Jet 3 row of more
    // than 255 variable-length columns, a Jet 4 row past 64 KB).
    std::optional<QByteArray> withVariable(const JetFormat &format, const JetColumn &column,
                                           std::optional<QByteArrayView> bytes,
                                           const JetRowShape &shape) const;

private:
    QByteArrayView m_row;
    int m_countSize = 1; // bytes of the column count
    int m_columns = 0;
    int m_fixedEnd = 0;                 // where the fixed area ends (the first variable column's offset)
    QVarLengthArray<int, 32> m_offsets; // varCount + 1 offsets from the row's start
    int m_maskAt = 0;
    int m_maskSize = 0;
};

// The value of a fixed-length or inline field's bytes, by Jet type;
// Text and Memo are decoded by the caller. Dates are rounded to the second.
Value decodeJetFixed(const JetColumn &column, QByteArrayView bytes);
// The DAO type code a Jet type is shown as.
qint16 daoTypeOfJet(quint8 jetType);

} // namespace lumora::engine
