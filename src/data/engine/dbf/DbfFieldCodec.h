#pragma once

#include "data/engine/Value.h"
#include "data/engine/dbf/DbfHeader.h"
#include "data/engine/text/CodePage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace lumora::engine {

// The bytes of one field of a record and the Value they stand for, both
// ways, without any file: DbfTable reads and writes records, this says what
// they mean. A memo field holds only a block number here; its data is
// turned into a Value by memoValue once the memo file has given it.
//
//     const Value v = DbfFieldCodec::decode(field, record, header.nullFlagsOffset, codec, table);
//     const DbfFieldCodec::Encoded e = DbfFieldCodec::encode(field, Value::text("张三"), codec, table);
class DbfFieldCodec
{
public:
    // Whether the record's _NullFlags (at `nullFlagsOffset`) mark field `f` Null.
    static bool isNull(const DbfField &f, QByteArrayView record, int nullFlagsOffset);

    // The value of field `f` (not a memo) in `record`, the record's bytes
    // from its deletion flag on. Bytes that do not read as the field's type
    // (a number field holding letters, a date of 30 February) are Null.
    // Throws EngineError naming `table` when the field lies outside the record.
    static Value decode(const DbfField &f, QByteArrayView record, int nullFlagsOffset, const CodePage &codec,
                        const QString &table);

    // The memo block a memo field's bytes point to (10 ASCII digits, or 4
    // bytes little-endian on Visual FoxPro); nothing for a field with no memo.
    static std::optional<quint32> memoBlock(QByteArrayView pointer);
    // The value of memo field `f` whose memo holds `data`.
    static Value memoValue(const DbfField &f, const QByteArray &data, const CodePage &codec);

    // What encode() gives for one value.
    struct Encoded
    {
        QByteArray bytes;    // exactly the field's length
        bool isNull = false; // the field becomes Null (its _NullFlags bit is to be set)
        int varLength = -1;  // V/Q: the length a short value keeps in the last byte, else -1
    };
    // The bytes field `f` (not a memo) holds for `v` in code page `codec`.
    // Throws EngineError naming `table` when `v` does not fit exactly: too
    // long, not of the field's type, more decimals than it keeps, a
    // character the code page lacks.
    static Encoded encode(const DbfField &f, const Value &v, const CodePage &codec, const QString &table);
};

} // namespace lumora::engine
