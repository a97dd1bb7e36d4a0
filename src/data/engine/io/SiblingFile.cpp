#include "data/engine/io/SiblingFile.h"

#include <QDir>
#include <QFileInfo>

namespace lumora::engine {

QString siblingFile(const QString &path, const QString &ext)
{
    const QFileInfo info(path);
    const QDir dir = info.dir();
    const QString base = info.completeBaseName();
    const QString exact = dir.filePath(base + QLatin1Char('.') + ext);
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString &n : names) {
        const QFileInfo candidate(n);
        if (candidate.suffix().compare(ext, Qt::CaseInsensitive) == 0 &&
            candidate.completeBaseName().compare(base, Qt::CaseInsensitive) == 0)
            return dir.filePath(n);
    }
    return {};
}

} // namespace lumora::engine
