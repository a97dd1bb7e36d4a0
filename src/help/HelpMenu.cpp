#include "help/HelpMenu.h"

#include "dialogs/MessageService.h"
#include "dialogs/ShellService.h"
#include "help/frmAbout.h"

#include <QAction>
#include <QFileInfo>
#include <QUrl>

HelpMenu::HelpMenu(const QString &programFolder, MessageService *messages, QWidget *owner)
    : QObject(owner)
    , m_programFolder(programFolder)
    , m_messages(messages)
    , m_owner(owner)
{
    setObjectName(QStringLiteral("helpMenu"));
    runModal = [](QDialog &dialog) { dialog.exec(); };
}

void HelpMenu::connectMenu(QAction *helpzxs, QAction *about, QAction *indexzx)
{
    connect(helpzxs, &QAction::triggered, this, &HelpMenu::showHelp);
    connect(about, &QAction::triggered, this, &HelpMenu::showAbout);
    connect(indexzx, &QAction::triggered, this, &HelpMenu::openHomePage);
}

QString HelpMenu::fileInFolder(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

void HelpMenu::showHelp()
{
    for (const QString &name : {kHelpFileName, kHelpPageName}) {
        const QFileInfo file(fileInFolder(m_programFolder, name));
        // An ordinary file, not a hidden one nor a folder of that name.
        if (file.isFile() && !file.isHidden()) {
            if (m_shell)
                m_shell->open(QUrl::fromLocalFile(file.absoluteFilePath()));
            return;
        }
    }
    if (m_messages)
        m_messages->showMessage(m_owner, kNoHelpMessage, QStringLiteral("提示"),
                                MessageService::Icon::Warning);
}

void HelpMenu::openHomePage()
{
    const QFileInfo file(homePagePath());
    if (!file.isFile()) {
        if (m_messages)
            m_messages->showMessage(m_owner, kNoHomePageMessage, QStringLiteral("提示"),
                                    MessageService::Icon::Warning);
        return;
    }
    if (m_shell)
        m_shell->open(QUrl::fromLocalFile(file.absoluteFilePath()));
}

void HelpMenu::showAbout()
{
    frmAbout about(homePagePath(), m_owner);
    runModal(about);
}
