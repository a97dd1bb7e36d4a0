#pragma once

#include "data/engine/TableSource.h"

#include <QString>
#include <array>
#include <vector>

namespace lumora::engine {

// What a worksheet cell holds, in an .xls or an .xlsx workbook alike.
enum class CellKind : quint8 {
    Blank,   // no value (a styled empty cell)
    Number,  // a number, or a formula's number
    Text,    // a text, or a formula's text
    Boolean, // a boolean, or a formula's boolean
    Error    // an error value, read as Null
};

// What a cell's number format makes of its number.
enum class XlsNumberStyle : quint8 {
    Plain,
    Date,
    Currency
};

// A number format's style: dates by their y/m/d/h/s codes outside quotes
// and brackets (elapsed-time brackets count), currency by a currency sign;
// only the first section (positive numbers) decides.
XlsNumberStyle classifyNumberFormat(const QString &format);
// The style of a built-in number format, by its id.
XlsNumberStyle builtinNumberFormatStyle(quint16 formatId);

// One cell as the type guessing and the reading of values see it.
struct SheetCellView
{
    CellKind kind = CellKind::Blank;
    double number = 0;             // Number; Boolean as 0 or 1
    const QString *text = nullptr; // Text
    XlsNumberStyle style = XlsNumberStyle::Plain;
};

// The fields of a worksheet table are guessed alike from either format: a
// column's type is the majority of its first 8 records, as the old engine
// did, except that a column whose records mix numbers, booleans and texts
// is Text, so no cell reads as Null.
class SheetColumnTypes
{
public:
    static constexpr int kGuessRows = 8;

    explicit SheetColumnTypes(int width);
    // Counts a cell of column `column` (0-based in the table); `guessed`
    // when it lies in the first kGuessRows records.
    void count(int column, const SheetCellView &cell, bool guessed);
    // The field of that column, named `name`.
    FieldInfo field(int column, const QString &name) const;

private:
    std::vector<std::array<int, 7>> m_counts;
    std::vector<int> m_families;
};

// A cell's value as text, as a header cell gives a field name and a text
// column shows a number: to 15 significant digits, as Excel shows it.
QString sheetCellText(const SheetCellView &cell, bool uses1904);
// A cell's value in a field of type `daoType`: Null where the field cannot
// show it (a text in a number column).
Value sheetCellValue(const SheetCellView &cell, qint16 daoType, bool uses1904);
// A number as Excel shows it under the General format.
QString sheetNumberText(double d);
// Excel's day counts, in the 1900 system (with its 29 February 1900 that
// never was) or the 1904 one.
Value sheetSerialToDate(double serial, bool uses1904);
double sheetDateToSerial(const QDateTime &dt, bool uses1904);

} // namespace lumora::engine
