#include "app/PreviewPanel.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QStandardPaths>

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

PreviewPanel::PreviewPanel(QGroupBox *Frame2, QLabel *Image1, QString programFolder, QObject *parent)
    : QObject(parent)
    , m_frame(Frame2)
    , m_image(Image1)
    , m_folder(std::move(programFolder))
{
}

QString PreviewPanel::placeholderPath() const
{
    return JoinPath(m_folder, QStringLiteral("default.bmp"));
}

QString PreviewPanel::tempPhotoPath() const
{
    const QFileInfo folder(m_folder);
    if (!m_shared && folder.isDir() && folder.isWritable())
        return JoinPath(m_folder, QStringLiteral("temp.jpg"));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return JoinPath(cache, QStringLiteral("temp.jpg"));
}

bool PreviewPanel::loadPicture(const QString &path)
{
    QImageReader reader(path);
    // temp.jpg holds bitmap data when BMP is the save format.
    reader.setDecideFormatFromContent(true);
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    m_image->setPixmap(QPixmap::fromImage(image));
    m_image->resize(image.size());
    return true;
}

void PreviewPanel::CentrePreviewPicture()
{
    const QSize panel = m_frame->size();
    m_image->move((panel.width() - m_image->width()) / 2, (panel.height() - m_image->height()) / 2);
}

void PreviewPanel::showPhotoOrPlaceholder(const QString &path)
{
    if (path.isEmpty())
        return;
    if (!(QFileInfo::exists(path) && loadPicture(path)) && !loadPicture(placeholderPath())) {
        m_image->clear();
        m_image->resize(0, 0);
    }
    CentrePreviewPicture();
}

void PreviewPanel::showListed(const QString &path)
{
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) && loadPicture(path))
        return;
    loadPicture(placeholderPath());
}

void PreviewPanel::setFrameColour(int packed)
{
    m_frameColour = packed;
    QPalette palette = m_frame->palette();
    palette.setColor(QPalette::Window, PackedColour(packed));
    m_frame->setPalette(palette);
    m_frame->setAutoFillBackground(true);
}
