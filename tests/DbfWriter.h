#pragma once

#include "data/engine/Value.h"

#include <QList>
#include <QString>

namespace lumora::engine {

// Creates dBase III tables (version byte 0x03, no memo) through the table
// engine's own field and header codecs: the rosters the tests and
// benchmarks make.
//
//     DbfWriter::write(dir.filePath("roster.dbf"),
//                      {{"XH", 'C', 10}, {"XM", 'C', 20}, {"CJ", 'N', 5, 1}, {"SR", 'D', 8}},
//                      {{Value::text("2024000001"), Value::text("张三"), Value::real(88.5),
//                        Value::date(QDate(2009, 4, 19))}});
class DbfWriter
{
public:
    struct Field
    {
        QString name;     // at most 10 bytes in the table's code page
        char type = 'C';  // C, N, D or L
        int length = 10;  // width in bytes (D: 8, L: 1); 1-254
        int decimals = 0; // N only
    };

    // Writes `records` (one Value per field, in order; Null leaves the field
    // blank) to a new table at `path`, replacing any file there. The text is
    // encoded in the code page of `languageDriver` (0x4D: GBK). The table
    // goes to a temporary file first and is renamed over `path`, so a
    // failure never leaves half a table. Throws EngineError when a field or
    // value does not fit.
    static void write(const QString &path, const QList<Field> &fields, const QList<QList<Value>> &records,
                      quint8 languageDriver = 0x4D);
};

} // namespace lumora::engine
