#pragma once

#include <QDialog>
#include <QString>

// "版本 " and the version as major.minor.revision: (2, 1, 0) -> "版本 2.1.0".
QString VersionText(int major, int minor, int revision);
// The version this program was built as.
QString BuildVersionText();

// The about box: the program's picture, title, version, maker and rights
// notice, and "确定" (cmdOK), which Enter and Esc both answer.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);
};
