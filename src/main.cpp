#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "app/QtTranslations.h"
#include "capture/CaptureFactory.h"
#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "dialogs/ShellService.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

// Where an installed executable finds the program's own files, relative to
// its folder; the build sets it from the install layout.
#ifndef LUMORA_DATA_FROM_BIN
#define LUMORA_DATA_FROM_BIN "../share/lumora"
#endif

namespace {

// Runs `work` once, from the event loop, after `window` was first exposed:
// the window is mapped and painted by then.
void runAfterFirstExpose(QWindow *window, std::function<void()> work)
{
    class Watch : public QObject
    {
    public:
        Watch(QWindow *window, std::function<void()> work)
            : QObject(window)
            , m_work(std::move(work))
        {
            window->installEventFilter(this);
        }
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
                watched->removeEventFilter(this);
                QTimer::singleShot(0, this, [this] {
                    m_work();
                    deleteLater();
                });
            }
            return false;
        }

    private:
        std::function<void()> m_work;
    };
    if (window)
        new Watch(window, std::move(work));
}

} // namespace

int main(int argc, char *argv[])
{
    // The live video's native window makes its ancestors native, and only them.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumora"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumora"));
    // Ties the windows to lumora.desktop, whose icon the desktop then shows.
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    // The bundled icon now; the icon theme's is looked up once the window
    // shows (the lookup reads the theme's folders), and replaces it if the
    // theme has one.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumora.png")));
    InstallQtTranslations(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("按名册批量拍摄证件照。"));
    parser.addHelpOption();
    const QCommandLineOption cameraOption(
        QStringLiteral("camera"),
        QStringLiteral("用图片、视频文件或文件夹代替摄像头：图片显示为不动的视频，视频循环播放，"
                       "文件夹里新存入的照片（相机联机程序拍下的）直接作为拍摄的照片。"),
        QStringLiteral("PATH"));
    parser.addOption(cameraOption);
    parser.process(app);
    std::optional<CaptureSettings> cameraSource;
    if (parser.isSet(cameraOption)) {
        QString why;
        cameraSource = captureSettingsForPath(parser.value(cameraOption), &why);
        if (!cameraSource) {
            std::fprintf(stderr, "lumora: %s\n", qUtf8Printable(why));
            return 2;
        }
    }

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
    std::unique_ptr<CaptureControl> capture = createCaptureControl(nullptr, cameraSource);

    Form1 window(capture.get(), &messages, &dialogs, programFolder);
    window.setShell(&shell);
    // 退出: the program ends at once, without the close handling.
    QObject::connect(&window, &Form1::quitRequested, &app, [] { QCoreApplication::exit(0); });
    // An installed program's files are everyone's: even the superuser's
    // temp.jpg goes to the per-user cache, not into the package's folder.
    window.setProgramFolderShared(QDir(programFolder) != QDir(executableFolder));
    window.show();
    // Once the window is on screen: what start-up need not wait for.
    runAfterFirstExpose(window.windowHandle(), [&capture] {
        if (QIcon::hasThemeIcon(QStringLiteral("lumora")))
            QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("lumora")));
        if (capture)
            capture->prepareInBackground();
    });
    if (!capture)
        messages.showMessage(&window, QStringLiteral("摄像头组件无法创建，不能拍照。"),
                             QStringLiteral("错误"), MessageService::Icon::Critical);
    return app.exec();
}
