#include "data/engine/xls/XlsTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/FieldNames.h"
#include "data/engine/xls/XlsPatcher.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace lumora::engine {

namespace {

// How many records the type of a column is guessed from, as the old engine did.
constexpr int kGuessRows = 8;
// The longest text a cell holds.
constexpr int kMaxCellText = 32767;

enum class Category {
    None,
    Double,
    Currency,
    Date,
    Boolean,
    Text,
    Memo
};

Category categoryOf(const XlsWorkbook &wb, const XlsCell &cell)
{
    switch (cell.kind) {
    case XlsCell::Kind::Number:
        switch (wb.style(cell.xf)) {
        case XlsNumberStyle::Date: return Category::Date;
        case XlsNumberStyle::Currency: return Category::Currency;
        case XlsNumberStyle::Plain: return Category::Double;
        }
        return Category::Double;
    case XlsCell::Kind::Text:
        return wb.strings().at(cell.text).size() > 255 ? Category::Memo : Category::Text;
    case XlsCell::Kind::Boolean: return Category::Boolean;
    default: return Category::None;
    }
}

// Numbers, dates and amounts are one family; a column mixing families reads as text.
int familyOf(Category c)
{
    switch (c) {
    case Category::Double:
    case Category::Currency:
    case Category::Date: return 1;
    case Category::Boolean: return 2;
    case Category::Text:
    case Category::Memo: return 4;
    case Category::None: return 0;
    }
    return 0;
}

qint16 daoTypeOf(Category c)
{
    switch (c) {
    case Category::Double: return DaoDouble;
    case Category::Currency: return DaoCurrency;
    case Category::Date: return DaoDate;
    case Category::Boolean: return DaoBoolean;
    case Category::Memo: return DaoMemo;
    default: return DaoText;
    }
}

// A number shown as text the way Excel shows it under the General format:
// to 15 significant digits, so a computed 1.69 reads "1.69", not
// "1.6900000000000002"; a whole number of more digits in full.
QString numberText(double d)
{
    const QString shown = QString::number(d, 'g', 15);
    return shown.contains(QLatin1Char('e')) ? Value::formatNumber(d) : shown;
}

const QDate kEpoch1900(1899, 12, 30);
const QDate kEpoch1904(1904, 1, 1);

} // namespace

// ---- dates ---------------------------------------------------------------

Value XlsTable::serialToDate(double serial, bool uses1904)
{
    if (!std::isfinite(serial) || serial < -693593 || serial > 2958466)
        return Value::null();
    qint64 days = qint64(std::floor(serial));
    qint64 ms = qint64(std::llround((serial - double(days)) * 86400000.0 / 1000.0)) * 1000;
    if (ms >= 86400000) {
        ++days;
        ms -= 86400000;
    }
    QDate date;
    if (uses1904)
        date = kEpoch1904.addDays(days);
    else // Excel counts a 29 February 1900 that never was: serials before it are a day off
        date = days < 61 && days > 0 ? kEpoch1900.addDays(days + 1) : kEpoch1900.addDays(days);
    return Value::dateTime(QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC));
}

double XlsTable::dateToSerial(const QDateTime &dt, bool uses1904)
{
    const QDate d = dt.date();
    qint64 days = uses1904 ? kEpoch1904.daysTo(d) : kEpoch1900.daysTo(d);
    if (!uses1904 && days > 1 && days < 62)
        --days;
    return double(days) + double(dt.time().msecsSinceStartOfDay()) / 86400000.0;
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
    switch (cell.kind) {
    case XlsCell::Kind::Text: return wb.strings().at(cell.text);
    case XlsCell::Kind::Boolean: return Value::boolean(cell.number != 0).toText();
    case XlsCell::Kind::Number:
        if (wb.style(cell.xf) == XlsNumberStyle::Date)
            return serialToDate(cell.number, wb.uses1904()).toText();
        return numberText(cell.number);
    default: return QString();
    }
}

XlsTable::XlsTable(std::shared_ptr<XlsBook> book, QString name, Area area)
    : m_book(std::move(book))
    , m_name(std::move(name))
    , m_area(area)
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
    std::vector<std::array<int, 7>> counts(size_t(width), std::array<int, 7>{});
    std::vector<int> families(size_t(width), 0);
    const auto [from, to] =
        std::pair(std::lower_bound(sheet.cells.begin(), sheet.cells.end(), area.firstRow + 1,
                                   [](const XlsCell &c, quint32 r) { return c.row < r; }),
                  sheet.cells.end());
    for (auto it = from; it != to && it->row <= area.lastRow; ++it) {
        if (it->col < area.firstCol || it->col > area.lastCol)
            continue;
        const size_t i = it->col - area.firstCol;
        const Category c = categoryOf(wb, *it);
        families[i] |= familyOf(c);
        if (it->row <= area.firstRow + kGuessRows)
            ++counts[i][size_t(c)];
    }
    for (int i = 0; i < width; ++i) {
        // Majority of the first records; a tie goes to text, which loses nothing.
        Category best = Category::Text;
        int most = 0;
        for (Category c : {Category::Text, Category::Memo, Category::Double, Category::Date,
                           Category::Currency, Category::Boolean})
            if (counts[size_t(i)][size_t(c)] > most) {
                most = counts[size_t(i)][size_t(c)];
                best = c;
            }
        const int f = families[size_t(i)];
        if (f != 0 && (f & (f - 1)) != 0 && best != Category::Memo)
            best = Category::Text; // numbers and texts mixed: nothing is dropped
        FieldInfo info;
        info.name = names[i];
        info.daoType = daoTypeOf(best);
        info.width = best == Category::Text ? 255 : 0;
        info.nullable = true;
        m_fields.append(info);
    }
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
    const qint16 type = m_fields[field].daoType;
    switch (cell->kind) {
    case XlsCell::Kind::Text:
        if (type == DaoText || type == DaoMemo)
            return Value::text(wb.strings().at(cell->text));
        return Value::null();
    case XlsCell::Kind::Boolean:
        if (type == DaoBoolean)
            return Value::boolean(cell->number != 0);
        return type == DaoText || type == DaoMemo ? Value::text(cellText(wb, *cell)) : Value::null();
    case XlsCell::Kind::Number:
        switch (type) {
        case DaoDouble: return Value::real(cell->number);
        case DaoDate: return serialToDate(cell->number, wb.uses1904());
        case DaoCurrency: {
            const double scaled = std::round(cell->number * 10000.0);
            if (std::fabs(scaled) < 9.2e18)
                return Value::currency(qint64(scaled));
            return Value::real(cell->number);
        }
        case DaoText:
        case DaoMemo: return Value::text(cellText(wb, *cell));
        default: return Value::null();
        }
    default: return Value::null();
    }
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

void XlsTable::checkUpdate(qsizetype record, int field, const Value &value) const
{
    checkUpdateAll({{record, field, value}});
}

void XlsTable::update(qsizetype record, int field, const Value &value)
{
    updateAll({{record, field, value}});
}

void XlsTable::checkUpdateAll(const QList<CellChange> &changes) const
{
    QByteArray file = prepare(changes);
    m_prepared = {changes, m_book->generation(), std::move(file)};
}

void XlsTable::updateAll(const QList<CellChange> &changes)
{
    QByteArray file;
    if (m_prepared.generation == m_book->generation() && m_prepared.changes == changes)
        file = std::move(m_prepared.file);
    else
        file = prepare(changes);
    m_prepared = {};
    if (!file.isEmpty())
        m_book->writeFile(file);
}

} // namespace lumora::engine
