#pragma once

#include <QString>

class DialogService;
class QWidget;

inline const QString kFolderBrowserTitle = QStringLiteral("请选择目标文件夹路径：");

// The "浏览" button's folder choice. It starts in the folder chosen last in
// this run, else in `current` (the save folder shown) when that is a folder,
// else in the home folder. Returns the folder's full path ("/" for the root,
// no trailing "/" otherwise), or an empty text when the operator cancelled:
// the caller puts it into Text1 either way.
QString browseSaveFolder(DialogService &dialogs, QWidget *parent, const QString &current = QString());
