#pragma once

#include "data/engine/TableSource.h"

#include <QByteArray>

namespace lumora::engine {

// An Excel 97-2003 workbook: each worksheet is a table named after it with
// "$" appended ("Sheet1$"), hidden ones included; each defined name that
// refers to one rectangle of a worksheet is a table: a name of the whole
// workbook by its name ("PaidDump"), a name a sheet has of its own after
// the sheet ("Sheet1$PaidDump"). Chart and macro sheets are no tables. Throws EngineError naming the file
// when it is no workbook this program reads.
std::unique_ptr<Backend> openXlsWorkbook(const QString &path);
// The same over a file's bytes in memory; its tables cannot be written.
std::unique_ptr<Backend> openXlsBytes(const QByteArray &file, const QString &what);

} // namespace lumora::engine
