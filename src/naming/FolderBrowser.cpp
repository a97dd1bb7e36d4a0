#include "naming/FolderBrowser.h"

#include "dialogs/CCommonDialogs.h"

QString browseSaveFolder(DialogService &dialogs, QWidget *parent, const QString &current)
{
    CCommonDialogs browser(&dialogs, QStringLiteral("save folder"));
    browser.Init(parent);
    browser.SetTitle(kFolderBrowserTitle);
    browser.SetPath(current);
    return browser.ShowFolder() ? browser.Path() : QString();
}
