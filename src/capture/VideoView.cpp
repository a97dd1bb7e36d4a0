#include "capture/VideoView.h"

#include "capture/CaptionPainter.h"
#include "capture/CropGeometry.h"

#include <QPainter>
#include <QResizeEvent>

namespace {
const QColor Background(48, 48, 48);
const QColor Dimming(0, 0, 0, 110);

// A native window the pipeline draws live frames in. Qt paints nothing into
// it; when the window system exposes it, it asks for the frame again.
class DirectSurface : public QWidget
{
public:
    explicit DirectSurface(VideoView *view)
        : QWidget(view)
        , m_view(view)
    {
        // Its ancestors get native windows too (not their siblings: main()
        // asks for that), so the window system clips it to them and moves it
        // with them, as when the window's content is scrolled on a small
        // screen.
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }
    QPaintEngine *paintEngine() const override { return nullptr; }

protected:
    void paintEvent(QPaintEvent *) override { emit m_view->surfaceExposed(); }

private:
    VideoView *m_view;
};
} // namespace

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WEBCAPPICTUREOCX1"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void VideoView::setLiveFrame(const QImage &frame, QSize pictureSize, QRect dimmedOutside)
{
    m_live = frame;
    m_liveSize = pictureSize.isEmpty() ? frame.size() : pictureSize;
    m_liveDimmedOutside = dimmedOutside;
    m_note.clear();
    if (m_direct) {
        m_direct = false;
        placeSurface();
    }
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
    placeSurface();
    update();
}

void VideoView::clearStill()
{
    m_still = QImage();
    placeSurface();
    update();
}

quintptr VideoView::directSurface()
{
    if (!m_surface)
        m_surface = new DirectSurface(this);
    return quintptr(m_surface->winId());
}

void VideoView::setDirectLive(QSize pictureSize)
{
    m_direct = true;
    m_live = QImage();
    m_liveSize = pictureSize;
    m_liveDimmedOutside = QRect();
    m_note.clear();
    placeSurface();
    update();
}

void VideoView::placeSurface()
{
    if (!m_surface)
        return;
    const QRect target = pictureRect();
    const bool shown = showsDirectLive() && !target.isEmpty();
    if (shown) {
        m_surface->setGeometry(target);
        const QImage &image = overlay();
        if (image.cacheKey() != m_sentOverlay) {
            m_sentOverlay = image.cacheKey();
            emit directOverlayChanged(image, m_overlayBorder);
        }
    }
    m_surface->setVisible(shown);
}

void VideoView::showNote(const QString &note)
{
    m_direct = false;
    m_live = QImage();
    m_liveSize = QSize();
    m_liveDimmedOutside = QRect();
    m_note = note;
    placeSurface();
    update();
}

void VideoView::setCropSize(QSize crop)
{
    if (crop == m_crop)
        return;
    m_crop = crop;
    m_overlayStale = true;
    placeSurface();
    update();
}

void VideoView::setCropRegion(QRectF region)
{
    if (region == m_cropRegion)
        return;
    m_cropRegion = region;
    m_overlayStale = true;
    placeSurface();
    update();
}

void VideoView::setGuideState(CaptureControl::GuideState state)
{
    if (state == m_guideState)
        return;
    m_guideState = state;
    m_overlayStale = true;
    placeSurface();
    update();
}

void VideoView::setCaption(const Caption &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    m_overlayStale = true;
    placeSurface();
    update();
}

QSize VideoView::pictureSize() const
{
    if (!m_still.isNull())
        return m_still.size();
    return m_live.isNull() && !m_direct ? QSize() : m_liveSize;
}

QRect VideoView::pictureRect() const
{
    return fitRect(pictureSize(), rect());
}

QRect VideoView::guideRect() const
{
    const QRect target = pictureRect();
    if (target.isEmpty())
        return {};
    const QRect guide = guideInPicture(pictureSize(), target.size(), m_crop, m_cropRegion);
    return guide.isEmpty() ? QRect() : guide.translated(target.topLeft());
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
    placeSurface();
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
    m_overlayBorder = QRegion();
    m_overlayGuide = QRect();
    const QRect guide = guideRect().translated(-target.topLeft());
    if (target.isEmpty() || guide.isEmpty())
        return m_overlay;
    // Only these are drawn: the dimmed bands around the guide, its border
    // and the caption; the inside of the guide is left as it is.
    const QRect all(QPoint(0, 0), target.size());
    // The region keeps them apart, so no pixel is blended twice.
    m_overlayParts = QRegion(all) - QRegion(guide.adjusted(2, 2, -2, -2));
    m_overlayBorder = QRegion(guide) - QRegion(guide.adjusted(2, 2, -2, -2));
    m_overlayGuide = guide;
    const qreal ratio = devicePixelRatio();
    m_overlay = QImage(target.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_overlay.setDevicePixelRatio(ratio);
    m_overlay.fill(Dimming);
    QPainter p(&m_overlay);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(guide, Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    using GuideState = CaptureControl::GuideState;
    QPen pen(m_guideState == GuideState::Failing ? QColor(240, 170, 40) : QColor(80, 220, 80), 2,
             m_guideState == GuideState::Passing ? Qt::SolidLine : Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(guide.adjusted(1, 1, -1, -1));

    // The caption in photo pixels, scaled onto the guide: the same painter
    // draws it into the saved photo.
    if (!m_caption.isEmpty() && !m_crop.isEmpty()) {
        p.translate(guide.topLeft());
        p.scale(double(guide.width()) / m_crop.width(), double(guide.height()) / m_crop.height());
        CaptionPainter::paint(p, m_caption, m_crop);
        const QRect box = p.transform()
                              .mapRect(QRectF(CaptionPainter::box(m_caption, m_crop)))
                              .toAlignedRect()
                              .intersected(all);
        m_overlayParts += box;
        m_overlayBorder += box.intersected(guide);
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
    // The native window over the picture shows it.
    if (showsDirectLive())
        return;
    // A live frame already has the picture's size on screen and is copied as
    // it is; one that does not yet (the window was just resized) is scaled
    // fast. The still is painted smoothly: it is painted once.
    p.setRenderHint(QPainter::SmoothPixmapTransform, showsStill());
    p.drawImage(target, image);
    const QImage &shade = overlay();
    const qreal ratio = shade.devicePixelRatio();
    // A live frame the pipeline has already dimmed outside this very guide
    // needs the border and the caption only.
    const bool dimmed = !showsStill() && image.size() == target.size() && !m_overlayGuide.isEmpty() &&
                        m_liveDimmedOutside == m_overlayGuide;
    for (const QRect &part : dimmed ? m_overlayBorder : m_overlayParts)
        p.drawImage(part.topLeft() + target.topLeft(), shade,
                    QRectF(part.x() * ratio, part.y() * ratio, part.width() * ratio, part.height() * ratio));
}
