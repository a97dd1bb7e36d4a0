// Reads the input as a delimited text file: every value of its table, then
// rewrites it in memory with a field changed in its last record and one
// past that record's last field.
#include "data/engine/EngineError.h"
#include "data/engine/csv/CsvBackend.h"
#include "data/engine/csv/CsvTable.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto backend = openTextBytes(input, QStringLiteral("fuzz.csv"));
        const auto table = backend->openTable(QStringLiteral("fuzz"));
        const int width = int(table->fields().size());
        for (qsizetype r = 0; r < table->recordCount(); ++r)
            for (int f = 0; f < width; ++f)
                table->value(r, f).toText();
        if (table->recordCount() == 0)
            return 0;
        const auto &csv = static_cast<const CsvTable &>(*table);
        const qsizetype last = table->recordCount() - 1;
        csv.rewritten({{last, 0, Value::text(QStringLiteral("新照片,\"1\".jpg"))}});
        csv.rewritten({{last, width - 1, Value::text(QStringLiteral("x"))}, {0, 0, Value::null()}});
    } catch (const EngineError &) {
    }
    return 0;
}
