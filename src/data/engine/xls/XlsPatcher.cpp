#include "data/engine/xls/XlsPatcher.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <map>
#include <set>

namespace lumora::engine {

namespace {

constexpr int kRowRecord = 20; // a ROW record, header included
constexpr quint32 kNoRow = 0xFFFFFFFF;

// One stretch of the old stream [from, to) replaced by `bytes`: the
// shared-string table's end, or a cell's records (a new cell's inserted
// where from == to).
struct Splice
{
    qint64 from = 0;
    qint64 to = 0;
    QByteArray bytes;
    bool inserted = false;
    quint32 row = kNoRow; // the cell's, or kNoRow
    quint16 col = 0;
};

// Where an offset of the old stream lies in the new one, for splices in
// stream order: what was at an insertion point moves behind what was
// inserted there; an offset inside a replaced stretch stays inside it.
class OffsetMap
{
public:
    explicit OffsetMap(const std::vector<Splice> &splices)
        : m_splices(splices)
        , m_shift(splices.size() + 1, 0)
    {
        for (size_t i = 0; i < splices.size(); ++i)
            m_shift[i + 1] = m_shift[i] + splices[i].bytes.size() - (splices[i].to - splices[i].from);
    }

    qint64 operator()(qint64 p) const
    {
        const size_t k =
            size_t(std::upper_bound(m_splices.begin(), m_splices.end(), p,
                                    [](qint64 offset, const Splice &s) { return offset < s.from; }) -
                   m_splices.begin());
        if (k > 0) {
            const Splice &s = m_splices[k - 1];
            if (s.from != s.to && p < s.to) // at or inside a replaced stretch
                return s.from + m_shift[k - 1] + std::min<qint64>(p - s.from, s.bytes.size());
        }
        return p + m_shift[k];
    }

