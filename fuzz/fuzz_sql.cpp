// Feeds bytes to the statement parser as a statement; what parses is run
// against a small in-memory table, as select and as update.
#include "../tests/MemoryBackend.h"

#include "data/engine/Database.h"
#include "data/engine/sql/SqlParser.h"

#include <cstddef>
#include <cstdint>

using namespace lumora::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString statement = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        SqlParser::parse(statement);
    } catch (const EngineError &) {
        return 0;
    }
    auto backend = std::make_unique<MemoryBackend>();
    backend->add(QStringLiteral("学生"),
                 {memoryField(QStringLiteral("学号"), DaoText), memoryField("n", DaoDouble),
                  memoryField("d", DaoDate), memoryField("b", DaoBoolean), memoryField("c", DaoCurrency),
                  memoryField("i", DaoLong)},
                 {{Value::text("101"), Value::real(3.5), Value::date(QDate(2024, 3, 9)), Value::boolean(true),
                   Value::currency(12345), Value::integer(7)},
                  {Value::text("O'Brien\t"), Value(), Value(), Value(), Value(), Value()}});
    auto db = Database::fromBackend(std::move(backend));
    try {
        const Recordset rs = db->openRecordset(statement);
        for (qsizetype r = 0; r < rs.size(); ++r)
            for (int f = 0; f < rs.fields().size(); ++f)
                (void)rs.parts(r, f);
    } catch (const EngineError &) {
    }
    try {
        db->execute(statement);
    } catch (const EngineError &) {
    }
    return 0;
}
