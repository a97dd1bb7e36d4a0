#include "data/engine/mdb/JetTableDef.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/mdb/JetFile.h"
#include "data/engine/mdb/JetPage.h"

#include <algorithm>
#include <set>

namespace lumora::engine {

int JetColumn::fixedSize() const
{
    switch (JetType(type)) {
    case JetType::Boolean: return 0;
    case JetType::Byte: return 1;
    case JetType::Integer: return 2;
    case JetType::Long:
    case JetType::Single: return 4;
    case JetType::Currency:
    case JetType::Double:
    case JetType::DateTime: return 8;
    case JetType::Guid: return 16;
    case JetType::Numeric: return 17;
    default: return length;
    }
}

JetTableDef JetTableDef::read(const JetFile &db, quint32 first, const QString &table)
{
    const JetFormat &f = db.format();
    const QString what = QStringLiteral("%1 (table %2)").arg(db.what(), table);
    // The definition may run on over further pages, each with an 8-byte head.
    QByteArray bytes;
    std::set<quint32> seen;
    for (quint32 p = first; p != 0;) {
        if (!seen.insert(p).second || seen.size() > 4096)
            throw EngineError::format(u"%1 is damaged: the definition of table %2 runs in a circle",
                                      u"文件 %1 已损坏：数据表 %2 的定义页首尾相接", db.what(), table);
        const QByteArrayView page = db.page(p);
        if (quint8(page[0]) != JetPage::kTableDefinitionPage)
            throw EngineError::format(
                u"%1 is damaged: page %2, where table %3 should be defined, is no table "
                u"definition",
                u"文件 %1 已损坏：第 %2 页应是数据表 %3 的定义，但不是", db.what(), p, table);
        if (bytes.isEmpty())
            bytes = page.toByteArray();
        else
            bytes.append(page.sliced(8));
        p = ByteCursor(page, what).u32le(4);
    }
    const ByteCursor c(bytes, what);
    JetTableDef def;
    def.page = first;
    def.rows = c.u32le(f.tdefRowsAt);
    def.maxColumns = c.u16le(f.tdefMaxColumnsAt);
    def.varColumns = c.u16le(f.tdefVarColumnsAt);
    const int columnCount = c.u16le(f.tdefColumnsAt);
    const qint64 logicalCount = c.u32le(f.tdefIndexesAt);
    const qint64 realCount = c.u32le(f.tdefRealIndexesAt);
    def.usedPages = c.u32le(f.tdefUsedPagesAt);
    def.freePages = c.u32le(f.tdefFreePagesAt);
    if (realCount > 1000 || logicalCount > 1000)
        throw EngineError::format(u"%1 is damaged: table %2 claims %3 indexes",
                                  u"文件 %1 已损坏：数据表 %2 声称有 %3 个索引", db.what(), table,
                                  std::max(realCount, logicalCount));

    qint64 at = f.tdefRealIndexStart + realCount * f.realIndexEntrySize;
    def.columns.resize(size_t(columnCount));
    for (JetColumn &col : def.columns) {
        c.view(at, f.columnEntrySize);
        col.type = c.u8(at + f.colTypeAt);
        col.number = c.u16le(at + f.colNumberAt);
        col.varIndex = c.u16le(at + f.colVarIndexAt);
        col.precision = c.u8(at + f.colPrecisionAt);
        col.scale = c.u8(at + f.colScaleAt);
        col.flags = c.u8(at + f.colFlagsAt);
        col.extFlags = f.colExtFlagsAt >= 0 ? c.u8(at + f.colExtFlagsAt) : 0;
        col.fixedOffset = c.u16le(at + f.colFixedOffsetAt);
        col.length = c.u16le(at + f.colLengthAt);
        at += f.columnEntrySize;
    }
    QByteArray nameBytes;
    const auto readName = [&] {
        const int length = f.nameLengthSize == 1 ? c.u8(at) : c.u16le(at);
        at += f.nameLengthSize;
        nameBytes = c.view(at, length).toByteArray();
        at += length;
        return db.decodeText(nameBytes);
    };
    for (JetColumn &col : def.columns) {
        col.name = readName();
        col.nameBytes = nameBytes;
    }

    // Real indexes: the columns each covers. Logical indexes: a name and
    // the real index they use.
    std::vector<std::vector<quint16>> real(static_cast<size_t>(realCount));
    for (auto &columns : real) {
        c.view(at, f.realIndexDefSize);
        for (int k = 0; k < 10; ++k) {
            const quint16 number = c.u16le(at + f.realIndexColumnsAt + 3 * k);
            if (number != 0xFFFF)
                columns.push_back(number);
        }
        at += f.realIndexDefSize;
    }
    std::vector<std::pair<qint64, quint8>> logical;
    for (qint64 i = 0; i < logicalCount; ++i) {
        c.view(at, f.logicalIndexSize);
        logical.emplace_back(c.i32le(at + f.logicalIndexRealAt), c.u8(at + f.logicalIndexTypeAt));
        at += f.logicalIndexSize;
    }
    for (const auto &[realIndex, type] : logical) {
        JetIndex index;
        index.name = readName();
        index.type = type;
        if (realIndex >= 0 && realIndex < realCount)
            index.columns = real[size_t(realIndex)];
        def.indexes.push_back(std::move(index));
    }

    // A column that claims data outside any row it could be in is damage.
    std::stable_sort(def.columns.begin(), def.columns.end(),
                     [](const JetColumn &a, const JetColumn &b) { return a.number < b.number; });
    for (const JetColumn &col : def.columns) {
        if (!col.fixed() && col.varIndex >= 0x1000)
            throw EngineError::format(u"%1 is damaged: column %2 of table %3 is variable-length column %4",
                                      u"文件 %1 已损坏：数据表 %3 的列 %2 被标为第 %4 个变长列", db.what(),
                                      col.name, table, col.varIndex);
    }
    return def;
}

JetRowShape JetTableDef::rowShape() const
{
    JetRowShape shape;
    shape.columns = maxColumns;
    for (const JetColumn &col : columns) {
        shape.columns = std::max(shape.columns, col.number + 1);
        if (col.fixed())
            shape.fixedSize = std::max(shape.fixedSize, col.fixedOffset + col.fixedSize());
        else
            shape.varCount = std::max(shape.varCount, col.varIndex + 1);
    }
    return shape;
}

std::vector<const JetIndex *> JetTableDef::indexesOf(const JetColumn &column) const
{
    std::vector<const JetIndex *> out;
    for (const JetIndex &index : indexes)
        if (std::find(index.columns.begin(), index.columns.end(), column.number) != index.columns.end())
            out.push_back(&index);
    return out;
}

} // namespace lumora::engine
