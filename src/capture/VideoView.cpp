#include "capture/VideoView.h"

#include "capture/CaptionPainter.h"
#include "capture/CropGeometry.h"

#include <QPainter>
#include <QResizeEvent>

namespace {
const QColor Background(48, 48, 48);
const QColor Dimming(0, 0, 0, 110);
} // namespace

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WEBCAPPICTUREOCX1"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void VideoView::setLiveFrame(const QImage &frame, QSize pictureSize)
{
    m_live = frame;
    m_liveSize = pictureSize.isEmpty() ? frame.size() : pictureSize;
    m_note.clear();
    if (!m_still.isNull())
        return;
    // Painted now rather than at the next pass of the event loop: one
    // frame, one trip through it. Frames never pile up here, the pipeline
    // sends the next notice only once this one is handled.
    if (isVisible())
        repaint();
    else
        update();
}

void VideoView::setStill(const QImage &still)
{
    m_still = still;
    update();
}

void VideoView::clearStill()
{
    m_still = QImage();
    update();
}

void VideoView::showNote(const QString &note)
{
    m_live = QImage();
    m_liveSize = QSize();
    m_note = note;
    update();
}

void VideoView::setCropSize(QSize crop)
{
    if (crop == m_crop)
        return;
    m_crop = crop;
    m_overlayStale = true;
    update();
}

void VideoView::setCaption(const Caption &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    m_overlayStale = true;
    update();
}

QSize VideoView::pictureSize() const
{
    if (!m_still.isNull())
        return m_still.size();
    return m_live.isNull() ? QSize() : m_liveSize;
}

QRect VideoView::pictureRect() const
{
    return fitRect(pictureSize(), rect());
}

QRect VideoView::guideRect() const
{
    const QSize picture = pictureSize();
    const QRect target = fitRect(picture, rect());
    const QRect crop = centredCropRect(picture, m_crop);
    if (target.isEmpty() || crop.isEmpty())
        return {};
    const double sx = double(target.width()) / picture.width();
    const double sy = double(target.height()) / picture.height();
    return QRectF(target.x() + crop.x() * sx, target.y() + crop.y() * sy, crop.width() * sx,
                  crop.height() * sy)
        .toAlignedRect()
        .intersected(target);
}

QSize VideoView::devicePixelSize() const
{
    return size() * devicePixelRatio();
}

QSize VideoView::sizeHint() const
{
    return {449, 345};
}

void VideoView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_overlayStale = true;
    emit resized(devicePixelSize());
}

const QImage &VideoView::overlay()
{
    const QRect target = pictureRect();
    if (!m_overlayStale && target == m_overlayPicture && pictureSize() == m_overlayFrom)
        return m_overlay;
    m_overlayStale = false;
    m_overlayPicture = target;
    m_overlayFrom = pictureSize();
    m_overlay = QImage();
    m_overlayParts = QRegion();
    const QRect guide = guideRect().translated(-target.topLeft());
    if (target.isEmpty() || guide.isEmpty())
        return m_overlay;
    // Only these are drawn: the dimmed bands around the guide, its border
    // and the caption; the inside of the guide is left as it is.
    const QRect all(QPoint(0, 0), target.size());
    // The region keeps them apart, so no pixel is blended twice.
    m_overlayParts = QRegion(all) - QRegion(guide.adjusted(2, 2, -2, -2));
    const qreal ratio = devicePixelRatio();
    m_overlay = QImage(target.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_overlay.setDevicePixelRatio(ratio);
    m_overlay.fill(Dimming);
    QPainter p(&m_overlay);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(guide, Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPen pen(QColor(80, 220, 80), 2, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(guide.adjusted(1, 1, -1, -1));

    // The caption in photo pixels, scaled onto the guide: the same painter
    // draws it into the saved photo.
    if (!m_caption.isEmpty() && !m_crop.isEmpty()) {
        p.translate(guide.topLeft());
        p.scale(double(guide.width()) / m_crop.width(), double(guide.height()) / m_crop.height());
        CaptionPainter::paint(p, m_caption, m_crop);
        m_overlayParts += p.transform()
                              .mapRect(QRectF(CaptionPainter::box(m_caption, m_crop)))
                              .toAlignedRect()
                              .intersected(all);
    }
    return m_overlay;
}

void VideoView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QImage &image = m_still.isNull() ? m_live : m_still;
    const QRect target = pictureRect();
    if (target.isEmpty()) {
        p.fillRect(rect(), Background);
        p.setPen(QColor(200, 200, 200));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   m_note.isEmpty() ? QStringLiteral("摄像头未打开") : m_note);
        return;
    }
    // The bands beside or above and below the picture; the picture covers the rest.
    const QRect all = rect();
    for (const QRect &band :
         {QRect(all.left(), all.top(), all.width(), target.top() - all.top()),
          QRect(all.left(), target.bottom() + 1, all.width(), all.bottom() - target.bottom()),
          QRect(all.left(), target.top(), target.left() - all.left(), target.height()),
          QRect(target.right() + 1, target.top(), all.right() - target.right(), target.height())})
        if (!band.isEmpty())
            p.fillRect(band, Background);
    // A live frame already has the picture's size on screen and is copied as
    // it is; one that does not yet (the window was just resized) is scaled
    // fast. The still is painted smoothly: it is painted once.
    p.setRenderHint(QPainter::SmoothPixmapTransform, showsStill());
    p.drawImage(target, image);
    const QImage &shade = overlay();
    const qreal ratio = shade.devicePixelRatio();
    for (const QRect &part : m_overlayParts)
        p.drawImage(part.topLeft() + target.topLeft(), shade,
                    QRectF(part.x() * ratio, part.y() * ratio, part.width() * ratio, part.height() * ratio));
}
