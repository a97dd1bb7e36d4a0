#pragma once

#include "data/engine/TableSource.h"

namespace lumora::engine {

// An Access database (.mdb, Jet 3 or Jet 4) as the engine's backend: its
// user tables, in the order its catalogue (MSysObjects) lists them. System
// tables are not listed; linked tables and queries are not listed either,
// and each table's notes() say which were left out. `connect` is the
// connect string: empty, or options after ";" such as ";pwd=secret" (the
// database password) and ";charset=GBK" (the code page of Jet 3 text, when
// the database's sort order does not tell it: "GBK", "CP936", "Big5" ...).
// Without that option, a .cpg file beside the database (roster.cpg for
// roster.mdb, holding for instance "936" or "GBK") names the code page;
// when nothing names it, GBK is assumed (see JetFile). A file cut short is
// read with notes on what is missing; one whose catalogue cannot be read,
// or lists nothing for want of its pages, is refused. Throws EngineError
// when the file is no database this reader can open.
std::unique_ptr<Backend> openMdb(const QString &path, const QString &connect);
// The same over bytes in memory, for the fuzz target; nothing can be written.
std::unique_ptr<Backend> mdbFromBytes(const QByteArray &bytes, const QString &connect = {});

} // namespace lumora::engine
