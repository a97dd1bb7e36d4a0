#pragma once

#include "data/engine/TableSource.h"

#include <QByteArray>

namespace lumora::engine {

// An Excel 2007 or later workbook (.xlsx, .xlsm): its tables are named as
// the .xls backend names them ("Sheet1$", defined names). Throws
// EngineError naming the file when it is no workbook this program reads.
std::unique_ptr<Backend> openXlsxWorkbook(const QString &path);
// The same over a file's bytes in memory; its tables cannot be written.
std::unique_ptr<Backend> openXlsxBytes(const QByteArray &file, const QString &what);

} // namespace lumora::engine
