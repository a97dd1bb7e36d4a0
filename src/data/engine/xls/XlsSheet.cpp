#include "data/engine/xls/XlsRecords.h"
#include "data/engine/xls/XlsWorkbook.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"

#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace lumora::engine {
using namespace xlsrecords;

namespace {
// Compares a cell with a row number, for searching the sorted cells.
struct RowOrder
{
    bool operator()(const XlsCell &c, quint32 row) const { return c.row < row; }
    bool operator()(quint32 row, const XlsCell &c) const { return row < c.row; }
};
} // namespace

// ---- sheets --------------------------------------------------------------

const XlsSheet &XlsWorkbook::sheet(int i) const
{
    if (!m_parsed.at(size_t(i)))
        m_parsed[size_t(i)] = readSheet(i);
    return *m_parsed[size_t(i)];
}

std::unique_ptr<XlsSheet> XlsWorkbook::readSheet(int i) const
{
    const XlsSheetEntry &entry = m_sheets.at(i);
    const ByteCursor c(m_stream, m_what);
    auto sheet = std::make_unique<XlsSheet>();
    const uchar *data = reinterpret_cast<const uchar *>(m_stream.constData());
    Header h = header(c, entry.bof, m_what);
    if (h.type != biff::Bof || h.length < 4 || Body{data + h.body}.u16le(2) != 0x0010)
        throw EngineError::format(
            u"%1 is damaged: sheet %2 does not start where the workbook says (offset %3)",
            u"文件 %1 已损坏：工作表 %2 不在工作簿所说的位置（第 %3 个字节）开始", m_what, entry.name,
            entry.bof);
    std::vector<XlsCell> &cells = sheet->cells;
    cells.reserve(size_t(std::max<qint64>(0, m_stream.size() - entry.bof)) / 16);
    int depth = 1;
    qint64 pendingString = -1; // a formula cell waiting for its STRING record
    const auto cellAt = [&](const Header &r, XlsCell::Kind kind) -> XlsCell & {
        const Body rb{data + r.body};
        XlsCell &cell = cells.emplace_back();
        cell.row = rb.u16le(0);
        cell.col = rb.u16le(2);
        cell.xf = rb.u16le(4);
        cell.kind = kind;
        cell.offset = r.body - 4;
        cell.length = 4 + r.length;
        return cell;
    };
    for (qint64 at = h.next(); depth > 0;) {
        if (!c.has(at, 4))
            throw EngineError::format(
                u"%1 is damaged: sheet %2 has no end (EOF record); the file is truncated",
                u"文件 %1 已损坏：工作表 %2 没有结束记录（EOF），文件被截断了", m_what, entry.name);
        // header() without its checks of the 4 bytes just checked.
        h = {Body{data + at}.u16le(0), Body{data + at}.u16le(2), at + 4};
        if (h.next() > m_stream.size())
            h = header(c, at, m_what); // throws, naming the record
        at = h.next();
        const Body b{data + h.body};
        if (pendingString >= 0 && h.type != biff::String && h.type != 0x04BC && h.type != 0x0221 &&
            h.type != 0x0236 && h.type != biff::Continue) {
            // A text formula without its STRING record: its value is unknown.
            cells[size_t(pendingString)].kind = XlsCell::Kind::Error;
            pendingString = -1;
        }
        if (h.type == biff::Bof) {
            ++depth;
            continue;
        }
        if (h.type == biff::Eof) {
            --depth;
            continue;
        }
        if (depth > 1)
            continue; // an embedded chart's records
        switch (h.type) {
        case biff::Dimensions: sheet->dimensions = h.body - 4; break;
        case biff::Index: sheet->index = h.body - 4; break;
        case biff::DbCell: sheet->dbCells.push_back(h.body - 4); break;
        case biff::Row:
            if (h.length >= 6)
                sheet->rows.push_back({b.u16le(0), h.body - 4});
            break;
        case biff::ColInfo:
            if (h.length >= 8)
                sheet->colInfo.push_back({b.u16le(0), b.u16le(2), b.u16le(6)});
            break;
        case biff::LabelSst:
            if (h.length >= 10) {
                const quint32 isst = b.u32le(6);
                if (isst >= m_sst.starts.size())
                    throw EngineError::format(
                        u"%1 is damaged: cell %2 of sheet %3 refers to shared text %4, but there are only %5",
                        u"文件 %1 已损坏：工作表 %3 的单元格 %2 引用了第 %4 个共享字符串，但总共只有 %5 个",
                        m_what, QStringLiteral("R%1C%2").arg(b.u16le(0) + 1).arg(b.u16le(2) + 1), entry.name,
                        isst, m_sst.starts.size());
                cellAt(h, XlsCell::Kind::Text).text = qint32(isst);
            }
            break;
        case biff::Label:
        case biff::RString:
            if (h.length >= 9) {
                XlsCell &cell = cellAt(h, XlsCell::Kind::Text);
                cell.text = qint32(m_strings.size());
                m_strings.append(shortString(c, h.body + 6, h.next(), false));
            }
            break;
        case biff::Number:
            if (h.length >= 14)
                cellAt(h, XlsCell::Kind::Number).number = b.f64le(6);
            break;
        case biff::Rk:
            if (h.length >= 10)
                cellAt(h, XlsCell::Kind::Number).number = rkValue(b.u32le(6));
            break;
        case biff::BoolErr:
            if (h.length >= 8) {
                const bool error = b.u8(7) != 0;
                XlsCell &cell = cellAt(h, error ? XlsCell::Kind::Error : XlsCell::Kind::Boolean);
                cell.number = error ? 0 : (b.u8(6) != 0);
            }
            break;
        case biff::Blank:
            if (h.length >= 6)
                cellAt(h, XlsCell::Kind::Blank);
            break;
        case biff::MulRk:
        case biff::MulBlank: {
            const bool rk = h.type == biff::MulRk;
            const int each = rk ? 6 : 2;
            if (h.length < 6)
                break;
            const quint16 row = b.u16le(0);
            const quint16 first = b.u16le(2);
            const int n = (h.length - 6) / each;
            for (int k = 0; k < n; ++k) {
                XlsCell &cell = cells.emplace_back();
                cell.row = row;
                cell.col = quint16(first + k);
                cell.xf = b.u16le(4 + each * k);
                cell.kind = rk ? XlsCell::Kind::Number : XlsCell::Kind::Blank;
                if (rk)
                    cell.number = rkValue(b.u32le(6 + each * k));
                cell.record = rk ? XlsCell::Record::MulRk : XlsCell::Record::MulBlank;
                cell.offset = h.body - 4;
                cell.length = 4 + h.length;
            }
            break;
        }
        case biff::Formula:
            if (h.length >= 22) {
                XlsCell &cell = cellAt(h, XlsCell::Kind::Number);
                const quint8 ptg = h.length > 22 ? b.u8(22) : 0;
                cell.record =
                    ptg == 0x01 || ptg == 0x02 ? XlsCell::Record::SharedFormula : XlsCell::Record::Formula;
                if (b.u16le(12) == 0xFFFF) {
                    switch (b.u8(6)) {
                    case 0:
                        cell.kind = XlsCell::Kind::Text;
                        pendingString = qint64(cells.size()) - 1;
                        break;
                    case 1:
                        cell.kind = XlsCell::Kind::Boolean;
                        cell.number = b.u8(8) != 0;
                        break;
                    case 3:
                        cell.kind = XlsCell::Kind::Text;
                        cell.text = qint32(m_strings.size());
                        m_strings.append(QString());
                        break;
                    default: cell.kind = XlsCell::Kind::Error; break;
                    }
                } else {
                    cell.number = b.f64le(6);
                }
            }
            break;
        case biff::String:
            if (pendingString >= 0) {
                XlsCell &cell = cells[size_t(pendingString)];
                // The text may go on in CONTINUE records.
                std::vector<ContinuedReader::Segment> segments{{h.body, h.length, h.body - 4}};
                qint64 next = h.next();
                while (c.has(next, 4) && c.u16le(next) == biff::Continue) {
                    const Header k = header(c, next, m_what);
                    segments.push_back({k.body, k.length, next});
                    next = k.next();
                }
                ContinuedReader r(c, std::move(segments), m_what);
                const int cch = r.u16();
                const bool wide = r.u8() & 1;
                cell.text = qint32(m_strings.size());
                m_strings.append(r.chars(cch, wide));
                if (cell.offset + cell.length == h.body - 4)
                    cell.length = int(next - cell.offset);
                else
                    cell.record = XlsCell::Record::SharedFormula; // something stands between: leave it alone
                pendingString = -1;
                at = next;
            }
            break;
        default: break;
        }
    }
    sheet->end = h.next();
    const auto before = [](const XlsCell &a, const XlsCell &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before))
        std::stable_sort(cells.begin(), cells.end(), before);
    // Two records for one cell: the later one counts, as in Excel.
    const auto kept = std::unique(cells.rbegin(), cells.rend(), [](const XlsCell &a, const XlsCell &b) {
        return a.row == b.row && a.col == b.col;
    });
    cells.erase(cells.begin(), kept.base());
    const auto rowOrder = [](const XlsRow &a, const XlsRow &b) { return a.row < b.row; };
    if (!std::is_sorted(sheet->rows.begin(), sheet->rows.end(), rowOrder))
        std::sort(sheet->rows.begin(), sheet->rows.end(), rowOrder);
    // The room reserved from the stream's size is given back when the
    // records held far fewer cells (a sheet of pictures, or of styles).
    if (cells.capacity() > 2 * cells.size() + 1024)
        cells.shrink_to_fit();
    // A row index costs four bytes for every row up to the last: kept when
    // that is less than the cells cost, so a roster's cells are found
    // directly and a few cells far apart cost no index.
    const size_t lastRow = cells.empty() ? 0 : cells.back().row;
    if ((lastRow + 2) * sizeof(quint32) <= cells.size() * sizeof(XlsCell)) {
        sheet->rowStart.assign(lastRow + 2, quint32(cells.size()));
        for (size_t i = cells.size(); i-- > 0;)
            sheet->rowStart[cells[i].row] = quint32(i);
        for (size_t r = lastRow + 1; r-- > 0;)
            sheet->rowStart[r] = std::min(sheet->rowStart[r], sheet->rowStart[r + 1]);
    }
    return sheet;
}

