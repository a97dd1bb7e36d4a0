#pragma once

#include "data/engine/EngineError.h"

#include <QString>

namespace lumora::engine {

// The name under which a rewritten copy of `what` is read, so that an error
// met reading it can be told from one about the file itself; notWritten()
// says such an error of the file: "roster.xls is not written: the rewritten
// copy of roster.xls is damaged: ...".
QString rewrittenName(const QString &what);
EngineError notWritten(const EngineError &error, const QString &what);

} // namespace lumora::engine