    // The same, except that what was inserted at `p` goes behind it.
    qint64 before(qint64 p) const
    {
        const size_t k =
            size_t(std::lower_bound(m_splices.begin(), m_splices.end(), p,
                                    [](const Splice &s, qint64 offset) { return s.from < offset; }) -
                   m_splices.begin());
        if (k > 0) {
            const Splice &s = m_splices[k - 1];
            if (s.from != s.to && p < s.to)
                return s.from + m_shift[k - 1] + std::min<qint64>(p - s.from, s.bytes.size());
        }
        return p + m_shift[k];
    }

private:
    const std::vector<Splice> &m_splices;
    std::vector<qint64> m_shift; // m_shift[i]: how far the splices before i move what follows them
};

bool needsWide(const QString &s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

void putChars(QByteArray &b, QStringView s, bool wide)
{
    for (QChar ch : s) {
        if (wide)
            ByteWriter::appendLe16(b, ch.unicode());
        else
            b.append(char(ch.unicode()));
    }
}

QByteArray cellHeader(quint32 row, quint16 col, quint16 xf)
{
    QByteArray b;
    ByteWriter::appendLe16(b, quint16(row));
    ByteWriter::appendLe16(b, col);
    ByteWriter::appendLe16(b, xf);
    return b;
}

} // namespace

QByteArray XlsPatcher::record(quint16 type, const QByteArray &body)
{
    QByteArray r;
    r.reserve(4 + body.size());
    ByteWriter::appendLe16(r, type);
    ByteWriter::appendLe16(r, quint16(body.size()));
    r.append(body);
    return r;
}

QByteArray XlsPatcher::extSstBody(quint16 bucketSize, const std::vector<qint64> &starts,
                                  const std::vector<qint64> &records)
{
    QByteArray b;
    ByteWriter::appendLe16(b, bucketSize);
    for (size_t i = 0; i < starts.size(); i += std::max<quint16>(bucketSize, 1)) {
        ByteWriter::appendLe32(b, quint32(starts[i]));
        ByteWriter::appendLe16(b, quint16(starts[i] - records[i]));
        ByteWriter::appendLe16(b, 0);
    }
    return b;
}

void XlsPatcher::refuse(const QString &why, const QString &chinese) const
{
    throw EngineError(QStringLiteral("%1 is not written: %2").arg(m_wb.what(), why),
                      QStringLiteral("没有写入 %1：%2").arg(m_wb.what(), chinese));
}

qint64 XlsPatcher::insertionPoint(const XlsSheet &sheet, quint32 row, quint16 col) const
{
    // Beside the row's other cells, in column order.
    const auto [lo, hi] = sheet.rowCells(row);
    for (size_t i = hi; i > lo; --i)
        if (sheet.cells[i - 1].col < col)
            return sheet.cells[i - 1].offset + sheet.cells[i - 1].length;
    if (hi > lo)
        return sheet.cells[lo].offset;

    // The row has no cell yet: its ROW record names its block, where the
    // cells of later rows start, or its DBCELL ends it.
    const XlsRow *rowRecord = sheet.rowRecord(row);
    if (!rowRecord)
        refuse(QStringLiteral("row %1 has no ROW record to place a cell in").arg(row + 1),
               QStringLiteral("第 %1 行没有 ROW 记录，无法在其中放入单元格").arg(row + 1));
    qint64 boundary = sheet.end;
    for (qint64 d : sheet.dbCells)
        if (d > rowRecord->offset) {
            boundary = d;
            break;
        }
    qint64 point = boundary;
    for (size_t i = hi; i < sheet.cells.size(); ++i)
        if (sheet.cells[i].offset > rowRecord->offset && sheet.cells[i].offset < point)
            point = sheet.cells[i].offset;
    if (point == sheet.end) {
        // No DBCELL and no later cell: after the last cell or ROW record.
        point = rowRecord->offset + kRowRecord;
        for (const XlsRow &r : sheet.rows)
            point = std::max(point, r.offset + kRowRecord);
        for (size_t i = 0; i < lo; ++i)
            point = std::max(point, sheet.cells[i].offset + sheet.cells[i].length);
    }
    return point;
}

QByteArray XlsPatcher::singleRecord(const Planned &p) const
{
    const XlsCellValue &v = p.change->value;
    QByteArray body = cellHeader(p.change->row, p.change->col, p.old ? p.old->xf : p.change->newXf);
    switch (v.kind) {
    case XlsCell::Kind::Text:
        if (p.sstIndex >= 0) {
            ByteWriter::appendLe32(body, quint32(p.sstIndex));
            return record(biff::LabelSst, body);
        } else {
            const bool wide = needsWide(v.text);
            ByteWriter::appendLe16(body, quint16(v.text.size()));
            body.append(char(wide ? 1 : 0));
            putChars(body, v.text, wide);
            if (body.size() > biff::kMaxRecordData)
                refuse(QStringLiteral("the text is too long for a workbook without a shared-string table"),
                       QStringLiteral("这个工作簿没有共享字符串表，放不下这么长的文字"));
            return record(biff::Label, body);
        }
    case XlsCell::Kind::Number:
        ByteWriter::appendLe64(body, std::bit_cast<quint64>(v.number));
        return record(biff::Number, body);
    case XlsCell::Kind::Boolean:
        body.append(char(v.number != 0 ? 1 : 0));
        body.append(char(0));
        return record(biff::BoolErr, body);
    default: return record(biff::Blank, body);
    }
}

QByteArray XlsPatcher::splitRecord(const XlsCell &old, const std::vector<const Planned *> &changed) const
{
    const ByteCursor c(m_wb.stream(), m_wb.what());
    const bool rk = old.record == XlsCell::Record::MulRk;
    const int each = rk ? 6 : 2;
    const qint64 at = old.offset + 4;
    const quint16 first = c.u16le(at + 2);
    const int count = (old.length - 4 - 6) / each;
    const auto part = [&](int from, int to) -> QByteArray { // unchanged cells [from, to) of the record
        if (to - from <= 0)
            return {};
        if (to - from == 1) {
            QByteArray b = cellHeader(old.row, quint16(first + from), c.u16le(at + 4 + each * from));
            if (rk)
                b.append(c.view(at + 4 + each * from + 2, 4).toByteArray());
            return record(rk ? biff::Rk : biff::Blank, b);
        }
        QByteArray b;
        ByteWriter::appendLe16(b, quint16(old.row));
        ByteWriter::appendLe16(b, quint16(first + from));
        b.append(c.view(at + 4 + each * from, qint64(each) * (to - from)).toByteArray());
        ByteWriter::appendLe16(b, quint16(first + to - 1));
        return record(rk ? biff::MulRk : biff::MulBlank, b);
    };
    QByteArray out;
    int from = 0;
    for (const Planned *p : changed) {
        const int k = p->change->col - first;
        out += part(from, k) + singleRecord(*p);
        from = k + 1;
    }
    return out + part(from, count);
}

QByteArray XlsPatcher::cells(int sheetIndex, const std::vector<XlsCellChange> &changes) const
{
    const XlsSheet &sheet = m_wb.sheet(sheetIndex);
    const QByteArray &in = m_wb.stream();
    const ByteCursor c(in, m_wb.what());
    const XlsSstLayout &sst = m_wb.sst();

    // The last change of each cell, in the order given; a blank where there
    // is no cell changes nothing.
    std::map<std::pair<quint32, quint16>, size_t> last;
    for (size_t i = 0; i < changes.size(); ++i)
        last[{changes[i].row, changes[i].col}] = i;
    std::vector<Planned> planned;
    int refDelta = 0;
    QStringList appended;            // new shared strings, in order
    QHash<QString, qint32> newIndex; // and their indexes
    // The first plain shared string of a text: looked for one by one for a
    // few texts, through a table of all for many.
    const size_t texts = size_t(std::count_if(changes.begin(), changes.end(), [](const XlsCellChange &c) {
        return c.value.kind == XlsCell::Kind::Text;
    }));
    QHash<QString, qint32> plainIndex;
    bool indexed = false;
    const auto existing = [&](const QString &text) -> qint32 {
        const QStringList &strings = m_wb.strings();
        if (texts <= 8) {
            for (int s = 0; s < m_wb.sstCount(); ++s)
                if (sst.plain[size_t(s)] && strings[s] == text)
                    return s;
            return -1;
        }
        if (!indexed) {
            indexed = true;
            plainIndex.reserve(m_wb.sstCount());
            for (int s = m_wb.sstCount() - 1; s >= 0; --s)
                if (sst.plain[size_t(s)])
                    plainIndex.insert(strings[s], s);
        }
        return plainIndex.value(text, -1);
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        const XlsCellChange &change = changes[i];
        if (last[{change.row, change.col}] != i)
            continue;
        Planned p{&change, sheet.cell(change.row, change.col)};
        if (!p.old && change.value.kind == XlsCell::Kind::Blank)
            continue;
        if (p.old && p.old->record == XlsCell::Record::SharedFormula) {
            const QString cellName = QStringLiteral("R%1C%2").arg(change.row + 1).arg(change.col + 1);
            refuse(QStringLiteral("cell %1 holds a shared, array or table formula").arg(cellName),
                   QStringLiteral("单元格 %1 里是共享公式、数组公式或模拟运算表").arg(cellName));
        }
        if (p.old && p.old->record == XlsCell::Record::Single && c.u16le(p.old->offset) == biff::LabelSst)
            --refDelta;
        // The shared string: an equal plain one, else a new one at the end.
        if (change.value.kind == XlsCell::Kind::Text && sst.sst >= 0) {
            ++refDelta;
            p.sstIndex = existing(change.value.text);
            if (p.sstIndex < 0)
                p.sstIndex = newIndex.value(change.value.text, -1);
            if (p.sstIndex < 0) {
                p.sstIndex = qint32(m_wb.sstCount() + appended.size());
                newIndex.insert(change.value.text, p.sstIndex);
                appended.append(change.value.text);
            }
        }
        planned.push_back(p);
    }
    if (planned.empty())
        return {};

    std::vector<Splice> splices;
    std::vector<qint64> starts = sst.starts;
    std::vector<qint64> startRecords = sst.startRecords;
    if (!appended.isEmpty()) {
        // The last record of the table and CONTINUE records after it; a
        // text split between records goes on behind a byte that says
        // whether its characters take one or two bytes.
        std::vector<std::pair<quint16, QByteArray>> records{
            {c.u16le(sst.lastRecord), in.mid(sst.lastRecord + 4, sst.lastLength)}};
        qint64 recordStart = sst.lastRecord;
        const auto next = [&](bool flag, bool wide) {
            recordStart += 4 + records.back().second.size();
            records.emplace_back(biff::Continue, QByteArray());
            if (flag)
                records.back().second.append(char(wide ? 1 : 0));
        };
        for (const QString &text : std::as_const(appended)) {
            const bool wide = needsWide(text);
            const int charSize = wide ? 2 : 1;
            if (records.back().second.size() + 3 + charSize > biff::kMaxRecordData)
                next(false, wide);
            starts.push_back(recordStart + 4 + records.back().second.size());
            startRecords.push_back(recordStart);
            QByteArray &head = records.back().second;
            ByteWriter::appendLe16(head, quint16(text.size()));
            head.append(char(wide ? 1 : 0));
            for (qsizetype done = 0; done < text.size();) {
                qsizetype room = (biff::kMaxRecordData - records.back().second.size()) / charSize;
                if (room <= 0) {
                    next(true, wide);
                    room = (biff::kMaxRecordData - 1) / charSize;
                }
                const qsizetype n = std::min(room, text.size() - done);
                putChars(records.back().second, QStringView(text).mid(done, n), wide);
                done += n;
            }
        }
        QByteArray bytes;
        for (const auto &[type, body] : records)
            bytes += record(type, body);
        splices.push_back({sst.lastRecord, sst.lastRecord + 4 + sst.lastLength, bytes});

        if (sst.extSst >= 0) {
            const int oldLength = c.u16le(sst.extSst + 2);
            const qint64 size = std::max<quint16>(sst.bucketSize, 1);
            const qint64 buckets = (qint64(starts.size()) + size - 1) / size;
            const qint64 oldBuckets = (qint64(sst.starts.size()) + size - 1) / size;
            QByteArray body = in.mid(sst.extSst + 4, oldLength);
            if (buckets * 8 + 2 > body.size()) {
                // Each new bucket starts with its first string, written the
                // way the bucket's entries are meant (stream position,
                // offset within its record).
                if (2 + buckets * 8 <= biff::kMaxRecordData && body.size() == 2 + oldBuckets * 8) {
                    for (qint64 b = oldBuckets; b < buckets; ++b) {
                        const size_t i = size_t(b * size);
                        ByteWriter::appendLe32(body, quint32(starts[i]));
                        ByteWriter::appendLe16(body, quint16(starts[i] - startRecords[i]));
                        ByteWriter::appendLe16(body, 0);
                    }
                } else {
                    quint16 bucketSize = std::max<quint16>(sst.bucketSize, 8);
                    while ((qint64(starts.size()) + bucketSize - 1) / bucketSize > 128)
                        bucketSize = quint16(bucketSize * 2);
                    body = extSstBody(bucketSize, starts, startRecords);
                }
            }
            splices.push_back({sst.extSst, sst.extSst + 4 + oldLength, record(biff::ExtSst, body)});
        }
    }

    // A changed cell replaces its record; the cells of one MULRK or
    // MULBLANK replace theirs together. A new cell is inserted where the
    // row's cells are.
    std::map<qint64, std::vector<const Planned *>> byRecord;
    for (const Planned &p : planned) {
        if (p.old) {
            byRecord[p.old->offset].push_back(&p);
        } else {
            const qint64 point = insertionPoint(sheet, p.change->row, p.change->col);
            splices.push_back({point, point, singleRecord(p), true, p.change->row, p.change->col});
        }
    }
    for (auto &[offset, group] : byRecord) {
        const XlsCell &old = *group.front()->old;
        std::sort(group.begin(), group.end(),
                  [](const Planned *a, const Planned *b) { return a->change->col < b->change->col; });
        const bool split = old.record == XlsCell::Record::MulRk || old.record == XlsCell::Record::MulBlank;
        splices.push_back({offset, offset + old.length,
                           split ? splitRecord(old, group) : singleRecord(*group[0]), false, old.row,
                           old.col});
    }
    // In stream order; cells inserted at one point in row and column order,
    // ahead of a record replaced there.
    std::sort(splices.begin(), splices.end(), [](const Splice &a, const Splice &b) {
        if (a.from != b.from)
            return a.from < b.from;
        if (a.inserted != b.inserted)
            return a.inserted;
        return std::pair(a.row, a.col) < std::pair(b.row, b.col);
    });

    QByteArray out;
    qint64 grow = 0;
    for (const Splice &s : splices)
        grow += s.bytes.size() - (s.to - s.from);
    out.reserve(in.size() + grow);
    qint64 at = 0;
    // The first cell inserted into each row: where it was inserted in the
    // old stream, and where it lies in the new one.
    std::map<quint32, std::pair<qint64, qint64>> firstInserted;
    for (const Splice &s : splices) {
        out.append(in.constData() + at, s.from - at);
        if (s.inserted && !firstInserted.count(s.row))
            firstInserted[s.row] = {s.from, out.size()};
        out.append(s.bytes);
        at = s.to;
    }
    out.append(in.constData() + at, in.size() - at);
    const OffsetMap map(splices);

    ByteWriter w(out);
    const ByteCursor o(out, m_wb.what());
    const auto movePointer = [&](qint64 field) {
        const quint32 value = o.u32le(field);
        if (value > 0 && value < quint32(in.size()))
            w.le32(field, quint32(map(value)));
    };

    // Shared-string counts.
    if (sst.sst >= 0 && (refDelta != 0 || !appended.isEmpty())) {
        w.le32(sst.sst + 4, quint32(qint64(sst.total) + refDelta));
        w.le32(sst.sst + 8, quint32(starts.size()));
    }
    // Where each sheet starts, and each sheet's INDEX.
    for (const XlsSheetEntry &entry : m_wb.sheets()) {
        w.le32(map(entry.boundSheet) + 4, quint32(map(entry.bof)));
        for (qint64 r = map(entry.bof); o.has(r, 4);) {
            const quint16 type = o.u16le(r);
            const qint64 length = o.u16le(r + 2);
            if (type == biff::Index && length >= 16) {
                movePointer(r + 4 + 12);
                for (qint64 k = 16; k + 4 <= length; k += 4)
                    movePointer(r + 4 + k);
                break;
            }
            if (type == biff::Eof || type == biff::Row || type == biff::Dimensions ||
                (r > map(entry.bof) && type == biff::Bof))
                break;
            r += 4 + length;
        }
    }

    // The DBCELL of each edited block: its offsets point at the first ROW
    // record and at the first cell of each row; they move with what they
    // point at, and a row that gained a cell before its first one (or had
    // none) points at the new one; one still without cells points where its
    // cells would go.
    std::set<qint64> edited;
    for (const Splice &s : splices) {
        if (s.row == kNoRow)
            continue;
        const auto d = std::lower_bound(sheet.dbCells.begin(), sheet.dbCells.end(), s.from);
        if (d != sheet.dbCells.end())
            edited.insert(*d);
    }
    // Where the cells of a row that has none would go: past the cells
    // inserted at `p` for earlier rows, ahead of those for later ones.
    const auto wouldGo = [&](qint64 p, quint32 row) {
        qint64 at = map.before(p);
        for (const Splice &s : splices)
            if (s.from == p && s.inserted && s.row < row)
                at += s.bytes.size();
        return at;
    };
    for (qint64 d : edited) {
        const qint64 length = c.u16le(d + 2);
        const qint64 firstRow = d - c.u32le(d + 4);
        const int n = int((length - 4) / 2);
        if (c.u32le(d + 4) == 0 || firstRow < 0 || n <= 0)
            continue;
        const qint64 newD = map(d);
        const qint64 newFirstRow = map(firstRow);
        w.le32(newD + 4, quint32(newD - newFirstRow));
        qint64 oldPrev = firstRow + kRowRecord, newPrev = newFirstRow + kRowRecord;
        for (int k = 0; k < n; ++k) {
            const qint64 oldTarget = oldPrev + c.u16le(d + 8 + 2 * k);
            qint64 newTarget = map(oldTarget);
            const qint64 rowAt = firstRow + qint64(k) * kRowRecord;
            if (c.has(rowAt, 6) && c.u16le(rowAt) == biff::Row) {
                const quint32 row = c.u16le(rowAt + 4);
                const auto inserted = firstInserted.find(row);
                const bool rowWasEmpty = sheet.rowCells(row).first == sheet.rowCells(row).second;
                if (inserted != firstInserted.end() && (rowWasEmpty || inserted->second.first <= oldTarget))
                    newTarget = inserted->second.second;
                else if (rowWasEmpty)
                    newTarget = wouldGo(oldTarget, row);
            }
            w.le16(newD + 8 + 2 * k, quint16(newTarget - newPrev));
            oldPrev = oldTarget;
            newPrev = newTarget;
        }
    }

    // DIMENSIONS, each new cell's ROW record and INDEX take in the new cells.
    for (const Planned &p : planned) {
        if (p.old)
            continue;
        const quint32 row = p.change->row;
        const quint16 col = p.change->col;
        if (sheet.dimensions >= 0 && c.u16le(sheet.dimensions + 2) >= 14) {
            const qint64 dim = map(sheet.dimensions) + 4;
            w.le32(dim, std::min(o.u32le(dim), row));
            w.le32(dim + 4, std::max(o.u32le(dim + 4), row + 1));
            w.le16(dim + 8, std::min<quint16>(o.u16le(dim + 8), col));
            w.le16(dim + 10, std::max<quint16>(o.u16le(dim + 10), quint16(col + 1)));
        }
        if (const XlsRow *r = sheet.rowRecord(row)) {
            const qint64 body = map(r->offset) + 4;
            const bool none = o.u16le(body + 2) >= o.u16le(body + 4);
            w.le16(body + 2, none ? col : std::min<quint16>(o.u16le(body + 2), col));
            w.le16(body + 4,
                   none ? quint16(col + 1) : std::max<quint16>(o.u16le(body + 4), quint16(col + 1)));
        }
        if (sheet.index >= 0 && c.u16le(sheet.index + 2) >= 16) {
            const qint64 body = map(sheet.index) + 4;
            w.le32(body + 4, std::min(o.u32le(body + 4), row));
            w.le32(body + 8, std::max(o.u32le(body + 8), row + 1));
        }
    }
    return out;
}

} // namespace lumora::engine
