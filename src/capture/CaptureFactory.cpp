#include "capture/CaptureFactory.h"

#include "capture/GstCaptureControl.h"

#include <QFileInfo>

std::unique_ptr<CaptureControl> createCaptureControl(QObject *parent,
                                                     const std::optional<CaptureSettings> &source)
{
    auto control = std::make_unique<GstCaptureControl>(parent);
    control->rememberSettings();
    if (source)
        control->setCaptureSettings(*source);
    return control;
}

std::optional<CaptureSettings> captureSettingsForPath(const QString &path, QString *error)
{
    const QFileInfo info(path);
    CaptureSettings s;
    s.path = info.absoluteFilePath();
    s.deviceName = info.fileName();
    if (info.isDir()) {
        s.kind = CaptureSource::Kind::Folder;
    } else if (info.isFile() && info.isReadable()) {
        s.kind = CaptureSource::Kind::File;
    } else {
        if (error)
            *error = QStringLiteral("找不到图片、视频文件或文件夹：%1").arg(path);
        return std::nullopt;
    }
    return s;
}
