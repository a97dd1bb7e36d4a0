#pragma once

#include <QString>

namespace lumora::engine {

// The file beside `path` with the same base name and extension `ext`, in
// any letter case (the exact spelling wins); empty when there is none. A
// table's memo file, code page file or lock file is found this way.
//
//     siblingFile("/rosters/ROSTER.DBF", "cpg") // "/rosters/roster.cpg"
QString siblingFile(const QString &path, const QString &ext);

} // namespace lumora::engine
