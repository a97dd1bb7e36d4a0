#include "data/engine/xls/XlsTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/FieldNames.h"
#include "data/engine/xls/XlsPatcher.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace lumora::engine {

namespace {

// The longest text a cell holds.
constexpr int kMaxCellText = 32767;

SheetCellView viewOf(const XlsWorkbook &wb, const XlsCell &cell)
{
    SheetCellView v;
    v.kind = cell.kind;
    v.number = cell.number;
    if (cell.kind == CellKind::Text)
        v.text = &wb.strings().at(cell.text);
    else if (cell.kind == CellKind::Number)
        v.style = wb.style(cell.xf);
    return v;
}

} // namespace

// ---- dates ---------------------------------------------------------------

Value XlsTable::serialToDate(double serial, bool uses1904)
{
    return sheetSerialToDate(serial, uses1904);
}

double XlsTable::dateToSerial(const QDateTime &dt, bool uses1904)
{
    return sheetDateToSerial(dt, uses1904);
}

// ---- opening -------------------------------------------------------------

XlsTable::Area XlsTable::usedArea(const XlsWorkbook &wb, int sheet)
{
    Area a;
    a.sheet = sheet;
    for (const XlsCell &cell : wb.sheet(sheet).cells) {
        if (cell.kind == XlsCell::Kind::Blank)
            continue;
        if (a.empty) {
            a.firstRow = a.lastRow = cell.row;
            a.firstCol = a.lastCol = cell.col;
            a.empty = false;
        }
        a.firstRow = std::min(a.firstRow, cell.row);
        a.lastRow = std::max(a.lastRow, cell.row);
        a.firstCol = std::min(a.firstCol, cell.col);
        a.lastCol = std::max(a.lastCol, cell.col);
    }
    return a;
}

XlsTable::Area XlsTable::nameArea(const XlsWorkbook &wb, const XlsDefinedName &n)
{
    Area a{n.sheet, n.firstRow, n.firstRow, n.firstCol, n.lastCol, false};
    const std::vector<XlsCell> &cells = wb.sheet(n.sheet).cells;
    const auto from = std::lower_bound(cells.begin(), cells.end(), n.firstRow,
                                       [](const XlsCell &c, quint32 r) { return c.row < r; });
    for (auto it = from; it != cells.end() && it->row <= n.lastRow; ++it)
        if (it->kind != XlsCell::Kind::Blank && it->col >= n.firstCol && it->col <= n.lastCol)
            a.lastRow = std::max(a.lastRow, it->row);
    return a;
}

QString XlsTable::cellText(const XlsWorkbook &wb, const XlsCell &cell)
{
    return sheetCellText(viewOf(wb, cell), wb.uses1904());
}

XlsTable::XlsTable(std::shared_ptr<XlsBook> book, QString name, Area area)
    : SheetTable(std::move(book), std::move(name), area)
{
    const XlsWorkbook &wb = m_book->workbook();
    const XlsSheet &sheet = wb.sheet(area.sheet);
    if (area.empty) {
        // A sheet without values still has the one field the old engine showed.
        m_fields.append({QStringLiteral("F1"), DaoText, 255, 0, true});
        return;
    }
    m_records = qsizetype(area.lastRow - area.firstRow);
    const int width = area.lastCol - area.firstCol + 1;
    QStringList names;
    for (int i = 0; i < width; ++i) {
        const XlsCell *cell = sheet.cell(area.firstRow, quint16(area.firstCol + i));
        QString text = cell ? cellText(wb, *cell).trimmed() : QString();
        names.append(text.isEmpty() ? QStringLiteral("F%1").arg(i + 1) : text);
    }
    names = uniqueFieldNames(names);

    // Counts per column over the first records, and the families met in all.
    SheetColumnTypes types(width);
    const auto from = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), area.firstRow + 1,
                                       [](const XlsCell &c, quint32 r) { return c.row < r; });
    for (auto it = from; it != sheet.cells.end() && it->row <= area.lastRow; ++it) {
        if (it->col < area.firstCol || it->col > area.lastCol)
            continue;
        types.count(it->col - area.firstCol, viewOf(wb, *it),
                    it->row <= area.firstRow + SheetColumnTypes::kGuessRows);
    }
    for (int i = 0; i < width; ++i)
        m_fields.append(types.field(i, names[i]));
}

// ---- reading -------------------------------------------------------------

Value XlsTable::value(qsizetype record, int field) const
{
    checkIndex(record, m_records, field, m_fields.size());
    const XlsWorkbook &wb = m_book->workbook();
    const XlsCell *cell =
        wb.sheet(m_area.sheet).cell(m_area.firstRow + 1 + quint32(record), quint16(m_area.firstCol + field));
    if (!cell)
        return Value::null();
    return sheetCellValue(viewOf(wb, *cell), m_fields[field].daoType, wb.uses1904());
}

// ---- writing -------------------------------------------------------------

