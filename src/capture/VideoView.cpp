#include "capture/VideoView.h"

#include "capture/CaptionPainter.h"
#include "capture/CropGeometry.h"

#include <QPainter>
#include <QPainterPath>

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WEBCAPPICTUREOCX1"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void VideoView::setLiveFrame(const QImage &frame)
{
    m_live = frame;
    m_note.clear();
    if (m_still.isNull())
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
    m_note = note;
    update();
}

void VideoView::setCropSize(QSize crop)
{
    m_crop = crop;
    update();
}

void VideoView::setCaption(const Caption &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

QRect VideoView::guideRect() const
{
    const QImage image = shownImage();
    const QRect target = fitRect(image.size(), rect());
    const QRect crop = centredCropRect(image.size(), m_crop);
    if (target.isEmpty() || crop.isEmpty())
        return {};
    const double sx = double(target.width()) / image.width();
    const double sy = double(target.height()) / image.height();
    return QRectF(target.x() + crop.x() * sx, target.y() + crop.y() * sy, crop.width() * sx,
                  crop.height() * sy)
        .toAlignedRect()
        .intersected(target);
}

QSize VideoView::sizeHint() const
{
    return {449, 345};
}

void VideoView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(48, 48, 48));
    const QImage image = shownImage();
    const QRect target = fitRect(image.size(), rect());
    if (target.isEmpty()) {
        p.setPen(QColor(200, 200, 200));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   m_note.isEmpty() ? QStringLiteral("摄像头未打开") : m_note);
        return;
    }
    // Live frames come at the camera's rate: a fast scale keeps painting
    // cheap. The still is painted once, smoothly.
    p.setRenderHint(QPainter::SmoothPixmapTransform, showsStill());
    p.drawImage(target, image);

    const QRect guide = guideRect();
    if (guide.isEmpty())
        return;
    QPainterPath outside;
    outside.addRect(target);
    QPainterPath inside;
    inside.addRect(guide);
    p.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 110));
    QPen pen(QColor(80, 220, 80), 2, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(guide.adjusted(1, 1, -1, -1));

    // The caption in photo pixels, scaled onto the guide: the same painter
    // draws it into the saved photo.
    if (!m_caption.isEmpty() && !m_crop.isEmpty()) {
        p.save();
        p.translate(guide.topLeft());
        p.scale(double(guide.width()) / m_crop.width(), double(guide.height()) / m_crop.height());
        CaptionPainter::paint(p, m_caption, m_crop);
        p.restore();
    }
}
