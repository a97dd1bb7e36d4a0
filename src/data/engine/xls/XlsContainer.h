#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/io/RewrittenCopy.h"

#include <QByteArray>
#include <QString>

namespace lumora::engine {

// The Workbook stream of an Excel 97-2003 file, taken out of its OLE2
// container by libgsf. Throws EngineError naming `what` and saying what the
// file is instead: an .xlsx (or other zip) renamed .xls, an Excel 5/95 or
// older workbook, a compound file without a workbook, a damaged container.
QByteArray readWorkbookStream(const QByteArray &file, const QString &what);

// Reads `rewritten`, made from `original` by giving its top-level stream
// `stream` the bytes `expected`, the way other readers will: libgsf reads
// every stream, and the strict reading of the sector tables (CompoundFile)
// finds no flaw the original did not have and no more lost sectors; both
// give every other stream as the original held it. Throws EngineError
// saying `what`, the original, is not written.
void checkRewrittenContainer(const QByteArray &original, const QByteArray &rewritten, const QString &stream,
                             const QByteArray &expected, const QString &what);

} // namespace lumora::engine
