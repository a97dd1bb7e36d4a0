#pragma once

#include <QDialog>
#include <QString>

// "版本 " and the version as major.minor.revision: (2, 1, 0) -> "版本 2.1.0".
QString VersionText(int major, int minor, int revision);
// The version this program was built as.
QString BuildVersionText();
// "许可证：" and the licence (an SPDX identifier), or that none is stated.
QString LicenceText(const QString &spdx);
// The licence this program was built under, as LicenceText words it.
QString BuildLicenceText();

// The about box, titled "关于 Lumora": the program's picture, title,
// version and licence as the build states them, the maker, the home page
// (the README shipped with the program, at homePage), and "确定" (cmdOK),
// which Enter and Esc both answer.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(const QString &homePage = QString(), QWidget *parent = nullptr);
};
