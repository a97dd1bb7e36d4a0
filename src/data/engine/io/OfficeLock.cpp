#include "data/engine/io/OfficeLock.h"

#include "data/engine/EngineError.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace lumora::engine {

void refuseIfOpenInOffice(const QString &path, const QString &what)
{
    const QFileInfo info(path);
    const QDir dir = info.dir();
    const QString name = info.fileName();
    QStringList lockFiles{QStringLiteral("~$") + name, QStringLiteral(".~lock.") + name + QLatin1Char('#')};
    if (info.completeBaseName().size() > 6)
        lockFiles.append(QStringLiteral("~$") + name.mid(2));
    for (const QString &lock : lockFiles)
        if (QFileInfo::exists(dir.filePath(lock)))
            throw EngineError(
                QStringLiteral(
                    "%1 is open in another program (its lock file %2 exists); close it there and try "
                    "again")
                    .arg(what, lock),
                QStringLiteral("数据表被其他程序锁定：%1（存在锁定文件 %2），请在那个程序中关闭它后再试")
                    .arg(what, lock),
                EngineError::Code::Locked);
}

} // namespace lumora::engine
