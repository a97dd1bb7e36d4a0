// Opens the input as an .xlsx package: the zip container, the workbook,
// its shared strings and styles, every table's every value, and works out
// (without writing) a write of a text into the first cell of each sheet
// and of a number into a new row below its last one.
#include "data/engine/EngineError.h"
#include "data/engine/xlsx/XlsxBackend.h"
#include "data/engine/xlsx/XlsxPatcher.h"
#include "data/engine/xlsx/XlsxWorkbook.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto backend = openXlsxBytes(input, QStringLiteral("fuzz.xlsx"));
        for (const QString &name : backend->tableNames()) {
            try {
                const auto source = backend->openTable(name);
                for (qsizetype r = 0; r < source->recordCount(); ++r)
                    for (int f = 0; f < source->fields().size(); ++f)
                        source->value(r, f).toText();
            } catch (const EngineError &) {
            }
        }
        // A small limit, so that the fuzzer meets it without building a
        // large input.
        const XlsxWorkbook wb(input, QStringLiteral("fuzz.xlsx"), 1 << 20);
        for (int i = 0; i < wb.sheets().size(); ++i) {
            if (!wb.sheets()[i].worksheet)
                continue;
            try {
                const XlsxSheet &sheet = wb.sheet(i);
                std::vector<XlsxCellWrite> writes;
                XlsxCellWrite text;
                text.kind = CellKind::Text;
                text.text = QStringLiteral("照片_0123.jpg & <x>");
                if (!sheet.cells.empty()) {
                    text.row = sheet.cells.front().row;
                    text.col = sheet.cells.front().col;
                }
                writes.push_back(text);
                XlsxCellWrite number;
                number.kind = CellKind::Number;
                number.number = 42.5;
                number.row = sheet.cells.empty() ? 3 : std::min<quint32>(sheet.cells.back().row + 1, 1048575);
                number.col = 2;
                writes.push_back(number);
                XlsxPatcher(wb, i).apply(writes);
            } catch (const EngineError &) {
            }
        }
    } catch (const EngineError &) {
    }
    return 0;
}
