#include "data/engine/sheet/SheetTypes.h"

#include <QTimeZone>
#include <cmath>

namespace lumora::engine {

namespace {

enum class Category {
    None,
    Double,
    Currency,
    Date,
    Boolean,
    Text,
    Memo
};

Category categoryOf(const SheetCellView &cell)
{
    switch (cell.kind) {
    case CellKind::Number:
        switch (cell.style) {
        case XlsNumberStyle::Date: return Category::Date;
        case XlsNumberStyle::Currency: return Category::Currency;
        case XlsNumberStyle::Plain: return Category::Double;
        }
        return Category::Double;
    case CellKind::Text: return cell.text && cell.text->size() > 255 ? Category::Memo : Category::Text;
    case CellKind::Boolean: return Category::Boolean;
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

const QDate kEpoch1900(1899, 12, 30);
const QDate kEpoch1904(1904, 1, 1);

} // namespace

SheetColumnTypes::SheetColumnTypes(int width)
    : m_counts(size_t(width), std::array<int, 7>{})
    , m_families(size_t(width), 0)
{
}

void SheetColumnTypes::count(int column, const SheetCellView &cell, bool guessed)
{
    const Category c = categoryOf(cell);
    m_families[size_t(column)] |= familyOf(c);
    if (guessed)
        ++m_counts[size_t(column)][size_t(c)];
}

FieldInfo SheetColumnTypes::field(int column, const QString &name) const
{
    // Majority of the first records; a tie goes to text, which loses nothing.
    Category best = Category::Text;
    int most = 0;
    for (Category c : {Category::Text, Category::Memo, Category::Double, Category::Date, Category::Currency,
                       Category::Boolean})
        if (m_counts[size_t(column)][size_t(c)] > most) {
            most = m_counts[size_t(column)][size_t(c)];
            best = c;
        }
    const int f = m_families[size_t(column)];
    if (f != 0 && (f & (f - 1)) != 0 && best != Category::Memo)
        best = Category::Text; // numbers and texts mixed: nothing is dropped
    FieldInfo info;
    info.name = name;
    info.daoType = daoTypeOf(best);
    info.width = best == Category::Text ? 255 : 0;
    info.nullable = true;
    return info;
}

QString sheetNumberText(double d)
{
    // To 15 significant digits, so a computed 1.69 reads "1.69", not
    // "1.6900000000000002"; a whole number of more digits in full.
    const QString shown = QString::number(d, 'g', 15);
    return shown.contains(QLatin1Char('e')) ? Value::formatNumber(d) : shown;
}

QString sheetCellText(const SheetCellView &cell, bool uses1904)
{
    switch (cell.kind) {
    case CellKind::Text: return cell.text ? *cell.text : QString();
    case CellKind::Boolean: return Value::boolean(cell.number != 0).toText();
    case CellKind::Number:
        if (cell.style == XlsNumberStyle::Date)
            return sheetSerialToDate(cell.number, uses1904).toText();
        return sheetNumberText(cell.number);
    default: return QString();
    }
}

Value sheetCellValue(const SheetCellView &cell, qint16 type, bool uses1904)
{
    switch (cell.kind) {
    case CellKind::Text:
        if (type == DaoText || type == DaoMemo)
            return Value::text(cell.text ? *cell.text : QString());
        return Value::null();
    case CellKind::Boolean:
        if (type == DaoBoolean)
            return Value::boolean(cell.number != 0);
        return type == DaoText || type == DaoMemo ? Value::text(sheetCellText(cell, uses1904))
                                                  : Value::null();
    case CellKind::Number:
        switch (type) {
        case DaoDouble: return Value::real(cell.number);
        case DaoDate: return sheetSerialToDate(cell.number, uses1904);
        case DaoCurrency: {
            const double scaled = std::round(cell.number * 10000.0);
            if (std::fabs(scaled) < 9.2e18)
                return Value::currency(qint64(scaled));
            return Value::real(cell.number);
        }
        case DaoText:
        case DaoMemo: return Value::text(sheetCellText(cell, uses1904));
        default: return Value::null();
        }
    default: return Value::null();
    }
}

Value sheetSerialToDate(double serial, bool uses1904)
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

double sheetDateToSerial(const QDateTime &dt, bool uses1904)
{
    const QDate d = dt.date();
    qint64 days = uses1904 ? kEpoch1904.daysTo(d) : kEpoch1900.daysTo(d);
    if (!uses1904 && days > 1 && days < 62)
        --days;
    return double(days) + double(dt.time().msecsSinceStartOfDay()) / 86400000.0;
}

// ---- number formats ------------------------------------------------------

XlsNumberStyle builtinNumberFormatStyle(quint16 id)
{
    // 14-22 and 45-47 are dates and times everywhere; 27-36 and 50-58 are
    // the date formats of the Chinese, Japanese and Korean editions.
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58))
        return XlsNumberStyle::Date;
    if ((id >= 5 && id <= 8) || id == 42 || id == 44)
        return XlsNumberStyle::Currency;
    return XlsNumberStyle::Plain;
}

XlsNumberStyle classifyNumberFormat(const QString &format)
{
    // Only the first section (positive numbers) decides.
    bool date = false, currency = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar ch = format[i];
        if (ch == QLatin1Char('"')) {
            const qsizetype close = format.indexOf(QLatin1Char('"'), i + 1);
            if (close < 0)
                break;
            i = close;
        } else if (ch == QLatin1Char('\\') || ch == QLatin1Char('_') || ch == QLatin1Char('*')) {
            ++i;
        } else if (ch == QLatin1Char('[')) {
            const qsizetype close = format.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0)
                break;
            const QString inside = format.mid(i + 1, close - i - 1).toLower();
            if (inside == QLatin1String("h") || inside == QLatin1String("hh") ||
                inside == QLatin1String("m") || inside == QLatin1String("mm") ||
                inside == QLatin1String("s") || inside == QLatin1String("ss"))
                date = true;
            // [$¥-804], [$€-407]: a currency sign with its locale.
            if (inside.startsWith(QLatin1Char('$')) && inside.size() > 1 && inside[1] != QLatin1Char('-'))
                currency = true;
            i = close;
        } else if (ch == QLatin1Char(';')) {
            break;
        } else {
            const char16_t u = ch.toLower().unicode();
            if (u == u'y' || u == u'd' || u == u'h' || u == u's' || u == u'm' || u == u'e' || u == u'g' ||
                u == u'b')
                date = date || u != u'e' || !format.contains(QLatin1Char('0')); // 0.00E+00 is no date
            if (u == u'$' || u == u'¥' || u == u'￥' || u == u'€' || u == u'£')
                currency = true;
        }
    }
    // "General" holds e, g ... but no date code.
    if (format.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0 ||
        format.compare(QLatin1String("@"), Qt::CaseInsensitive) == 0)
        return XlsNumberStyle::Plain;
    if (date)
        return XlsNumberStyle::Date;
    return currency ? XlsNumberStyle::Currency : XlsNumberStyle::Plain;
}

} // namespace lumora::engine
