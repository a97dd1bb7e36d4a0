#pragma once

#include "capture/CaptureControl.h"
#include "capture/CaptureSource.h"
#include "capture/VideoView.h"

#include <QImage>
#include <QPointer>

#include <memory>

class FrameTap;
class GstFramePipeline;
class QDialog;
class TetherFolder;

// The camera component on GStreamer: a V4L2 camera through v4l2src, or
// videotestsrc's test picture when the machine has no camera; or a picture or
// video file played through the same pipeline. A tether folder
// ("联机拍摄文件夹") needs no pipeline: while the preview "runs" the folder is
// watched, the window shows the newest picture from it (or a note that the
// camera is awaited), and each picture is offered with pictureDelivered().
//
// Threads: everything here runs on the GUI thread except GstFramePipeline's
// appsink callback, which only fills the newest-frame slot and posts a notice.
// GStreamer is initialised at the first OpenPreview or settings dialog, or
// earlier on a worker thread by prepareInBackground, never at construction,
// so the main window starts without paying for it.
class GstCaptureControl : public CaptureControl
{
    Q_OBJECT
public:
    // Until the operator picks one in "视频设置", each OpenPreview takes the
    // first camera found, or the test picture.
    explicit GstCaptureControl(QObject *parent = nullptr);
    // Opens exactly this source.
    explicit GstCaptureControl(const CaptureSettings &settings, QObject *parent = nullptr);
    ~GstCaptureControl() override;

    QWidget *videoWidget() override;
    VideoView *view() const { return m_view; }

    bool OpenPreview() override;
    bool ClosePreview() override;
    bool GrabStill() override;
    bool ResumePreview() override;
    bool ShowVideoSettings() override;
    bool ShowPictureSettings() override;
    bool SaveStill(const QString &path) override;

    void SetSaveFormat(const QString &format) override;
    QString SaveFormat() const override { return m_saveFormat; }
    void SetCropWidth(qint32 width) override;
    void SetCropHeight(qint32 height) override;
    qint32 CropWidth() const override { return m_crop.width(); }
    qint32 CropHeight() const override { return m_crop.height(); }

    void SetCaption(const Caption &caption) override;
    Caption caption() const override { return m_caption; }

    QSize windowSize() const override { return m_windowSize; }
    void setWindowSize(const QSize &size) override;

    QString lastError() const override { return m_error; }

    FrameTap *frameTap() override { return m_tap.get(); }
    QImage stillImage() const override { return m_still; }
    void setCropRegion(QRectF region) override;
    QRectF cropRegion() const { return m_cropRegion; }
    void setGuideState(GuideState state) override;
    void setSaveDpi(int dpi) override { m_dpi = dpi; }
    int saveDpi() const { return m_dpi; }

    // Initialises GStreamer on a worker thread.
    void prepareInBackground() override;
    QImage liveFrame() const override;

    bool isPreviewRunning() const;
    bool hasStill() const { return !m_still.isNull(); }
    QImage still() const { return m_still; }
    // The source the next OpenPreview starts (and the running one).
    CaptureSettings captureSettings() const { return m_settings; }
    // Takes effect at the next OpenPreview; stops the automatic choice.
    void setCaptureSettings(const CaptureSettings &settings);

    // Accepted "视频设置" choices are kept in the settings store, and the
    // kept choice is taken back now. Off unless asked: the program asks, a
    // test of the dialog need not.
    void rememberSettings();
    // The watcher of the tether folder, for its timing.
    TetherFolder *tetherFolder() const { return m_tether; }
    // What the window shows while the tether folder has given no picture yet.
    static QString waitingNote();

    // The settings for a source when the operator has not chosen any.
    static CaptureSettings defaultSettingsFor(const CaptureSource &source);

    // How long GrabStill waits for the first frame after OpenPreview.
    static constexpr int FirstFrameTimeoutMs = 2000;

protected:
    // Shows a settings dialog modally and returns its result. Tests override
    // it to set the dialog's values and accept or reject it without blocking.
    virtual int runDialog(QDialog &dialog);

private:
    bool fail(const QString &why);
    void chooseSourceIfAutomatic();
    void showIdle();
    void onPipelineFailed(const QString &reason);
    bool usesFolder() const { return !m_automaticSource && m_settings.kind == CaptureSource::Kind::Folder; }
    // Starts what m_settings names; false with the reason.
    bool startSource(QString *why);
    void stopSource();
    void onTetherPicture(const QImage &picture);
    void showTetherPicture();

    GstFramePipeline *m_pipeline;
    TetherFolder *m_tether;
    QImage m_tetherPicture; // the newest picture from the tether folder
    bool m_remember = false;
    std::unique_ptr<FrameTap> m_tap; // reads m_pipeline: goes first
    QPointer<VideoView> m_view;
    CaptureSettings m_settings;
    bool m_automaticSource = true;
    QImage m_still;
    QString m_saveFormat;
    QSize m_crop{150, 200};
    QRectF m_cropRegion;
    int m_dpi = 96;
    Caption m_caption;
    QSize m_windowSize{449, 345};
    QString m_error;
};
