#include "data/engine/text/CpgFile.h"

#include "data/engine/io/SiblingFile.h"

#include <QFile>

namespace lumora::engine {

namespace {

// A .cpg holds one short name; whatever follows it is not read.
constexpr qint64 kMostRead = 256;

} // namespace

QByteArray cpgTextBeside(const QString &path)
{
    const QString cpg = siblingFile(path, QStringLiteral("cpg"));
    if (cpg.isEmpty())
        return {};
    QFile file(cpg);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.read(kMostRead).trimmed();
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.mid(3).trimmed();
    const qsizetype lineEnd = text.indexOf('\n');
    if (lineEnd >= 0)
        text = text.left(lineEnd).trimmed();
    return text;
}

} // namespace lumora::engine
