#include "naming/FolderBrowser.h"

#include "dialogs/DialogService.h"

#include <QDir>

QString browseSaveFolder(DialogService &dialogs, QWidget *parent)
{
    const QString chosen = dialogs.existingFolder(parent, kFolderBrowserTitle, QStringLiteral("/"));
    if (chosen.isEmpty())
        return {};
    return QDir::cleanPath(chosen);
}
