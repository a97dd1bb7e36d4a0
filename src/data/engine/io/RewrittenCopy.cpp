#include "data/engine/io/RewrittenCopy.h"

namespace lumora::engine {

QString rewrittenName(const QString &what)
{
    return QStringLiteral("\uE000%1\uE000").arg(what);
}

EngineError notWritten(const EngineError &error, const QString &what)
{
    const QString copy = rewrittenName(what);
    const QString english =
        QString(error.message()).replace(copy, QStringLiteral("the rewritten copy of %1").arg(what));
    const QString chinese =
        QString(error.chinese()).replace(copy, QStringLiteral("%1 改写后的副本").arg(what));
    return EngineError(QStringLiteral("%1 is not written: %2").arg(what, english),
                       QStringLiteral("没有写入 %1：%2").arg(what, chinese));
}

} // namespace lumora::engine
