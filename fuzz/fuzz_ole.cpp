// Reads the input as an OLE2 compound file: its Workbook stream through
// libgsf, every stream through the sector tables, and the file with that
// stream replaced by a longer one, checked as it is after writing.
#include "data/engine/EngineError.h"
#include "data/engine/xls/CompoundFile.h"
#include "data/engine/xls/XlsContainer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        readWorkbookStream(input, QStringLiteral("fuzz.xls"));
    } catch (const EngineError &) {
    }
    try {
        const CompoundFile cf(input, QStringLiteral("fuzz.xls"));
        const int entry = cf.find(u"Workbook");
        cf.streams();
        if (entry >= 0) {
            const QByteArray stream = cf.streamBytes(entry) + QByteArray(700, 'x');
            const QByteArray out = cf.withStream(entry, stream);
            checkRewrittenContainer(input, out, cf.entries().at(entry).name, cf.stored(stream),
                                    QStringLiteral("fuzz.xls"));
        }
    } catch (const EngineError &) {
    }
    return 0;
}
