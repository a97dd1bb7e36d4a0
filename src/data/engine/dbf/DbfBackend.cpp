#include "data/engine/dbf/DbfBackend.h"

#include "data/engine/EngineError.h"

namespace lumora::engine {

std::unique_ptr<Backend> openDbfFolder(const QString &folder)
{
    throw EngineError(QStringLiteral("dBase tables cannot be read yet: %1").arg(folder));
}

} // namespace lumora::engine
