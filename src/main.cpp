#include "app/Form1.h"
#include "app/QtTranslations.h"
#include "capture/CaptureFactory.h"
#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumora"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumora"));
    InstallQtTranslations(app);

    QtMessageService messages;
    QtDialogService dialogs;
    // Declared before the window: the window hosts the camera's video widget
    // and hands it back when it goes.
    std::unique_ptr<CaptureControl> capture = createCaptureControl();

    Form1 window(capture.get(), &messages, &dialogs, QCoreApplication::applicationDirPath());
    window.show();
    if (!capture)
        messages.showMessage(&window, QStringLiteral("摄像头组件无法创建，不能拍照。"), QStringLiteral("错误"),
                             MessageService::Icon::Critical);
    return app.exec();
}
