#pragma once

#include "data/engine/xlsx/XlsxWorkbook.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace lumora::engine {

// The value one cell is to hold, and the style it is to have.
struct XlsxCellWrite
{
    quint32 row = 0;
    quint16 col = 0;
    CellKind kind = CellKind::Blank; // Blank, Number, Text or Boolean
    double number = 0;               // Number; Boolean as 0 or 1
    QString text;                    // Text
    XlsNumberStyle style = XlsNumberStyle::Plain;
    quint32 styleIndex = 0; // the cell format (s) it gets
};

// Changes cells of one worksheet of an .xlsx package and nothing else a
// reader could notice. Each cell's <c> element is rewritten where it
// stands; a new one goes in column order into its <row>, a new <row> in
// row order into <sheetData>, and <dimension> is widened to hold it. A
// text goes in as a shared string when the workbook has a shared-string
// part (an equal plain entry is reused, else one is appended and the
// counts are updated), else inline. Only the sheet part and the
// shared-string part change; every other member of the zip is copied as it
// is stored. The new package is read back before it is returned: the
// written cells must read as written and every other cell of the sheet as
// before.
//
// Refuses (EngineError, nothing written) a cell holding a formula, a cell
// of an array formula or data table, a cell of a table's header row, and a
// new cell among cells or rows that carry no address.
class XlsxPatcher
{
public:
    XlsxPatcher(const XlsxWorkbook &workbook, int sheet)
        : m_wb(workbook)
        , m_sheet(sheet)
    {
    }
    // The new package, or an empty array when nothing changes (a blank
    // written where there is no cell). Of two writes of one cell the later
    // one counts.
    QByteArray apply(std::vector<XlsxCellWrite> writes) const;

    // A cell's text as element content, XML's characters escaped. In a
    // shared string a character XML cannot carry is written "_xHHHH_" (and
    // a text like that escape keeps its "_" as "_x005F_"), as readers
    // decode them there; an inline string cannot carry one.
    static QString escapeText(const QString &text, bool shared);

private:
    [[noreturn]] void refuse(const QString &cell, const QString &why, const QString &chinese) const;

    const XlsxWorkbook &m_wb;
    int m_sheet;
};

} // namespace lumora::engine
