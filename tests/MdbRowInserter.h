#pragma once
// Adds rows to a table of an Access database, for tests and benchmarks that
// need more rows than the committed databases hold: no program on this
// system writes .mdb files. Rows go onto new data pages at the end of the
// file, listed in the table's page map (turned into a reference map when
// the inline one cannot name them); the table's indexes are not updated,
// so a database grown this way is for reading and for writing fields that
// no index covers. Each row is made from the table's first record with the
// given text fields replaced. addColumn() adds a column to a table's
// definition as Access does when a field is added to a table that has rows.

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteWriter.h"
#include "data/engine/mdb/JetPage.h"
#include "data/engine/mdb/JetUsageMap.h"
#include "data/engine/mdb/MdbBackend.h"
#include "data/engine/mdb/MdbTable.h"

#include <QtEndian>
#include <functional>
#include <map>

namespace MdbRowInserter {

// The texts of row i, by field position; a field not named keeps the
// first record's bytes. Fixed Long fields may be given as numbers.
using RowTexts = std::function<std::map<int, lumora::engine::Value>(int i)>;

inline void append(const QString &path, const QString &table, int count, const RowTexts &texts,
                   const QString &connect = {})
{
    using namespace lumora::engine;
    const auto backend = openMdb(path, connect);
    const auto source = backend->openTable(table);
    const auto *t = dynamic_cast<const MdbTable *>(source.get());
    const std::shared_ptr<JetFile> db = t->file();
    const JetFormat &f = db->format();
    const JetTableDef &def = t->definition();
    if (t->recordCount() < 1)
        throw EngineError(QStringLiteral("%1 has no record to copy").arg(table));

    // The first record's row, cracked.
    QByteArray first;
    {
        for (const quint32 p : t->dataPages()) {
            const auto s = JetPage::rowSlots(f, db->page(p));
            if (s && !s->empty() && !(s->front().flags & (JetPage::kDeleted | JetPage::kMoved))) {
                first = db->page(p).sliced(s->front().start, s->front().length()).toByteArray();
                break;
            }
        }
    }
    std::vector<JetFile::PageWrite> pages;
    QByteArray current;
    std::vector<JetPage::Slot> slotList;
    const auto newPage = [&] {
        current = QByteArray(f.pageSize, '\0');
        current[0] = char(JetPage::kDataPage);
        current[1] = 0x01;
        ByteWriter(current).le16(2, quint16(f.pageSize - f.rowOffsetAt)).le32(4, def.page);
        slotList.clear();
    };
    const auto flush = [&] { pages.push_back({db->pageCount() + quint32(pages.size()), current}); };
    newPage();
    for (int i = 0; i < count; ++i) {
        QByteArray row = first;
        for (const auto &[field, value] : texts(i)) {
            const JetColumn &col = def.columns[size_t(field)];
            if (col.fixed()) {
                const int at = f.rowColumnCountSize + col.fixedOffset;
                if (col.fixedSize() == 4)
                    qToLittleEndian<qint32>(qint32(value.toInteger()), row.data() + at);
                continue;
            }
            const auto cracked = JetRow::crack(f, row, def.varColumns > 0);
            std::optional<QByteArray> bytes;
            if (!value.isNull())
                bytes = db->encodeText(value.toText(), col.extFlags & 0x01);
            row = *cracked->withVariable(f, col, bytes ? std::optional<QByteArrayView>(*bytes) : std::nullopt,
                                         def.rowShape());
        }
        auto packed = JetPage::repack(f, current, slotList, int(slotList.size()), row, 0);
        if (!packed) {
            flush();
            newPage();
            packed = JetPage::repack(f, current, slotList, 0, row, 0);
        }
        current = *packed;
        slotList = *JetPage::rowSlots(f, current);
    }
    flush();

    // The page map: inline when it can name the new pages, else a
    // reference map with one bitmap page, added after the data pages.
    const JetUsageMap owned = JetUsageMap::read(*db, def.usedPages, table);
    std::map<quint32, QByteArray> changed;
    const auto bytesOf = [&](quint32 n) {
        const auto it = changed.find(n);
        return it != changed.end() ? it->second : db->page(n).toByteArray();
    };
    bool inlineFits = owned.kind() == 0;
    for (const JetFile::PageWrite &w : pages) {
        if (!inlineFits)
            break;
        if (auto write = owned.with(bytesOf, f, w.number, true))
            changed[write->number] = write->bytes;
        else
            inlineFits = false;
    }
    if (!inlineFits) {
        changed.clear();
        const quint32 mapPage = db->pageCount() + quint32(pages.size());
        QByteArray bitmap(f.pageSize, '\0');
        bitmap[0] = char(JetPage::kUsageMapPage);
        bitmap[1] = 0x01;
        std::vector<quint32> all = owned.pages();
        for (const JetFile::PageWrite &w : pages)
            all.push_back(w.number);
        for (const quint32 p : all) {
            if (p >= quint32(f.pageSize - 4) * 8)
                throw EngineError(QStringLiteral("too many pages for one bitmap page"));
            bitmap[4 + p / 8] = char(quint8(bitmap[4 + p / 8]) | (1u << (p % 8)));
        }
        QByteArray rowPage = bytesOf(owned.rowPage());
        if (owned.rowLength() < 5)
            throw EngineError(QStringLiteral("the page map's row is too short"));
        std::memset(rowPage.data() + owned.rowStart(), 0, size_t(owned.rowLength()));
        rowPage[owned.rowStart()] = 0x01;
        qToLittleEndian<quint32>(mapPage, rowPage.data() + owned.rowStart() + 1);
        changed[owned.rowPage()] = rowPage;
        pages.push_back({mapPage, bitmap});
    }
    // The definition counts the rows.
    QByteArray tdef = bytesOf(def.page);
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(tdef.constData() + f.tdefRowsAt) + quint32(count),
                             tdef.data() + f.tdefRowsAt);
    changed[def.page] = tdef;
    std::vector<quint32> read;
    for (const auto &[n, bytes] : changed) {
        pages.push_back({n, bytes});
        read.push_back(n);
    }
    db->writePages(pages, read);
}

