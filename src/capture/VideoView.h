#pragma once

#include "capture/Caption.h"
#include "capture/CaptureControl.h"

#include <QImage>
#include <QRegion>
#include <QWidget>

// The camera's video window: the newest frame (or the held still) fitted with
// its aspect ratio kept, and over it a guide rectangle around the part that a
// saved photo will show, with the caption where it will land in the photo;
// outside it the picture is dimmed. With no picture it shows a neutral
// background and a short note.
//
// Live frames come at the camera's rate, already scaled to the size they are
// painted at, so a frame costs a blit: the guide, the dimming and the caption
// are drawn once into an overlay kept until the crop, the caption, the
// window's size or the picture's size change, and only the bands the picture
// leaves uncovered are filled.
class VideoView : public QWidget
{
    Q_OBJECT
public:
    explicit VideoView(QWidget *parent = nullptr);

    // A live frame; `pictureSize` is the size of the camera's own frames it
    // was scaled from (empty: the frame's own size). The guide is placed on
    // the picture at that size, as the saved photo is cut from it.
    // `dimmedOutside`, when not empty, says the frame comes already dimmed
    // (by dimOutside) outside that rectangle of its pixels; if that is the
    // guide now shown, the window does not dim it again.
    void setLiveFrame(const QImage &frame, QSize pictureSize = {}, QRect dimmedOutside = {});
    void setStill(const QImage &still);
    void clearStill();
    // Forgets the live picture and shows `note` instead (while nothing runs).
    void showNote(const QString &note);
    void setCropSize(QSize crop);
    // Where the photo is cut from (cropRectAt); empty: the centred part.
    void setCropRegion(QRectF region);
    // Plain: the dashed green guide; Passing: solid green; Failing: dashed amber.
    void setGuideState(CaptureControl::GuideState state);
    CaptureControl::GuideState guideState() const { return m_guideState; }
    // Shown inside the guide rectangle where it lands in the saved photo.
    void setCaption(const Caption &caption);
    const Caption &caption() const { return m_caption; }

    bool showsStill() const { return !m_still.isNull(); }
    // The picture now painted: the still, else the live frame; null when none.
    QImage shownImage() const { return m_still.isNull() ? m_live : m_still; }
    QString note() const { return m_note; }
    // The guide rectangle in widget coordinates; empty when there is no picture.
    QRect guideRect() const;
    // Where the picture is painted, in widget coordinates; empty when there is none.
    QRect pictureRect() const;
    // The window's size in device pixels: the size live frames are best scaled to.
    QSize devicePixelSize() const;

    // Live frames drawn by the pipeline itself: a native window, made on the
    // first call, placed over the picture while live video shows. Its handle.
    quintptr directSurface();
    // Live video now goes to that window, from a camera of `pictureSize`:
    // the window is placed over the picture, and the overlay the pipeline
    // is to draw into each frame is sent (directOverlayChanged).
    void setDirectLive(QSize pictureSize);
    bool showsDirectLive() const { return m_direct && m_still.isNull(); }

    QSize sizeHint() const override;

signals:
    // The window's size changed; in device pixels.
    void resized(QSize devicePixels);
    // What the pipeline draws over live frames it shows itself: the guide's
    // border and the caption (the dimming it does on its own), in frame pixels.
    void directOverlayChanged(const QImage &overlay, const QRegion &parts);
    // The native window needs its picture again.
    void surfaceExposed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The size of the picture shown at full resolution: the still's, else the
    // camera frame's the live frame was scaled from.
    QSize pictureSize() const;
    // The guide, the dimming and the caption over pictureRect(), transparent
    // elsewhere; made again when what it shows changed.
    const QImage &overlay();
    // Shows the native window over the picture while live video goes to it,
    // else hides it; and sends the overlay when it changed.
    void placeSurface();

    QImage m_live;
    QSize m_liveSize;
    QRect m_liveDimmedOutside;
    QImage m_still;
    QString m_note;
    QSize m_crop{150, 200};
    QRectF m_cropRegion;
    CaptureControl::GuideState m_guideState = CaptureControl::GuideState::Plain;
    Caption m_caption;

    QImage m_overlay;
    QRegion m_overlayParts;  // the parts of it that are not transparent
    QRegion m_overlayBorder; // of those, the guide's border and the caption
    QRect m_overlayGuide;    // the guide it was drawn for, in its pixels
    QRect m_overlayPicture;  // pictureRect() the overlay was drawn for
    QSize m_overlayFrom;     // pictureSize() it was drawn for
    bool m_overlayStale = true;

    QWidget *m_surface = nullptr;
    bool m_direct = false;
    qint64 m_sentOverlay = 0; // cacheKey() of the overlay last sent
};