// ---- cell look-up --------------------------------------------------------

std::pair<size_t, size_t> XlsSheet::rowCells(quint32 row) const
{
    if (!rowStart.empty()) {
        if (size_t(row) + 1 >= rowStart.size())
            return {cells.size(), cells.size()};
        return {rowStart[row], rowStart[size_t(row) + 1]};
    }
    const auto [from, to] = std::equal_range(cells.begin(), cells.end(), row, RowOrder{});
    return {size_t(from - cells.begin()), size_t(to - cells.begin())};
}

const XlsCell *XlsSheet::cell(quint32 row, quint16 col) const
{
    if (!rowStart.empty()) {
        const auto [from, to] = rowCells(row);
        for (size_t i = from; i < to; ++i)
            if (cells[i].col == col)
                return &cells[i];
        return nullptr;
    }
    const auto it = std::lower_bound(cells.begin(), cells.end(), std::pair(row, col),
                                     [](const XlsCell &c, const std::pair<quint32, quint16> &key) {
                                         return c.row != key.first ? c.row < key.first : c.col < key.second;
                                     });
    return it != cells.end() && it->row == row && it->col == col ? &*it : nullptr;
}

const XlsRow *XlsSheet::rowRecord(quint32 row) const
{
    const auto it = std::lower_bound(rows.begin(), rows.end(), row,
                                     [](const XlsRow &r, quint32 key) { return r.row < key; });
    return it != rows.end() && it->row == row ? &*it : nullptr;
}

quint16 XlsSheet::columnXf(quint16 col) const
{
    for (const ColInfo &info : colInfo)
        if (col >= info.first && col <= info.last)
            return info.xf;
    return 15;
}

} // namespace lumora::engine