// Adds column `name` to the definition of `table`: a copy of the entry of
// column `like` (type, length, flags), numbered after every column the
// table had, its data placed after every other column's, as Access adds a
// field in design view. Rows already written keep every byte: they predate
// the column. Only a definition of one page with room for the entry.
inline void addColumn(const QString &path, const QString &table, const QString &name, const QString &like)
{
    using namespace lumora::engine;
    const auto backend = openMdb(path, {});
    const auto source = backend->openTable(table);
    const auto *t = dynamic_cast<const MdbTable *>(source.get());
    const std::shared_ptr<JetFile> db = t->file();
    const JetFormat &f = db->format();
    const JetTableDef &def = t->definition();
    QByteArray tdef = db->page(def.page).toByteArray();
    const auto u16 = [&](int at) { return int(qFromLittleEndian<quint16>(tdef.constData() + at)); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(tdef.constData() + at); };
    if (u32(4) != 0)
        throw EngineError(QStringLiteral("the definition of %1 runs over more than one page").arg(table));
    const int count = u16(f.tdefColumnsAt);
    const int entries = f.tdefRealIndexStart + int(u32(f.tdefRealIndexesAt)) * f.realIndexEntrySize;
    // The names follow the entries, in the same order; find `like` and their end.
    int at = entries + count * f.columnEntrySize, likeAt = -1;
    for (int i = 0; i < count; ++i) {
        const int length = f.nameLengthSize == 1 ? quint8(tdef[at]) : u16(at);
        if (db->decodeText(tdef.mid(at + f.nameLengthSize, length)) == like)
            likeAt = entries + i * f.columnEntrySize;
        at += f.nameLengthSize + length;
    }
    if (likeAt < 0)
        throw EngineError(QStringLiteral("%1 has no column %2").arg(table, like));
    const JetRowShape shape = def.rowShape();
    QByteArray entry = tdef.mid(likeAt, f.columnEntrySize);
    const bool fixed = quint8(entry[f.colFlagsAt]) & 0x01;
    ByteWriter w(entry);
    w.le16(f.colNumberAt, quint16(shape.columns)).le16(f.colIndexAt, quint16(count));
    if (fixed)
        w.le16(f.colFixedOffsetAt, quint16(shape.fixedSize));
    else
        w.le16(f.colVarIndexAt, quint16(shape.varCount));
    const QByteArray nameBytes = *db->encodeText(name, false);
    QByteArray nameField(f.nameLengthSize, '\0');
    nameField[0] = char(nameBytes.size());
    nameField.append(nameBytes);

    const int used = 8 + int(u32(8)); // the definition's bytes: u32 at 8 counts those after it
    QByteArray grown = tdef.left(used);
    grown.insert(at, nameField);
    grown.insert(entries + count * f.columnEntrySize, entry);
    if (grown.size() > f.pageSize)
        throw EngineError(QStringLiteral("no room for another column in the definition of %1").arg(table));
    grown.append(QByteArray(f.pageSize - grown.size(), '\0'));
    ByteWriter(grown)
        .le16(f.tdefColumnsAt, quint16(count + 1))
        .le16(f.tdefMaxColumnsAt, quint16(shape.columns + 1))
        .le16(f.tdefVarColumnsAt, quint16(u16(f.tdefVarColumnsAt) + (fixed ? 0 : 1)))
        .le32(8, quint32(used - 8 + entry.size() + nameField.size()));
    db->writePages({{def.page, grown}}, {def.page});
}

} // namespace MdbRowInserter
