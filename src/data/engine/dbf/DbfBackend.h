#pragma once

#include "data/engine/TableSource.h"

namespace lumora::engine {

// A folder of dBase or FoxPro tables: every .dbf in it (any letter case) is a
// table named after its file name without extension. Throws EngineError when
// the folder cannot be read.
std::unique_ptr<Backend> openDbfFolder(const QString &folder);

} // namespace lumora::engine
