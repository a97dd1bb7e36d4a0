#pragma once

#include <QByteArray>
#include <QString>

namespace lumora::engine {

// The Workbook stream of an Excel 97-2003 file, taken out of its OLE2
// container by libgsf. Throws EngineError naming `what` and saying what the
// file is instead: an .xlsx (or other zip) renamed .xls, an Excel 5/95 or
// older workbook, a compound file without a workbook, a damaged container.
QByteArray readWorkbookStream(const QByteArray &file, const QString &what);

} // namespace lumora::engine
