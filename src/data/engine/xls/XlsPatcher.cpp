#include "data/engine/xls/XlsPatcher.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/ByteCursor.h"
#include "data/engine/dbf/ByteWriter.h"

#include <algorithm>
#include <cstring>

namespace lumora::engine {

namespace {

constexpr int kRowRecord = 20; // a ROW record, header included

void putLe16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

void putLe32(QByteArray &b, quint32 v)
{
    putLe16(b, quint16(v & 0xFFFF));
    putLe16(b, quint16(v >> 16));
}

void putDouble(QByteArray &b, double d)
{
    quint64 bits;
    std::memcpy(&bits, &d, sizeof bits);
    putLe32(b, quint32(bits));
    putLe32(b, quint32(bits >> 32));
}

bool needsWide(const QString &s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

void putChars(QByteArray &b, QStringView s, bool wide)
{
    for (QChar ch : s) {
        if (wide)
            putLe16(b, ch.unicode());
        else
            b.append(char(ch.unicode()));
    }
}

QByteArray cellHeader(quint32 row, quint16 col, quint16 xf)
{
    QByteArray b;
    putLe16(b, quint16(row));
    putLe16(b, col);
    putLe16(b, xf);
    return b;
}

} // namespace

QByteArray XlsPatcher::record(quint16 type, const QByteArray &body)
{
    QByteArray r;
    r.reserve(4 + body.size());
    putLe16(r, type);
    putLe16(r, quint16(body.size()));
    r.append(body);
    return r;
}

QByteArray XlsPatcher::extSstBody(quint16 bucketSize, const std::vector<qint64> &starts,
                                  const std::vector<qint64> &records)
{
    QByteArray b;
    putLe16(b, bucketSize);
    for (size_t i = 0; i < starts.size(); i += std::max<quint16>(bucketSize, 1)) {
        putLe32(b, quint32(starts[i]));
        putLe16(b, quint16(starts[i] - records[i]));
        putLe16(b, 0);
    }
    return b;
}

void XlsPatcher::refuse(const QString &why, const QString &chinese) const
{
    throw EngineError(QStringLiteral("%1 is not written: %2").arg(m_wb.what(), why),
                      QStringLiteral("没有写入 %1：%2").arg(m_wb.what(), chinese));
}

qint64 XlsPatcher::mapOffset(const std::vector<Splice> &splices, qint64 p)
{
    qint64 shift = 0;
    for (const Splice &s : splices) {
        if (p < s.from)
            break;
        if (s.from == s.to) {
            shift += s.bytes.size(); // what was at the insertion point moves behind it
        } else if (p >= s.to) {
            shift += s.bytes.size() - (s.to - s.from);
        } else if (p > s.from) {
            return s.from + shift + std::min<qint64>(p - s.from, s.bytes.size());
        }
    }
    return p + shift;
}

QByteArray XlsPatcher::cellRecords(const XlsCell *old, quint32 row, quint16 col, const XlsCellValue &v,
                                   quint16 xf, qint32 sstIndex) const
{
    const quint16 cellXf = old ? old->xf : xf;
    QByteArray body = cellHeader(row, col, cellXf);
    QByteArray single;
    switch (v.kind) {
    case XlsCell::Kind::Text:
        if (sstIndex >= 0) {
            putLe32(body, quint32(sstIndex));
            single = record(biff::LabelSst, body);
        } else {
            const bool wide = needsWide(v.text);
            putLe16(body, quint16(v.text.size()));
            body.append(char(wide ? 1 : 0));
            putChars(body, v.text, wide);
            if (body.size() > biff::kMaxRecordData)
                refuse(QStringLiteral("the text is too long for a workbook without a shared-string table"),
                       QStringLiteral("这个工作簿没有共享字符串表，放不下这么长的文字"));
            single = record(biff::Label, body);
        }
        break;
    case XlsCell::Kind::Number:
        putDouble(body, v.number);
        single = record(biff::Number, body);
        break;
    case XlsCell::Kind::Boolean:
        body.append(char(v.number != 0 ? 1 : 0));
        body.append(char(0));
        single = record(biff::BoolErr, body);
        break;
    default: single = record(biff::Blank, body); break;
    }
    if (!old || (old->record != XlsCell::Record::MulRk && old->record != XlsCell::Record::MulBlank))
        return single;

    // Split the MULRK or MULBLANK around the cell.
    const ByteCursor c(m_wb.stream(), m_wb.what());
    const bool rk = old->record == XlsCell::Record::MulRk;
    const int each = rk ? 6 : 2;
    const qint64 at = old->offset + 4;
    const quint16 first = c.u16le(at + 2);
    const int count = (old->length - 4 - 6) / each;
    const auto part = [&](int from, int to) -> QByteArray { // cells [from, to) of the record
        if (to - from <= 0)
            return {};
        if (to - from == 1) {
            QByteArray b = cellHeader(row, quint16(first + from), c.u16le(at + 4 + each * from));
            if (rk)
                b.append(c.view(at + 4 + each * from + 2, 4).toByteArray());
            return record(rk ? biff::Rk : biff::Blank, b);
        }
        QByteArray b;
        putLe16(b, quint16(row));
        putLe16(b, quint16(first + from));
        b.append(c.view(at + 4 + each * from, qint64(each) * (to - from)).toByteArray());
        putLe16(b, quint16(first + to - 1));
        return record(rk ? biff::MulRk : biff::MulBlank, b);
    };
    const int k = col - first;
    return part(0, k) + single + part(k + 1, count);
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

QByteArray XlsPatcher::cell(int sheetIndex, quint32 row, quint16 col, const XlsCellValue &v,
                            quint16 newXf) const
{
    const XlsSheet &sheet = m_wb.sheet(sheetIndex);
    const XlsCell *old = sheet.cell(row, col);
    const QString cellName = QStringLiteral("R%1C%2").arg(row + 1).arg(col + 1);
    if (!old && v.kind == XlsCell::Kind::Blank)
        return {};
    if (old && old->record == XlsCell::Record::SharedFormula)
        refuse(QStringLiteral("cell %1 holds a shared, array or table formula").arg(cellName),
               QStringLiteral("单元格 %1 里是共享公式、数组公式或模拟运算表").arg(cellName));
    const QByteArray &in = m_wb.stream();
    const ByteCursor c(in, m_wb.what());
    const XlsSstLayout &sst = m_wb.sst();

    // The shared string: an equal plain one, else a new one at the end.
    int refDelta = 0;
    if (old && old->record == XlsCell::Record::Single && c.u16le(old->offset) == biff::LabelSst)
        --refDelta;
    qint32 sstIndex = -1;
    bool append = false;
    if (v.kind == XlsCell::Kind::Text && sst.sst >= 0) {
        ++refDelta;
        const QStringList &strings = m_wb.strings();
        for (int i = 0; i < m_wb.sstCount() && sstIndex < 0; ++i)
            if (sst.plain[size_t(i)] && strings[i] == v.text)
                sstIndex = i;
        if (sstIndex < 0) {
            sstIndex = m_wb.sstCount();
            append = true;
        }
    }

    std::vector<Splice> splices;
    std::vector<qint64> starts = sst.starts;
    std::vector<qint64> startRecords = sst.startRecords;
    if (append) {
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
        const bool wide = needsWide(v.text);
        const int charSize = wide ? 2 : 1;
        if (records.back().second.size() + 3 + charSize > biff::kMaxRecordData)
            next(false, wide);
        starts.push_back(recordStart + 4 + records.back().second.size());
        startRecords.push_back(recordStart);
        QByteArray &head = records.back().second;
        putLe16(head, quint16(v.text.size()));
        head.append(char(wide ? 1 : 0));
        for (qsizetype done = 0; done < v.text.size();) {
            qsizetype room = (biff::kMaxRecordData - records.back().second.size()) / charSize;
            if (room <= 0) {
                next(true, wide);
                room = (biff::kMaxRecordData - 1) / charSize;
            }
            const qsizetype n = std::min(room, v.text.size() - done);
            putChars(records.back().second, QStringView(v.text).mid(done, n), wide);
            done += n;
        }
        QByteArray bytes;
        for (const auto &[type, body] : records)
            bytes += record(type, body);
        splices.push_back({sst.lastRecord, sst.lastRecord + 4 + sst.lastLength, bytes});

        if (sst.extSst >= 0) {
            const int oldLength = c.u16le(sst.extSst + 2);
            const qint64 buckets =
                (qint64(starts.size()) + sst.bucketSize - 1) / std::max<quint16>(sst.bucketSize, 1);
            QByteArray body = in.mid(sst.extSst + 4, oldLength);
            if (buckets * 8 + 2 > body.size()) {
                // A new bucket starts with the new string, written the way
                // the bucket's entries are meant (stream position, offset
                // within its record).
                if (2 + buckets * 8 <= biff::kMaxRecordData && body.size() == 2 + (buckets - 1) * 8) {
                    putLe32(body, quint32(starts.back()));
                    putLe16(body, quint16(starts.back() - startRecords.back()));
                    putLe16(body, 0);
                } else {
                    quint16 size = std::max<quint16>(sst.bucketSize, 8);
                    while ((qint64(starts.size()) + size - 1) / size > 128)
                        size = quint16(size * 2);
                    body = extSstBody(size, starts, startRecords);
                }
            }
            splices.push_back({sst.extSst, sst.extSst + 4 + oldLength, record(biff::ExtSst, body)});
        }
    }

    const QByteArray cellBytes = cellRecords(old, row, col, v, newXf, sstIndex);
    const qint64 point = old ? old->offset : insertionPoint(sheet, row, col);
    splices.push_back({point, old ? old->offset + old->length : point, cellBytes});
    std::sort(splices.begin(), splices.end(),
              [](const Splice &a, const Splice &b) { return a.from < b.from; });

    QByteArray out;
    qint64 grow = 0;
    for (const Splice &s : splices)
        grow += s.bytes.size() - (s.to - s.from);
    out.reserve(in.size() + grow);
    qint64 at = 0;
    qint64 newCellAt = -1;
    for (const Splice &s : splices) {
        out.append(in.constData() + at, s.from - at);
        if (s.from == point)
            newCellAt = out.size();
        out.append(s.bytes);
        at = s.to;
    }
    out.append(in.constData() + at, in.size() - at);
    const auto map = [&](qint64 p) { return mapOffset(splices, p); };

    ByteWriter w(out);
    const ByteCursor o(out, m_wb.what());
    const auto movePointer = [&](qint64 field) {
        const quint32 value = o.u32le(field);
        if (value > 0 && value < quint32(in.size()))
            w.le32(field, quint32(map(value)));
    };

    // Shared-string counts.
    if (sst.sst >= 0 && (refDelta != 0 || append)) {
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

    // The DBCELL of the edited block: its offsets point at the first ROW
    // record and at the first cell of each row; they move with what they
    // point at, and the row that had no cell points at the new one.
    const bool rowWasEmpty = sheet.rowCells(row).first == sheet.rowCells(row).second;
    for (qint64 d : sheet.dbCells) {
        if (d < point)
            continue;
        const qint64 length = c.u16le(d + 2);
        const qint64 firstRow = d - c.u32le(d + 4);
        const int n = int((length - 4) / 2);
        if (c.u32le(d + 4) == 0 || firstRow < 0 || n <= 0)
            break;
        const qint64 newD = map(d);
        const qint64 newFirstRow = map(firstRow);
        w.le32(newD + 4, quint32(newD - newFirstRow));
        qint64 oldPrev = firstRow + kRowRecord, newPrev = newFirstRow + kRowRecord;
        for (int k = 0; k < n; ++k) {
            const qint64 oldTarget = oldPrev + c.u16le(d + 8 + 2 * k);
            qint64 newTarget = map(oldTarget);
            const qint64 rowAt = firstRow + qint64(k) * kRowRecord;
            // A cell inserted before the row's first one (or into a row
            // that had none) is the row's first cell now.
            if (!old && (rowWasEmpty || point <= oldTarget) && c.has(rowAt, 6) &&
                c.u16le(rowAt) == biff::Row && c.u16le(rowAt + 4) == row)
                newTarget = newCellAt;
            w.le16(newD + 8 + 2 * k, quint16(newTarget - newPrev));
            oldPrev = oldTarget;
            newPrev = newTarget;
        }
        break;
    }

    // DIMENSIONS, the row's ROW record and INDEX take in the cell.
    if (!old) {
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
