#include "data/engine/xlsx/XlsxTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/FieldNames.h"
#include "data/engine/xlsx/XlsxPatcher.h"

#include <algorithm>

namespace lumora::engine {

namespace {

// The longest text a cell holds.
constexpr int kMaxCellText = 32767;

auto rowOrder()
{
    return [](const XlsxCell &c, quint32 r) { return c.row < r; };
}

} // namespace

XlsxTable::Area XlsxTable::usedArea(const XlsxWorkbook &wb, int sheet)
{
    Area a;
    a.sheet = sheet;
    for (const XlsxCell &cell : wb.sheet(sheet).cells) {
        if (cell.kind == CellKind::Blank)
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

XlsxTable::Area XlsxTable::nameArea(const XlsxWorkbook &wb, const XlsxDefinedName &n)
{
    Area a{n.sheet, n.range.firstRow, n.range.firstRow, n.range.firstCol, n.range.lastCol, false};
    const std::vector<XlsxCell> &cells = wb.sheet(n.sheet).cells;
    const auto from = std::lower_bound(cells.begin(), cells.end(), n.range.firstRow, rowOrder());
    for (auto it = from; it != cells.end() && it->row <= n.range.lastRow; ++it)
        if (it->kind != CellKind::Blank && it->col >= n.range.firstCol && it->col <= n.range.lastCol)
            a.lastRow = std::max(a.lastRow, it->row);
    return a;
}

XlsxTable::XlsxTable(std::shared_ptr<XlsxBook> book, QString name, Area area)
    : SheetTable(std::move(book), std::move(name), area)
{
    const XlsxWorkbook &wb = m_book->workbook();
    const XlsxSheet &sheet = wb.sheet(area.sheet);
    if (area.empty) {
        // A sheet without values still has the one field the old engine showed.
        m_fields.append({QStringLiteral("F1"), DaoText, 255, 0, true});
        return;
    }
    m_records = qsizetype(area.lastRow - area.firstRow);
    const int width = area.lastCol - area.firstCol + 1;
    QStringList names;
    for (int i = 0; i < width; ++i) {
        const XlsxCell *cell = sheet.cell(area.firstRow, quint16(area.firstCol + i));
        const QString text = cell ? sheetCellText(wb.view(sheet, *cell), wb.uses1904()).trimmed() : QString();
        names.append(text.isEmpty() ? QStringLiteral("F%1").arg(i + 1) : text);
    }
    names = uniqueFieldNames(names);
    SheetColumnTypes types(width);
    const auto from = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), area.firstRow + 1, rowOrder());
    for (auto it = from; it != sheet.cells.end() && it->row <= area.lastRow; ++it)
        if (it->col >= area.firstCol && it->col <= area.lastCol)
            types.count(it->col - area.firstCol, wb.view(sheet, *it),
                        it->row <= area.firstRow + SheetColumnTypes::kGuessRows);
    for (int i = 0; i < width; ++i)
        m_fields.append(types.field(i, names[i]));
}

Value XlsxTable::value(qsizetype record, int field) const
{
    checkIndex(record, m_records, field, m_fields.size());
    const XlsxWorkbook &wb = m_book->workbook();
    const XlsxSheet &sheet = wb.sheet(m_area.sheet);
    const XlsxCell *cell =
        sheet.cell(m_area.firstRow + 1 + quint32(record), quint16(m_area.firstCol + field));
    if (!cell)
        return Value::null();
    return sheetCellValue(wb.view(sheet, *cell), m_fields[field].daoType, wb.uses1904());
}

// ---- writing -------------------------------------------------------------

QByteArray XlsxTable::prepare(const QList<CellChange> &changes) const
{
    if (changes.isEmpty())
        return {};
    m_book->checkNotInUse();
    const XlsxWorkbook &wb = m_book->workbook();
    const XlsxSheet &sheet = wb.sheet(m_area.sheet);
    std::vector<XlsxCellWrite> writes;
    for (const CellChange &change : changes) {
        checkIndex(change.record, m_records, change.field, m_fields.size());
        const FieldInfo &f = m_fields[change.field];
        const Value &v = change.value;
        XlsxCellWrite w;
        w.row = m_area.firstRow + 1 + quint32(change.record);
        w.col = quint16(m_area.firstCol + change.field);
        switch (v.kind()) {
        case Value::Kind::Null: w.kind = CellKind::Blank; break;
        case Value::Kind::Text:
            w.kind = CellKind::Text;
            w.text = v.textValue();
            if (w.text.size() > kMaxCellText)
                throw EngineError::format(
                    u"Field %1 of table %2 cannot hold a text of %3 characters: a cell holds at most %4",
                    u"数据表 %2 的字段 %1 放不下 %3 个字符的文字：一个单元格最多只能放 %4 个字符", f.name,
                    m_name, w.text.size(), kMaxCellText);
            break;
        case Value::Kind::Boolean:
            w.kind = CellKind::Boolean;
            w.number = v.toBool() ? 1 : 0;
            break;
        case Value::Kind::DateTime:
            w.kind = CellKind::Number;
            w.number = sheetDateToSerial(v.toDateTime(), wb.uses1904());
            w.style = XlsNumberStyle::Date;
            break;
        case Value::Kind::Currency:
            w.kind = CellKind::Number;
            w.number = double(v.toInteger()) / 10000.0;
            w.style = XlsNumberStyle::Currency;
            break;
        case Value::Kind::Integer:
        case Value::Kind::Double:
            w.kind = CellKind::Number;
            w.number = v.toDouble();
            if (v.kind() == Value::Kind::Integer && double(qint64(w.number)) != w.number)
                throw EngineError::format(
                    u"Field %1 of table %2 cannot hold %3 exactly: a cell holds a double",
                    u"数据表 %2 的字段 %1 无法精确存放 %3：单元格里只能存放双精度数", f.name, m_name,
                    v.toText());
            if (f.daoType == DaoDate)
                w.style = XlsNumberStyle::Date;
            else if (f.daoType == DaoCurrency)
                w.style = XlsNumberStyle::Currency;
            break;
        case Value::Kind::Binary:
            throw EngineError::format(u"Field %1 of table %2 cannot hold bytes",
                                      u"数据表 %2 的字段 %1 不能存放二进制数据", f.name, m_name);
        }
        // A cell keeps its style when the style shows the new value as it
        // is; otherwise (and for a new cell) it takes the style of the
        // nearest cell of its kind in its column, above it if there is one.
        const XlsxCell *old = sheet.cell(w.row, w.col);
        const auto shows = [&](const XlsxCell &c) {
            return w.kind != CellKind::Number || wb.style(c.style) == w.style;
        };
        if (old && shows(*old)) {
            w.styleIndex = old->style;
        } else {
            w.styleIndex = sheet.columnStyle(w.col);
            const XlsxCell *above = nullptr, *below = nullptr;
            for (const XlsxCell &c : sheet.cells) {
                if (c.col != w.col || c.row <= m_area.firstRow || c.row > m_area.lastRow ||
                    c.kind != w.kind || !shows(c))
                    continue;
                if (c.row < w.row)
                    above = &c;
                else if (c.row > w.row && !below)
                    below = &c;
            }
            if (above || below)
                w.styleIndex = (above ? above : below)->style;
        }
        writes.push_back(std::move(w));
    }
    return XlsxPatcher(wb, m_area.sheet).apply(writes);
}

} // namespace lumora::engine
