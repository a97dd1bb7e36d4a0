// Opens the input as a dBase/FoxPro table and reads every value. When the
// input holds the marker "LUMOMEMO", what follows it is the memo file.
#include "data/engine/EngineError.h"
#include "data/engine/dbf/DbfTable.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype marker = input.indexOf("LUMOMEMO");
    const QByteArray table = marker >= 0 ? input.left(marker) : input;
    const QByteArray memo = marker >= 0 ? input.mid(marker + 8) : QByteArray();
    try {
        const auto source = DbfTable::fromBytes(QStringLiteral("fuzz.dbf"), table, memo);
        for (qsizetype r = 0; r < source->recordCount(); ++r)
            for (int f = 0; f < source->fields().size(); ++f) {
                try {
                    source->value(r, f).toText();
                } catch (const EngineError &) {
                    // A damaged memo block spoils one value, not the table.
                }
            }
    } catch (const EngineError &) {
    }
    return 0;
}
