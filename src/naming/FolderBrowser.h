#pragma once

#include <QString>

class DialogService;
class QWidget;

inline const QString kFolderBrowserTitle = QStringLiteral("请选择目标文件夹路径：");

// The "浏览" button's folder choice, starting at the top of the folder tree.
// Returns the folder's full path ("/" for the root, no trailing "/"
// otherwise), or an empty text when the operator cancelled: the caller puts
// it into Text1 either way.
QString browseSaveFolder(DialogService &dialogs, QWidget *parent);
