#pragma once

#include "data/engine/xls/XlsPatcher.h"
#include "data/engine/xls/XlsWorkbook.h"

#include <vector>

namespace lumora::engine {

// One cell a write is to change: worksheet `sheet`, 0-based row and column.
struct XlsWrittenCell
{
    int sheet = 0;
    quint32 row = 0;
    quint16 col = 0;
    XlsCellValue value;
};

// The safety net under every write: workbook `after`, the rewritten one as
// the reader reads it, must list the same sheets as `before`, hold every
// cell of every worksheet as `before` does (value, kind and format) except
// the changed ones, and each changed cell its new value (a text as a plain
// string, a blank as no value). Throws EngineError naming after.what()
// otherwise; a worksheet `before` cannot read is not compared.
//
//     checkReadsBack(book.workbook(), XlsWorkbook(newStream, name), {{0, 5, 3, value}});
void checkReadsBack(const XlsWorkbook &before, const XlsWorkbook &after,
                    const std::vector<XlsWrittenCell> &changes);

} // namespace lumora::engine
