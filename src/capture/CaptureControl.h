#pragma once

#include "capture/Caption.h"

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>

class FrameTap;
class QWidget;

// The camera component of the main window: live video in its own widget, a
// frozen still, and the still written to a file cropped to a fixed size.
// Every operation returns false on failure and leaves the reason in
// lastError(); the caller decides what the operator sees.
class CaptureControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~CaptureControl() override = default;

    // The widget that shows live video and the guide rectangle of the crop.
    virtual QWidget *videoWidget() = 0;

    virtual bool OpenPreview() = 0;
    virtual bool ClosePreview() = 0;
    // Freezes the newest frame as the still.
    virtual bool GrabStill() = 0;
    // Drops the still; live video shows again.
    virtual bool ResumePreview() = 0;
    virtual bool ShowVideoSettings() = 0;
    virtual bool ShowPictureSettings() = 0;
    // Writes the still cropped to CropWidth x CropHeight in the current save
    // format; the file is complete or absent when the call returns.
    virtual bool SaveStill(const QString &path) = 0;

    // "" for JPEG, "BMP" for a Windows bitmap.
    virtual void SetSaveFormat(const QString &format) = 0;
    virtual QString SaveFormat() const = 0;
    virtual void SetCropWidth(qint32 width) = 0;
    virtual void SetCropHeight(qint32 height) = 0;
    virtual qint32 CropWidth() const = 0;
    virtual qint32 CropHeight() const = 0;

    // The line drawn into every saved still and shown over the live video
    // where it will land; an empty caption draws nothing.
    virtual void SetCaption(const Caption &caption) = 0;
    virtual Caption caption() const = 0;

    virtual QSize windowSize() const = 0;
    virtual void setWindowSize(const QSize &size) = 0;

    virtual QString lastError() const = 0;

    // What the framing of the photo (a face finder) works with; a control
    // without live frames or framing keeps the defaults, which do nothing.
    // The tap on the live video (null: none).
    virtual FrameTap *frameTap() { return nullptr; }
    // The still held, at the camera's full size (null: none).
    virtual QImage stillImage() const { return {}; }
    // The part of the camera picture the photo is cut from, as fractions of
    // its width and height (cropRectAt); empty: the centred part. The guide
    // over the live video follows it.
    virtual void setCropRegion(QRectF region) { Q_UNUSED(region); }
    // How the guide over the live video is drawn: as always (Plain), or
    // telling that the framing checks pass or fail.
    enum class GuideState {
        Plain,
        Passing,
        Failing
    };
    virtual void setGuideState(GuideState state) { Q_UNUSED(state); }
    // Dots per inch written into saved photos (96 unless a photo rule sets it).
    virtual void setSaveDpi(int dpi) { Q_UNUSED(dpi); }

    // Gets ready, in the background, what the first OpenPreview would
    // otherwise set up itself; called once the main window shows. It never
    // opens the camera, and OpenPreview does not depend on it.
    virtual void prepareInBackground() {}
    // The newest live frame as the video window shows it, shared and not to
    // be written to; null while no live video runs (closed, or a still
    // shows). Cheap: called on the GUI thread a few times a second.
    virtual QImage liveFrame() const { return {}; }

signals:
    // Live video stopped on its own, outside any call (a camera unplugged):
    // the reason, for the operator. lastError() says the same afterwards.
    void previewFailed(const QString &reason);
    // A real camera delivered a picture on its own (through its tether
    // program's folder) while the preview runs: the caller takes it as if
    // the operator had pressed 拍摄照片; GrabStill then holds that picture.
    void pictureDelivered();
    // Something the operator should read in the status line that changes
    // nothing else (a picture in the tether folder that never completed).
    void notice(const QString &text);
};
