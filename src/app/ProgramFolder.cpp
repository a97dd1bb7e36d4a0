#include "app/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

QStringList programFolderCandidates(const QString &executableFolder, const QString &installedDataFolder,
                                    const QStringList &dataLocations)
{
    QStringList folders;
    const auto add = [&folders](const QString &folder) {
        if (folder.isEmpty())
            return;
        const QString clean = QDir::cleanPath(folder);
        if (!folders.contains(clean))
            folders.append(clean);
    };
    add(executableFolder);
    if (!executableFolder.isEmpty() && !installedDataFolder.isEmpty())
        add(QDir::isAbsolutePath(installedDataFolder) ? installedDataFolder
                                                      : executableFolder + u'/' + installedDataFolder);
    for (const QString &location : dataLocations)
        if (!location.isEmpty())
            add(location + QStringLiteral("/lumora"));
    return folders;
}

QString findProgramFolder(const QStringList &candidates, const QString &fallback)
{
    for (const QString &folder : candidates)
        if (QFileInfo(QDir(folder).filePath(kProgramFolderMarker)).isFile())
            return folder;
    return fallback;
}
