#pragma once

#include "data/engine/TableSource.h"

#include <QByteArray>

namespace lumora::engine {

// A delimited text file (.csv, .txt) as a database of one table, named
// after the file without its extension ("高一.csv" holds the table 高一).
// The connect string is "Text", options after ';': "charset=GBK" names the
// encoding, as a .cpg file beside the file does (the connect string wins);
// other options ("HDR=Yes", "FMT=Delimited") are accepted and change
// nothing. Throws EngineError naming the file when it cannot be read.
std::unique_ptr<Backend> openTextFile(const QString &path, const QString &connect);
// The same over a file's bytes in memory; its table cannot be written.
std::unique_ptr<Backend> openTextBytes(const QByteArray &file, const QString &what);

} // namespace lumora::engine
