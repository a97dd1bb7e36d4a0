// Opens the input as an Access database, reads every value of every table
// and works out (without writing) a write of a long text into each text
// field of the first records: the page reader and the row writer's layout.
#include "data/engine/EngineError.h"
#include "data/engine/mdb/MdbBackend.h"
#include "data/engine/mdb/MdbTable.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto backend = mdbFromBytes(input);
        for (const QString &name : backend->tableNames()) {
            try {
                const auto source = backend->openTable(name);
                const auto *table = static_cast<const MdbTable *>(source.get());
                for (qsizetype r = 0; r < source->recordCount(); ++r)
                    for (int f = 0; f < source->fields().size(); ++f) {
                        try {
                            source->value(r, f).toText();
                            if (r < 3)
                                table->plan(r, f, Value::text(QStringLiteral("照片_0123456789.jpg")));
                        } catch (const EngineError &) {
                            // A damaged row or long value spoils one value, not the table.
                        }
                    }
            } catch (const EngineError &) {
            }
        }
    } catch (const EngineError &) {
    }
    return 0;
}
