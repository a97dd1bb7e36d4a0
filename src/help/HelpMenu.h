#pragma once

#include <QObject>
#include <QString>

#include <functional>

class MessageService;
class ShellService;
class QAction;
class QDialog;
class QWidget;

// The product's home page: the README shipped in the program's folder.
inline const QString kHomePageName = QStringLiteral("README.md");
inline const QString kNoHomePageMessage = QStringLiteral("主页文件 README.md 不存在。");
// The help file named for the program, looked up first, and the help page
// shipped with it, both in the program's folder.
inline const QString kHelpFileName = QStringLiteral("qvpkhelp.chm");
inline const QString kHelpPageName = QStringLiteral("qvpkhelp.html");
inline const QString kNoHelpMessage = QStringLiteral("帮助文件不存在。");

// The "帮助(&H)" menu: the help file, the home page and the about box. The
// first two go to the desktop through the shell seam.
class HelpMenu : public QObject
{
    Q_OBJECT
public:
    HelpMenu(const QString &programFolder, MessageService *messages, QWidget *owner);

    void setShell(ShellService *shell) { m_shell = shell; }
    void connectMenu(QAction *helpzxs, QAction *about, QAction *indexzx);

    // helpzxs: opens the first of qvpkhelp.chm, qvpkhelp.html found in the
    // program's folder; with neither, says "帮助文件不存在。" (title "提示").
    void showHelp();
    // indexzx: the home page, README.md in the program's folder; when it is
    // not there, says so (title "提示") rather than open nothing.
    void openHomePage();
    // Where the home page is: README.md in the program's folder.
    QString homePagePath() const { return fileInFolder(m_programFolder, kHomePageName); }
    // about: frmAbout, modal, owned by the window.
    void showAbout();

    // folder + name, with one "/" between them ("/" + name at the root).
    static QString fileInFolder(const QString &folder, const QString &name);

    // Runs a modal dialog; tests replace it to look at the dialog instead.
    std::function<void(QDialog &)> runModal;

private:
    QString m_programFolder;
    MessageService *m_messages;
    QWidget *m_owner;
    ShellService *m_shell = nullptr;
};
