// Reads the input as a BIFF8 Workbook stream: every worksheet's cells and
// the table over them, then changes cells of each sheet in memory, one and
// two at a time.
#include "data/engine/EngineError.h"
#include "data/engine/xls/XlsPatcher.h"
#include "data/engine/xls/XlsTable.h"
#include "data/engine/xls/XlsWorkbook.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const XlsWorkbook wb(input, QStringLiteral("fuzz.xls"));
        for (int i = 0; i < wb.sheets().size(); ++i) {
            if (wb.sheets()[i].type != 0)
                continue;
            try {
                const XlsSheet &sheet = wb.sheet(i);
                for (const XlsCell &cell : sheet.cells)
                    XlsTable::cellText(wb, cell);
                const XlsTable::Area area = XlsTable::usedArea(wb, i);
                XlsCellValue v;
                v.kind = XlsCell::Kind::Text;
                v.text = QStringLiteral("新照片.jpg");
                XlsPatcher(wb).cell(i, area.lastRow, area.firstCol, v, 15);
                XlsPatcher(wb).cell(i, area.firstRow + 1, quint16(area.lastCol + 1), v, 15);
                XlsPatcher(wb).cells(i, {{area.lastRow, area.firstCol, v, 15},
                                         {area.firstRow + 1, quint16(area.lastCol + 1), v, 15}});
            } catch (const EngineError &) {
                // A damaged sheet spoils that sheet, not the workbook.
            }
        }
    } catch (const EngineError &) {
    }
    return 0;
}
