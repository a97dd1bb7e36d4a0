#include "capture/CaptureSettingsStore.h"

#include <QSettings>

namespace {

// The main window's store: application "Lumora", section "Settings".
struct Store
{
    Store() { settings.beginGroup(QStringLiteral("Settings")); }
    QSettings settings{QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumora"),
                       QStringLiteral("Lumora")};
};

} // namespace

namespace CaptureSettingsStore {

std::optional<CaptureSettings> load()
{
    Store store;
    QSettings &settings = store.settings;
    const QString kind = settings.value(QStringLiteral("spkind")).toString();
    CaptureSettings s;
    if (kind == QLatin1String("camera"))
        s.kind = CaptureSource::Kind::Camera;
    else if (kind == QLatin1String("test"))
        s.kind = CaptureSource::Kind::TestPicture;
    else if (kind == QLatin1String("folder"))
        s.kind = CaptureSource::Kind::Folder;
    else
        return std::nullopt;
    s.devicePath = settings.value(QStringLiteral("spdevice")).toString();
    s.deviceName = settings.value(QStringLiteral("spname")).toString();
    const QString media = settings.value(QStringLiteral("spmedia")).toString();
    if (media == QLatin1String("image/jpeg"))
        s.mediaType = media;
    s.width = qMax(0, settings.value(QStringLiteral("spwidth")).toString().toInt());
    s.height = qMax(0, settings.value(QStringLiteral("spheight")).toString().toInt());
    const QStringList rate = settings.value(QStringLiteral("sprate")).toString().split(QLatin1Char('/'));
    if (rate.size() == 2) {
        s.rate = FrameRate{rate.at(0).toInt(), rate.at(1).toInt()};
        if (!s.rate.isValid())
            s.rate = FrameRate{};
    }
    s.path = settings.value(QStringLiteral("spfolder")).toString();
    return s;
}

bool store(const CaptureSettings &s)
{
    QString kind;
    switch (s.kind) {
    case CaptureSource::Kind::Camera: kind = QStringLiteral("camera"); break;
    case CaptureSource::Kind::TestPicture: kind = QStringLiteral("test"); break;
    case CaptureSource::Kind::Folder: kind = QStringLiteral("folder"); break;
    case CaptureSource::Kind::File: return false;
    }
    Store kept;
    QSettings &settings = kept.settings;
    settings.setValue(QStringLiteral("spkind"), kind);
    settings.setValue(QStringLiteral("spdevice"), s.devicePath);
    settings.setValue(QStringLiteral("spname"), s.deviceName);
    settings.setValue(QStringLiteral("spmedia"), s.mediaType);
    settings.setValue(QStringLiteral("spwidth"), QString::number(s.width));
    settings.setValue(QStringLiteral("spheight"), QString::number(s.height));
    settings.setValue(QStringLiteral("sprate"),
                      s.rate.isValid() ? QStringLiteral("%1/%2").arg(s.rate.numerator).arg(s.rate.denominator)
                                       : QString());
    settings.setValue(QStringLiteral("spfolder"), s.path);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace CaptureSettingsStore
