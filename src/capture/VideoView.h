#pragma once

#include "capture/Caption.h"

#include <QImage>
#include <QWidget>

// The camera's video window: the newest frame (or the held still) scaled to
// fit with its aspect ratio kept, and over it a guide rectangle around the
// part that a saved photo will show, with the caption where it will land in
// the photo; outside it the picture is dimmed. With
// no picture it shows a neutral background and a short note.
class VideoView : public QWidget
{
    Q_OBJECT
public:
    explicit VideoView(QWidget *parent = nullptr);

    void setLiveFrame(const QImage &frame);
    void setStill(const QImage &still);
    void clearStill();
    // Forgets the live picture and shows `note` instead (while nothing runs).
    void showNote(const QString &note);
    void setCropSize(QSize crop);
    // Shown inside the guide rectangle where it lands in the saved photo.
    void setCaption(const Caption &caption);
    const Caption &caption() const { return m_caption; }

    bool showsStill() const { return !m_still.isNull(); }
    // The picture now painted: the still, else the live frame; null when none.
    QImage shownImage() const { return m_still.isNull() ? m_live : m_still; }
    QString note() const { return m_note; }
    // The guide rectangle in widget coordinates; empty when there is no picture.
    QRect guideRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_live;
    QImage m_still;
    QString m_note;
    QSize m_crop{150, 200};
    Caption m_caption;
};
