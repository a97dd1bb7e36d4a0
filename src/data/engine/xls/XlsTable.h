#pragma once

#include "data/engine/sheet/SheetTable.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsPatcher.h"

#include <memory>

namespace lumora::engine {

// One table of a workbook: a worksheet's used cells ("Sheet1$") or a
// defined name's rectangle. Its first row gives the field names; record r
// is the row r + 1 below it. A column's type is guessed from its first 8
// records as the old engine did (majority wins), except that a column whose
// records mix numbers, booleans and texts is Text, so no cell reads as
// Null. update() changes the one cell in the file (XlsPatcher), keeping
// every other byte of the container; updateAll() changes all of a
// statement's cells in one rewrite of the file.
class XlsTable : public SheetTable<XlsBook>
{
public:
    XlsTable(std::shared_ptr<XlsBook> book, QString name, Area area);

    Value value(qsizetype record, int field) const override;
    QList<EngineNote> notes() const override { return m_book->workbook().notes(); }

    // The used rectangle of a worksheet: every cell that holds a value.
    static Area usedArea(const XlsWorkbook &workbook, int sheet);
    // A defined name's rectangle, down to its last row that holds a value.
    static Area nameArea(const XlsWorkbook &workbook, const XlsDefinedName &name);
    // A cell's value as text, as a header cell gives a field name and a
    // text column shows a number: to 15 significant digits, as Excel shows it.
    static QString cellText(const XlsWorkbook &workbook, const XlsCell &cell);
    static Value serialToDate(double serial, bool uses1904);
    static double dateToSerial(const QDateTime &dt, bool uses1904);

private:
    // The patcher's change for one of a statement's; throws for a value
    // the field cannot hold. `columns` keeps what it learnt of the sheet's
    // columns for the statement's next change.
    struct ColumnCells;
    XlsCellChange cellChange(const CellChange &change, ColumnCells &columns) const;
    QByteArray prepare(const QList<CellChange> &changes) const override;
};

} // namespace lumora::engine
