#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "app/QtTranslations.h"
#include "capture/CaptureFactory.h"
#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "dialogs/ShellService.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QStandardPaths>

// Where an installed executable finds the program's own files, relative to
// its folder; the build sets it from the install layout.
#ifndef LUMORA_DATA_FROM_BIN
#define LUMORA_DATA_FROM_BIN "../share/lumora"
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumora"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumora"));
    // Ties the windows to lumora.desktop, whose icon the desktop then shows.
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("lumora"), QIcon(QStringLiteral(":/lumora.png"))));
    InstallQtTranslations(app);

    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString programFolder = findProgramFolder(
        programFolderCandidates(executableFolder, QStringLiteral(LUMORA_DATA_FROM_BIN),
                                QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)),
        executableFolder);

    QtMessageService messages;
    QtDialogService dialogs;
    QtShellService shell;
    // Declared before the window: the window hosts the camera's video widget
    // and hands it back when it goes.
    std::unique_ptr<CaptureControl> capture = createCaptureControl();

    Form1 window(capture.get(), &messages, &dialogs, programFolder);
    window.setShell(&shell);
    // 退出: the program ends at once, without the close handling.
    QObject::connect(&window, &Form1::quitRequested, &app, [] { QCoreApplication::exit(0); });
    // An installed program's files are everyone's: even the superuser's
    // temp.jpg goes to the per-user cache, not into the package's folder.
    window.setProgramFolderShared(QDir(programFolder) != QDir(executableFolder));
    window.show();
    if (!capture)
        messages.showMessage(&window, QStringLiteral("摄像头组件无法创建，不能拍照。"),
                             QStringLiteral("错误"), MessageService::Icon::Critical);
    return app.exec();
}