// The cells of each kind in a column of the table's records, by row,
// gathered when a new cell first needs them.
struct XlsTable::ColumnCells
{
    // column, kind, number style -> (row, XF) of each such cell
    std::map<std::tuple<quint16, XlsCell::Kind, XlsNumberStyle>, std::vector<std::pair<quint32, quint16>>>
        cells;
};

XlsCellChange XlsTable::cellChange(const CellChange &change, ColumnCells &columns) const
{
    const qsizetype record = change.record;
    const int field = change.field;
    const Value &v = change.value;
    checkIndex(record, m_records, field, m_fields.size());
    const XlsWorkbook &wb = m_book->workbook();
    const FieldInfo &f = m_fields[field];
    XlsCellValue cv;
    switch (v.kind()) {
    case Value::Kind::Null: cv.kind = XlsCell::Kind::Blank; break;
    case Value::Kind::Text:
        cv.kind = XlsCell::Kind::Text;
        cv.text = v.textValue();
        if (cv.text.size() > kMaxCellText)
            throw EngineError::format(
                u"Field %1 of table %2 cannot hold a text of %3 characters: a cell holds "
                u"at most %4",
                u"数据表 %2 的字段 %1 放不下 %3 个字符的文字：一个单元格最多只能放 %4 个字符", f.name, m_name,
                v.textValue().size(), kMaxCellText);
        break;
    case Value::Kind::Boolean:
        cv.kind = XlsCell::Kind::Boolean;
        cv.number = v.toBool() ? 1 : 0;
        break;
    case Value::Kind::DateTime:
        cv.kind = XlsCell::Kind::Number;
        cv.number = dateToSerial(v.toDateTime(), wb.uses1904());
        cv.style = XlsNumberStyle::Date;
        break;
    case Value::Kind::Currency:
        cv.kind = XlsCell::Kind::Number;
        cv.number = double(v.toInteger()) / 10000.0;
        cv.style = XlsNumberStyle::Currency;
        break;
    case Value::Kind::Integer:
    case Value::Kind::Double:
        cv.kind = XlsCell::Kind::Number;
        cv.number = v.toDouble();
        if (v.kind() == Value::Kind::Integer && double(qint64(cv.number)) != cv.number)
            throw EngineError::format(u"Field %1 of table %2 cannot hold %3 exactly: a cell holds a double",
                                      u"数据表 %2 的字段 %1 无法精确存放 %3：单元格里只能存放双精度数",
                                      f.name, m_name, v.toText());
        if (f.daoType == DaoDate)
            cv.style = XlsNumberStyle::Date;
        else if (f.daoType == DaoCurrency)
            cv.style = XlsNumberStyle::Currency;
        break;
    case Value::Kind::Binary:
        throw EngineError::format(u"Field %1 of table %2 cannot hold bytes",
                                  u"数据表 %2 的字段 %1 不能存放二进制数据", f.name, m_name);
    }

    const XlsSheet &sheet = wb.sheet(m_area.sheet);
    const quint32 row = m_area.firstRow + 1 + quint32(record);
    const quint16 col = quint16(m_area.firstCol + field);
    // A new cell looks like the nearest one of its kind in its column,
    // above it if there is one.
    quint16 xf = sheet.columnXf(col);
    if (!sheet.cell(row, col)) {
        const XlsNumberStyle style = cv.kind == XlsCell::Kind::Number ? cv.style : XlsNumberStyle::Plain;
        const auto key = std::make_tuple(col, cv.kind, style);
        auto it = columns.cells.find(key);
        if (it == columns.cells.end()) {
            std::vector<std::pair<quint32, quint16>> same;
            for (const XlsCell &c : sheet.cells)
                if (c.col == col && c.row > m_area.firstRow && c.row <= m_area.lastRow && c.kind == cv.kind &&
                    (c.kind != XlsCell::Kind::Number || wb.style(c.xf) == style))
                    same.emplace_back(c.row, c.xf);
            it = columns.cells.emplace(key, std::move(same)).first;
        }
        const auto &same = it->second;
        const auto below = std::lower_bound(same.begin(), same.end(), std::pair<quint32, quint16>(row, 0));
        if (below != same.begin())
            xf = std::prev(below)->second;
        else if (below != same.end())
            xf = below->second;
    }
    return {row, col, cv, xf};
}

QByteArray XlsTable::prepare(const QList<CellChange> &changes) const
{
    if (changes.isEmpty())
        return {};
    m_book->checkNotInUse();
    std::vector<XlsCellChange> cells;
    cells.reserve(size_t(changes.size()));
    ColumnCells columns;
    for (const CellChange &change : changes)
        cells.push_back(cellChange(change, columns));
    const QByteArray stream = XlsPatcher(m_book->workbook()).cells(m_area.sheet, cells);
    if (stream.isEmpty())
        return stream;
    std::vector<XlsWrittenCell> written;
    written.reserve(cells.size());
    for (const XlsCellChange &c : cells)
        written.push_back({m_area.sheet, c.row, c.col, c.value});
    return m_book->fileWithStream(stream, written);
}

} // namespace lumora::engine
