#include "data/engine/mdb/MdbTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/SiblingFile.h"
#include "data/engine/mdb/JetPage.h"
#include "data/engine/mdb/JetUsageMap.h"

#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <iterator>
#include <map>

namespace lumora::engine {

namespace {

// A long value (Memo, OLE) field: 0x00 u24 length, 0x03 u8 kind, 0x04 u32
// page-row of its first piece, 0x08 u32 unused, then for kind 0x80 the
// data itself.
constexpr int kLongHeader = 12;
constexpr quint8 kLongInline = 0x80;
constexpr quint8 kLongOnePage = 0x40;
constexpr quint8 kLongChain = 0x00;
constexpr int kMaxHops = 8; // moved rows followed, and long-value pieces per megabyte

QString typeName(quint8 type)
{
    switch (JetType(type)) {
    case JetType::Boolean: return QStringLiteral("Yes/No");
    case JetType::Byte: return QStringLiteral("Byte");
    case JetType::Integer: return QStringLiteral("Integer");
    case JetType::Long: return QStringLiteral("Long Integer");
    case JetType::Currency: return QStringLiteral("Currency");
    case JetType::Single: return QStringLiteral("Single");
    case JetType::Double: return QStringLiteral("Double");
    case JetType::DateTime: return QStringLiteral("Date/Time");
    case JetType::Binary: return QStringLiteral("Binary");
    case JetType::Text: return QStringLiteral("Text");
    case JetType::Ole: return QStringLiteral("OLE Object");
    case JetType::Memo: return QStringLiteral("Memo");
    case JetType::Guid: return QStringLiteral("Replication ID");
    case JetType::Numeric: return QStringLiteral("Decimal");
    default: return QStringLiteral("type 0x%1").arg(hexByte(type));
    }
}

} // namespace

MdbTable::MdbTable(std::shared_ptr<JetFile> db, QString name, quint32 definitionPage, QList<EngineNote> notes)
    : m_db(std::move(db))
    , m_name(std::move(name))
    , m_notes(std::move(notes))
{
    m_what = QStringLiteral("%1 (table %2)").arg(m_db->what(), m_name);
    m_def = JetTableDef::read(*m_db, definitionPage, m_name);
    m_codec = &m_db->textCodec();
    const JetUsageMap used = JetUsageMap::read(*m_db, m_def.usedPages, m_name);
    m_dataPages = used.pages();
    m_pagesPastEnd = used.pagesPastEnd();
    loadRecords();
    chooseCodec();
    if (m_pagesPastEnd > 0)
        m_notes.append(EngineNote::warning(
            u"%1 (table %2): the file is cut short (it holds %3 bytes, %4 pages): %5 pages of the table lie "
            u"past its end, and %6 of the %7 records its definition counts are missing",
            u"文件 %1 不完整（只有 %3 字节，%4 页）：数据表 %2 有 %5 页在文件结尾之后，"
            u"定义中的 %7 条记录缺少 %6 条",
            m_db->what(), m_name, m_db->size(), m_db->pageCount(), m_pagesPastEnd, m_missing, m_def.rows));
    else if (m_missing > 0)
        m_notes.append(
            EngineNote::warning(u"%1 (table %2): its definition counts %3 records, but only %4 were found",
                                u"文件 %1 的数据表 %2 定义中记有 %3 条记录，但只找到 %4 条，其余记录缺失",
                                m_db->what(), m_name, m_def.rows, recordCount()));
    if (!m_orphans.empty())
        m_notes.append(EngineNote::information(
            u"%1 (table %2): %3 copies of rows left by a write that was stopped half way are not shown; the "
            u"next write removes them",
            u"文件 %1 的数据表 %2 中有 %3 份中途停止的写入留下的记录副本，没有显示，下次写入时会清除",
            m_db->what(), m_name, qsizetype(m_orphans.size())));
    for (const JetColumn &col : m_def.columns) {
        FieldInfo info;
        info.name = col.name;
        info.daoType = daoTypeOfJet(col.type);
        if (col.type == quint8(JetType::Text))
            info.width = m_db->format().version == 4 ? col.length / 2 : col.length;
        else if (col.type == quint8(JetType::Binary))
            info.width = col.length;
        info.decimals = col.type == quint8(JetType::Numeric) ? col.scale : 0;
        info.nullable = col.flags & 0x02;
        m_fields.append(info);
    }
}

void MdbTable::chooseCodec()
{
    const CodePage *fallback = m_db->fallbackCodec();
    if (!fallback)
        return;
    const auto clean = [&]() -> bool {
        for (const JetColumn &col : m_def.columns)
            if (!m_codec->assigns(col.nameBytes))
                return false;
        for (qsizetype r = 0; r < recordCount(); ++r) {
            const JetRow *cracked = nullptr;
            try {
                cracked = &this->cracked(r);
            } catch (const EngineError &) {
                continue; // a damaged row says so when it is read
            }
            const JetRow &row = *cracked;
            for (const JetColumn &col : m_def.columns) {
                const bool memo = col.type == quint8(JetType::Memo);
                if ((col.type != quint8(JetType::Text) && !memo) || !row.present(col))
                    continue;
                QByteArrayView bytes = row.data(col);
                if (memo) {
                    // Only memos kept in the row: the others are read when asked for.
                    if (bytes.size() < kLongHeader || quint8(bytes[3]) != kLongInline)
                        continue;
                    bytes = bytes.sliced(kLongHeader);
                }
                if (!m_codec->assigns(bytes))
                    return false;
            }
        }
        return true;
    };
    if (clean())
        return;
    m_codec = fallback;
    for (JetColumn &col : m_def.columns)
        col.name = m_db->decodeText(col.nameBytes, m_codec);
    m_notes.append(EngineNote::warning(
        u"%1 (table %2): its text is not GBK, so it is read in the code page %3 its header names",
        u"文件 %1 的数据表 %2 的文字不是 GBK，改按文件头记的代码页 %3 读取，可能读错", m_db->what(), m_name,
        QString::fromLatin1(m_codec->name())));
}

void MdbTable::loadRecords()
{
    const JetFormat &f = m_db->format();
    m_records.clear();
    // The definition's count is a hint only: a page holds at most 256 rows.
    m_records.reserve(std::min<size_t>(m_def.rows, m_dataPages.size() * 256));
    m_crackedRecord = -1;
    int foreign = 0;
    const auto damaged = [&](quint32 page, int slot) {
        return EngineError::format(u"%1 is damaged: row %3 of page %2 lies outside its page",
                                   u"文件 %1 已损坏：第 %2 页第 %3 行超出了页面", what(), page, slot);
    };
    // The data page `page` of this table, or nothing.
    const auto ownPage = [&](quint32 page) -> std::optional<std::vector<JetPage::Slot>> {
        const QByteArrayView bytes = m_db->page(page);
        if (quint8(bytes[0]) != JetPage::kDataPage || ByteCursor(bytes, what()).u32le(4) != m_def.page)
            return std::nullopt;
        return JetPage::rowSlots(f, bytes);
    };
    const int tableStart = f.rowOffsetAt;
    std::vector<quint32> targets;   // page-rows flagged as the target of a move
    std::vector<quint32> pointedAt; // page-rows a moved row's pointer names
    for (const quint32 page : m_dataPages) {
        const auto rowSlots = ownPage(page);
        if (!rowSlots) {
            ++foreign;
            continue;
        }
        const int tableEnd = tableStart + 2 * int(rowSlots->size());
        for (int i = 0; i < int(rowSlots->size()); ++i) {
            const JetPage::Slot &s = (*rowSlots)[size_t(i)];
            if (s.flags == JetPage::kDeleted && s.length() > 0)
                targets.push_back(page << 8 | quint32(i));
            if (s.flags & JetPage::kDeleted)
                continue; // deleted, or the new place of a moved row (reached through its pointer)
            if (s.start < tableEnd || s.end > f.pageSize || s.start > s.end)
                throw damaged(page, i);
            Record r{page, page, quint16(i), quint16(i), quint16(s.start), quint16(s.length())};
            // A moved row: follow its pointer (u8 row, u24 page) to where it lives.
            for (int hop = 0; s.flags & JetPage::kMoved; ++hop) {
                const QByteArrayView from = m_db->page(r.dataPage);
                if (hop >= kMaxHops || r.length < 4)
                    throw damaged(r.dataPage, r.dataSlot);
                const quint32 pointer = ByteCursor(from, what()).u32le(r.start);
                const quint32 toPage = JetPage::pageOf(pointer);
                const int toSlot = JetPage::rowOf(pointer);
                const auto toSlots = ownPage(toPage);
                if (!toSlots || toSlot >= int(toSlots->size()))
                    throw EngineError::format(u"%1 is damaged: row %3 of page %2 was moved to a place that "
                                              u"does not exist",
                                              u"文件 %1 已损坏：第 %2 页第 %3 行被移到了不存在的位置", what(),
                                              r.dataPage, r.dataSlot);
                const JetPage::Slot &t = (*toSlots)[size_t(toSlot)];
                if (t.start < tableStart + 2 * int(toSlots->size()) || t.end > f.pageSize || t.start > t.end)
                    throw damaged(toPage, toSlot);
                pointedAt.push_back(pointer);
                r.dataPage = toPage;
                r.dataSlot = quint16(toSlot);
                r.start = quint16(t.start);
                r.length = quint16(t.length());
                if (!(t.flags & JetPage::kMoved))
                    break;
            }
            m_records.push_back(r);
        }
    }
    m_records.shrink_to_fit();
    std::sort(targets.begin(), targets.end());
    std::sort(pointedAt.begin(), pointedAt.end());
    m_orphans.clear();
    std::set_difference(targets.begin(), targets.end(), pointedAt.begin(), pointedAt.end(),
                        std::back_inserter(m_orphans));
    m_missing = qsizetype(m_def.rows) > recordCount() ? qsizetype(m_def.rows) - recordCount() : 0;
    if (foreign > 0 && !m_foreignNoted) {
        m_foreignNoted = true;
        m_notes.append(EngineNote::warning(
            u"%1 (table %2): its page map lists %3 pages that are not its own; they are skipped",
            u"文件 %1 已损坏：数据表 %2 的页面表列出了 %3 个不属于它的页，已跳过，可能缺少记录", m_db->what(),
            m_name, foreign));
    }
}

const JetRow &MdbTable::cracked(qsizetype record) const
{
    if (record != m_crackedRecord) {
        const Record &r = m_records[size_t(record)];
        const QByteArrayView row = m_db->page(r.dataPage).sliced(r.start, r.length);
        m_crackedRecord = -1;
        if (!JetRow::crackInto(m_db->format(), row, m_def.varColumns > 0, m_crackedRow))
            throw EngineError::format(u"%1 is damaged: row %3 of page %2 does not hold what its header says",
                                      u"文件 %1 已损坏：第 %2 页第 %3 行的内容与其开头不符", what(),
                                      r.dataPage, r.dataSlot);
        m_crackedRecord = record;
    }
    return m_crackedRow;
}

Value MdbTable::value(qsizetype record, int field) const
{
    checkIndex(record, qsizetype(m_records.size()), field, m_fields.size());
    const JetRow &row = cracked(record);
    const JetColumn &col = m_def.columns[size_t(field)];
    if (col.type == quint8(JetType::Boolean))
        return Value::boolean(row.present(col));
    if (!row.present(col))
        return {};
    const QByteArrayView bytes = row.data(col);
    switch (JetType(col.type)) {
    case JetType::Text: return Value::text(m_db->decodeText(bytes, m_codec));
    case JetType::Memo: return Value::text(m_db->decodeText(longValue(bytes, record), m_codec));
    case JetType::Ole: return Value::binary(longValue(bytes, record));
    case JetType::Binary: return Value::binary(bytes.toByteArray());
    default: return col.fixed() && bytes.isEmpty() ? Value() : decodeJetFixed(col, bytes);
    }
}

QByteArray MdbTable::longValue(QByteArrayView field, qsizetype record) const
{
    if (field.size() < kLongHeader)
        return {};
    const ByteCursor c(field, what());
    const quint32 length = c.u32le(0) & 0xFFFFFF;
    const quint8 kind = c.u8(3);
    const quint32 pageRow = c.u32le(4);
    if (kind == kLongInline)
        return field.sliced(kLongHeader, std::min<qsizetype>(length, field.size() - kLongHeader))
            .toByteArray();
    // The bytes of the row at a page-row, wherever the page is.
    const auto piece = [&](quint32 at) -> QByteArrayView {
        const quint32 page = JetPage::pageOf(at);
        const QByteArrayView bytes = m_db->page(page);
        const auto rowSlots = JetPage::rowSlots(m_db->format(), bytes);
        const int slot = JetPage::rowOf(at);
        if (!rowSlots || slot >= int(rowSlots->size()) ||
            (*rowSlots)[size_t(slot)].start > (*rowSlots)[size_t(slot)].end ||
            (*rowSlots)[size_t(slot)].end > bytes.size())
            throw EngineError::format(
                u"%1 is damaged: the long value of record %2 points to page %3, row %4, "
                u"which does not exist",
                u"文件 %1 已损坏：第 %2 条记录的长文本指向不存在的第 %3 页第 %4 行", what(), record + 1, page,
                slot);
        return bytes.sliced((*rowSlots)[size_t(slot)].start, (*rowSlots)[size_t(slot)].length());
    };
    if (kind == kLongOnePage) {
        const QByteArrayView bytes = piece(pageRow);
        return bytes.first(std::min<qsizetype>(length, bytes.size())).toByteArray();
    }
    if (kind != kLongChain)
        throw EngineError::format(u"%1 is damaged: the long value of record %2 is of unknown kind 0x%3",
                                  u"文件 %1 已损坏：第 %2 条记录的长文本类型 0x%3 无法识别", what(),
                                  record + 1, hexByte(kind));
    // A chain of rows, each a u32 page-row of the next (0 at the end) and data.
    QByteArray out;
    out.reserve(std::min<quint32>(length, 1u << 16)); // the length is the file's word only
    quint32 at = pageRow;
    for (int hops = 0; at != 0 && out.size() < qsizetype(length); ++hops) {
        if (hops > kMaxHops + int(length / 1024))
            throw EngineError::format(u"%1 is damaged: the long value of record %2 runs in a circle",
                                      u"文件 %1 已损坏：第 %2 条记录的长文本首尾相接", what(), record + 1);
        const QByteArrayView bytes = piece(at);
        if (bytes.size() < 4)
            break;
        at = ByteCursor(bytes, what()).u32le(0);
        out.append(bytes.sliced(4).first(std::min<qsizetype>(bytes.size() - 4, length - out.size())));
    }
    return out;
}

// ---- writing ---------------------------------------------------------------

std::optional<QByteArray> MdbTable::encodeField(const JetColumn &col, const Value &v) const
{
    const bool memo = col.type == quint8(JetType::Memo);
    if (col.type != quint8(JetType::Text) && !memo)
        throw EngineError::format(u"Field %1 of %2 is of type %3; only Text and Memo fields are written into "
                                  u"Access databases",
                                  u"%2 的字段 %1 是 %3 类型；Access 数据库中只能写入文本和备注字段", col.name,
                                  what(), typeName(col.type));
    if (col.fixed())
        throw EngineError::format(u"Field %1 of %2 is a fixed-length text field, which this program does not "
                                  u"write",
                                  u"%2 的字段 %1 是定长文本字段，本程序不写入这种字段", col.name, what());
    const std::vector<const JetIndex *> indexes = m_def.indexesOf(col);
    if (!indexes.empty()) {
        QStringList names;
        for (const JetIndex *index : indexes)
            names.append(index->name);
        throw EngineError::format(u"Field %1 of %2 is part of the index %3; writing it would leave the index "
                                  u"wrong, so it is not written (choose another field)",
                                  u"%2 的字段 %1 属于索引 %3，写入会使索引出错，因此不写入（请另选一个字段）",
                                  col.name, what(), names.join(QStringLiteral(", ")));
    }
    if (v.isNull()) {
        if (!(col.flags & 0x02))
            throw EngineError::format(u"Field %1 of %2 cannot be Null", u"%2 的字段 %1 不能为空值", col.name,
                                      what());
        return std::nullopt;
    }
    if (v.kind() == Value::Kind::Binary)
        throw EngineError::format(u"Field %1 of %2 holds text; bytes cannot be written into it",
                                  u"%2 的字段 %1 是文本字段，不能写入二进制数据", col.name, what());
    const QString text = v.toText();
    const std::optional<QByteArray> bytes = m_db->encodeText(text, col.extFlags & 0x01, m_codec);
    if (!bytes)
        throw EngineError::format(u"The text \"%1\" has characters that code page %2 of %3 cannot hold",
                                  u"文本“%1”中有 %3 的代码页 %2 无法表示的字符", EngineError::excerpt(text),
                                  QString::fromLatin1(m_codec->name()), what());
    const JetFormat &f = m_db->format();
    if (!memo) {
        const int limit = f.version == 4 ? col.length / 2 : col.length;
        const qsizetype size = f.version == 4 ? text.size() : bytes->size();
        if (size > limit)
            throw EngineError::format(
                f.version == 4 ? u"The text \"%1\" has %2 characters; field %3 of %4 holds at most %5"
                               : u"The text \"%1\" takes %2 bytes; field %3 of %4 holds at most %5",
                f.version == 4 ? u"文本“%1”有 %2 个字符，%4 的字段 %3 最多只能容纳 %5 个"
                               : u"文本“%1”占 %2 个字节，%4 的字段 %3 最多只能容纳 %5 个字节",
                EngineError::excerpt(text), size, col.name, what(), limit);
        return bytes;
    }
    if (bytes->size() > f.maxInlineMemo)
        throw EngineError::format(
            u"The text \"%1\" takes %2 bytes; this program writes at most %3 bytes into "
            u"memo field %4 of %5",
            u"文本“%1”占 %2 个字节；本程序写入 %5 的备注字段 %4 时最多写 %3 个字节",
            EngineError::excerpt(text), bytes->size(), f.maxInlineMemo, col.name, what());
    QByteArray field(kLongHeader, '\0');
    qToLittleEndian<quint32>(quint32(bytes->size()) | quint32(kLongInline) << 24, field.data());
    field.append(*bytes);
    return field;
}

MdbTable::Plan MdbTable::plan(qsizetype record, int field, const Value &v) const
{
    checkIndex(record, qsizetype(m_records.size()), field, m_fields.size());
    const JetFormat &f = m_db->format();
    const JetColumn &col = m_def.columns[size_t(field)];
    const std::optional<QByteArray> bytes = encodeField(col, v);
    const Record &r = m_records[size_t(record)];
    checkWhole();
    const std::optional<QByteArray> row = cracked(record).withVariable(
        f, col, bytes ? std::optional<QByteArrayView>(*bytes) : std::nullopt, m_def.rowShape());
    if (!row)
        throw EngineError::format(u"Record %1 of %2 cannot take a value for field %3: its row cannot be laid "
                                  u"out with it",
                                  u"%2 的第 %1 条记录无法写入字段 %3：写入后的记录无法排布", record + 1,
                                  what(), col.name);
    // One slot and the row must fit on an empty page.
    const int rowLimit = f.pageSize - f.rowOffsetAt - 2;
    if (row->size() > rowLimit)
        throw EngineError::format(
            u"The value for field %1 is too long for a row: record %2 of %3 would take %4 "
            u"bytes, and a row holds at most %5",
            u"字段 %1 的值太长，一条记录放不下：%3 的第 %2 条记录将占 %4 个字节，而一条记录最多 "
            u"%5 个字节",
            col.name, record + 1, what(), row->size(), rowLimit);

    Plan plan;
    std::map<quint32, QByteArray> pending; // pages as the plan leaves them
    const auto current = [&](quint32 page) {
        const auto it = pending.find(page);
        return it != pending.end() ? it->second : m_db->page(page).toByteArray();
    };
    const auto put = [&](quint32 page, QByteArray bytes) {
        if (!pending.count(page))
            plan.pages.push_back({page, {}});
        pending[page] = std::move(bytes);
    };
    const QByteArray page = current(r.dataPage);
    const auto rowSlots = *JetPage::rowSlots(f, page);
    const JetPage::Slot &slot = rowSlots[r.dataSlot];
    plan.read.push_back(r.dataPage);
    if (row->size() == slot.length()) {
        QByteArray out = page;
        std::memcpy(out.data() + slot.start, row->constData(), size_t(row->size()));
        put(r.dataPage, out);
    } else if (const auto repacked = JetPage::isPacked(f, page, rowSlots)
                                         ? JetPage::repack(f, page, rowSlots, r.dataSlot, *row, slot.flags)
                                         : std::nullopt) {
        put(r.dataPage, *repacked);
    } else {
        // Another page of the table with room takes the row, flagged as
        // the target of a move; the row's own slot points to it.
        std::optional<QByteArray> target;
        quint32 targetPage = 0;
        int targetSlot = 0;
        for (const quint32 candidate : m_dataPages) {
            if (candidate == r.dataPage || candidate == r.page)
                continue;
            const QByteArray bytes = current(candidate);
            if (quint8(bytes[0]) != JetPage::kDataPage || ByteCursor(bytes, what()).u32le(4) != m_def.page)
                continue;
            const auto candidateSlots = JetPage::rowSlots(f, bytes);
            if (!candidateSlots || !JetPage::isPacked(f, bytes, *candidateSlots) ||
                JetPage::freeBytes(f, *candidateSlots) < row->size() + 2)
                continue;
            target = JetPage::repack(f, bytes, *candidateSlots, int(candidateSlots->size()), *row,
                                     JetPage::kDeleted);
            if (target) {
                targetPage = candidate;
                targetSlot = int(candidateSlots->size());
                break;
            }
        }
        std::optional<JetFile::PageWrite> ownedMap;
        if (!target) {
            // A new page at the end of the file, listed in the table's page
            // map, as Jet adds one when a table's pages are full. A page of
            // the table left at the end, unlisted, by a writer stopped
            // before it listed it is taken again.
            targetPage = m_db->pageCount();
            if (leftAtEnd(targetPage - 1)) {
                --targetPage;
                plan.read.push_back(targetPage);
            }
            QByteArray fresh(f.pageSize, '\0');
            fresh[0] = char(JetPage::kDataPage);
            fresh[1] = 0x01;
            qToLittleEndian<quint16>(quint16(f.pageSize - f.rowOffsetAt), fresh.data() + 2);
            qToLittleEndian<quint32>(m_def.page, fresh.data() + 4);
            target = JetPage::repack(f, fresh, {}, 0, *row, JetPage::kDeleted);
            ownedMap = JetUsageMap::read(*m_db, m_def.usedPages, m_name).with(current, f, targetPage, true);
            if (!target || !ownedMap || targetPage > 0xFFFFFF)
                throw EngineError::format(
                    u"Record %1 of %2 grows to %3 bytes and no page of the table has room "
                    u"for it, nor can its page map name a new one; compact the database "
                    u"in Access (which rewrites the page map) and try again",
                    u"%2 的第 %1 条记录变为 %3 个字节，数据表中没有一页放得下，页面表也无法再添加新页；"
                    u"请在 Access 中压缩修复数据库（会重写页面表）后再试",
                    record + 1, what(), row->size());
            targetSlot = 0;
        } else {
            plan.read.push_back(targetPage);
        }
        plan.moved = true;
        put(targetPage, *target);
        if (ownedMap) {
            put(ownedMap->number, ownedMap->bytes);
            plan.read.push_back(ownedMap->number);
        }
        QByteArray pointer(4, '\0');
        qToLittleEndian<quint32>(targetPage << 8 | quint32(targetSlot), pointer.data());
        if (r.page == r.dataPage) {
            if (!JetPage::isPacked(f, page, rowSlots))
                throw EngineError::format(
                    u"Record %1 of %2 lies on a page laid out in a way this program does "
                    u"not rewrite; compact the database in Access and try again",
                    u"%2 的第 %1 条记录所在的页面布局本程序无法改写；请在 Access "
                    u"中压缩修复数据库后再试",
                    record + 1, what());
            put(r.page, *JetPage::repack(f, page, rowSlots, r.slot, pointer, JetPage::kMoved));
        } else {
            // Moved before: the pointer now names the new place, and the
            // old place is hidden from every reader (deleted and moved).
            QByteArray first = current(r.page);
            const auto firstSlots = *JetPage::rowSlots(f, first);
            std::memcpy(first.data() + firstSlots[r.slot].start, pointer.constData(), 4);
            plan.read.push_back(r.page);
            put(r.page, first);
            QByteArray old = current(r.dataPage);
            const quint16 raw = quint16(slot.start | JetPage::kDeleted | JetPage::kMoved);
            old[f.rowOffsetAt + 2 * r.dataSlot] = char(raw & 0xFF);
            old[f.rowOffsetAt + 2 * r.dataSlot + 1] = char(raw >> 8);
            put(r.dataPage, old);
        }
    }

    // Copies left by a move that was stopped half way are marked deleted
    // and their bytes freed. Whether a pointer names one was read from
    // every data page: they must all still be as read.
    if (!m_orphans.empty()) {
        for (const quint32 orphan : m_orphans) {
            const quint32 n = JetPage::pageOf(orphan);
            const int slotNumber = JetPage::rowOf(orphan);
            QByteArray bytes = current(n);
            const auto orphanSlots = *JetPage::rowSlots(f, bytes);
            const quint16 hidden = JetPage::kDeleted | JetPage::kMoved;
            if (const auto freed = JetPage::isPacked(f, bytes, orphanSlots)
                                       ? JetPage::repack(f, bytes, orphanSlots, slotNumber, {}, hidden)
                                       : std::nullopt) {
                put(n, *freed);
            } else {
                const quint16 raw = quint16(orphanSlots[size_t(slotNumber)].start | hidden);
                bytes[f.rowOffsetAt + 2 * slotNumber] = char(raw & 0xFF);
                bytes[f.rowOffsetAt + 2 * slotNumber + 1] = char(raw >> 8);
                put(n, bytes);
            }
        }
        plan.read.insert(plan.read.end(), m_dataPages.begin(), m_dataPages.end());
    }

    // The map of pages with room follows what the pages now hold: a page
    // the table's smallest row no longer fits on leaves it.
    int smallest = f.rowColumnCountSize + (int(m_def.columns.size()) + 7) / 8;
    for (const JetColumn &c : m_def.columns)
        if (c.fixed())
            smallest = std::max(smallest, f.rowColumnCountSize + c.fixedOffset + c.fixedSize() +
                                              (int(m_def.columns.size()) + 7) / 8);
    if (m_def.varColumns > 0)
        smallest += (m_def.varColumns + 1) * (f.version == 4 ? 2 : 1) + f.rowColumnCountSize;
    const JetUsageMap freeMap = JetUsageMap::read(*m_db, m_def.freePages, m_name);
    std::vector<quint32> dataPages;
    for (const JetFile::PageWrite &w : plan.pages)
        dataPages.push_back(w.number);
    for (const quint32 n : dataPages) {
        // The plan also writes map and definition pages, which hold no rows.
        const std::optional<std::vector<JetPage::Slot>> onPage = JetPage::rowSlots(f, pending[n]);
        if (!onPage)
            continue;
        const int room = JetPage::freeBytes(f, *onPage);
        if (auto write = freeMap.with(current, f, n, room >= smallest + 2)) {
            put(write->number, write->bytes);
            plan.read.push_back(write->number);
        }
    }
    for (JetFile::PageWrite &w : plan.pages)
        w.bytes = pending[w.number];
    return plan;
}

void MdbTable::checkWhole() const
{
    if (m_pagesPastEnd > 0)
        throw EngineError::format(
            u"%1 is cut short: %2 pages of the table lie past the end of the file and %3 "
            u"records are missing, so nothing is written into it (restore a complete "
            u"copy)",
            u"%1 不完整：数据表有 %2 页在文件末尾之外，缺少 %3 条记录，因此不写入"
            u"（请换用完整的副本）",
            what(), m_pagesPastEnd, m_missing);
}

bool MdbTable::leftAtEnd(quint32 n) const
{
    if (n == 0 || n >= m_db->pageCount() || std::binary_search(m_dataPages.begin(), m_dataPages.end(), n))
        return false;
    const QByteArrayView bytes = m_db->page(n);
    if (quint8(bytes[0]) != JetPage::kDataPage || ByteCursor(bytes, what()).u32le(4) != m_def.page)
        return false;
    return std::none_of(m_records.begin(), m_records.end(),
                        [n](const Record &r) { return r.page == n || r.dataPage == n; });
}

void MdbTable::checkUpdate(qsizetype record, int field, const Value &value) const
{
    plan(record, field, value);
    checkLockFile();
}

void MdbTable::update(qsizetype record, int field, const Value &value)
{
    // Another writer may change pages this change was worked out from
    // between the reading and the lock. Then the table is read again, and
    // the change made again when the record is still the row in the same
    // slot (a row keeps its slot when it moves) with every field as it
    // was read; else it is refused.
    for (int attempt = 0;; ++attempt) {
        const Plan p = plan(record, field, value);
        checkLockFile();
        try {
            m_db->writePages(p.pages, p.read);
            break;
        } catch (const JetChangedElsewhere &) {
            if (attempt >= 8)
                throw;
            const Record was = m_records[size_t(record)];
            QList<Value> values;
            for (int c = 0; c < m_fields.size(); ++c)
                values.append(MdbTable::value(record, c));
            m_db->forget();
            const JetUsageMap used = JetUsageMap::read(*m_db, m_def.usedPages, m_name);
            m_dataPages = used.pages();
            m_pagesPastEnd = used.pagesPastEnd();
            loadRecords();
            bool same = record < recordCount() && m_records[size_t(record)].page == was.page &&
                        m_records[size_t(record)].slot == was.slot;
            for (int c = 0; same && c < m_fields.size(); ++c)
                same = MdbTable::value(record, c) == values[c];
            if (!same)
                throw;
        }
    }
    m_dataPages = JetUsageMap::read(*m_db, m_def.usedPages, m_name).pages();
    loadRecords();
}

void MdbTable::checkLockFile() const
{
    QString lockFile;
    if (mdbOpenElsewhere(m_db->path(), &lockFile))
        throw EngineError(
            QStringLiteral("%1 is open in another program (its lock file %2 is in use); close it "
                           "there and try again")
                .arg(m_db->what(), QFileInfo(lockFile).fileName()),
            QStringLiteral("数据库 %1 正被其他程序打开（锁定文件 %2 正在使用），请在那个程序中关闭它后再试")
                .arg(m_db->what(), QFileInfo(lockFile).fileName()),
            EngineError::Code::Locked);
}

bool mdbOpenElsewhere(const QString &mdbPath, QString *lockFile)
{
    if (mdbPath.isEmpty())
        return false;
    const QString ldb = siblingFile(mdbPath, QStringLiteral("ldb"));
    if (ldb.isEmpty())
        return false;
    if (lockFile)
        *lockFile = ldb;
    // Jet holds byte-range locks on its lock file for as long as the
    // database is open. A lock file there but unreadable is taken to be in use.
    const LockedFile::OtherLock other = LockedFile::heldByOther(ldb);
    return other.held || other.unopenable;
}

} // namespace lumora::engine
