#pragma once

#include "data/engine/sheet/SheetTable.h"
#include "data/engine/xlsx/XlsxBook.h"

#include <memory>

namespace lumora::engine {

// One table of an .xlsx workbook: a worksheet's used cells ("Sheet1$") or
// a defined name's rectangle, read as the .xls backend reads its tables
// (SheetColumnTypes): the first row names the fields, record r is the row
// r + 1 below it. update() rewrites the one cell (XlsxPatcher) and keeps
// every other part of the package as it is stored.
class XlsxTable : public SheetTable<XlsxBook>
{
public:
    XlsxTable(std::shared_ptr<XlsxBook> book, QString name, Area area);

    Value value(qsizetype record, int field) const override;

    static Area usedArea(const XlsxWorkbook &workbook, int sheet);
    static Area nameArea(const XlsxWorkbook &workbook, const XlsxDefinedName &name);

private:
    QByteArray prepare(const QList<CellChange> &changes) const override;
};

} // namespace lumora::engine
