#pragma once

#include <QByteArray>
#include <QString>

namespace lumora::engine {

// The text of the .cpg file beside the data file at `path` (roster.cpg
// beside roster.dbf or roster.mdb, in any letter case): the name of the
// code page the file's text is in, as written there, for
// CodePage::nameForCpg. Only its first line counts, without a byte-order
// mark and trimmed; only its first 256 bytes are read. Empty when there is
// no such file or it cannot be read.
//
//     const QByteArray name = CodePage::nameForCpg(cpgTextBeside(path)); // "CP936" -> "GBK"
QByteArray cpgTextBeside(const QString &path);

} // namespace lumora::engine
