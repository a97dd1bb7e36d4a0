#pragma once

#include "capture/CaptureSource.h"
#include "capture/FrameShading.h"
#include "capture/GstHandle.h"

#include <gst/video/video.h>

#include <QImage>
#include <QObject>
#include <QRegion>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class BusWatcher;
typedef struct _GstAppSink GstAppSink;

// One running video source delivering frames to the GUI thread:
//   source → [size/rate caps] → [jpegdec] → scale+convert → BGRx at the view's size → appsink
// or, given a native window to draw in (setWindowHandle), straight to it:
//   … → BGRx at the view's size → ximagesink
// The second costs the GUI thread nothing a frame: the window system shows
// the frame the pipeline wrote. The guide's border and the caption are then
// drawn into each frame from an overlay the window made (setOverlay).
// where the source is v4l2src, videotestsrc, a picture file decoded once and
// repeated (appsrc → imagefreeze) or a video file (filesrc → decodebin →
// videoconvert, started again at its end).
// Only the live picture is scaled, in the pipeline, to the size the video
// window paints it at (the caps follow setViewSize and the source's size), so
// the window blits it. A probe at the scaler's input keeps a reference to the
// newest frame at the camera's full size: the still, converted once when it
// is asked for.
// The appsink callback runs on GStreamer's streaming thread. It wraps the
// mapped buffer in a QImage, without copying, that unmaps and releases it when
// the last copy goes, puts it into the newest-frame slot (under a mutex held
// only for a swap) and, if no notice is already on its way, posts one queued
// call that emits frameReady() on the GUI thread; a slow GUI therefore skips
// frames instead of queueing them. The bus is read from the Qt event loop; an
// error stops the pipeline and emits failed().
class GstFramePipeline : public QObject
{
    Q_OBJECT
public:
    explicit GstFramePipeline(QObject *parent = nullptr);
    ~GstFramePipeline() override;

    // Builds and starts the pipeline; false with the reason in *error.
    bool start(const CaptureSettings &settings, QString *error);
    // Stops the streaming thread and frees the pipeline; harmless when stopped.
    void stop();
    bool isRunning() const { return m_pipeline != nullptr; }

    // The newest live frame delivered, scaled for the video window (null
    // before the first one). Read-only: it shares the pipeline's buffer.
    // *dimmedOutside: the rectangle outside which it was dimmed for the
    // guide (empty when it was not).
    QImage newestFrame(QRect *dimmedOutside = nullptr) const;
    // The newest frame at the source's full size, as RGB32 (null before the
    // first one or when stopped).
    QImage stillFrame() const;
    // The newest full-size frame scaled to `width` pixels wide (its shape
    // kept) as RGB32, in one conversion; null before the first frame or
    // when stopped. *serial: the number of full-size frames seen when it
    // was taken, so a reader can tell a new frame from the one it had.
    // Any thread: it only takes a reference to the buffer under a lock.
    QImage sampledFrame(int width, quint64 *serial = nullptr) const;
    // The size of the source's frames, once the first one is on its way.
    QSize sourceSize() const;
    // The size, in device pixels, of the window the live frames are shown
    // in; the live frames are scaled to fit it from the next frame on.
    void setViewSize(QSize size);
    // The photo's size: live frames are dimmed outside its guide, as the
    // video window shows them, while they are the pipeline's own.
    void setCropSize(QSize crop);
    // The part of the source's frames the photo is cut from, as fractions
    // of their width and height (see cropRectAt); empty: the centred part.
    void setCropRegion(QRectF region);
    quint64 framesDelivered() const;
    // Waits up to timeoutMs for a frame newer than `after` frames, reading
    // the bus meanwhile; false when none came or the pipeline failed.
    bool waitForFrame(quint64 after, int timeoutMs);

    // A native X window the next start draws the live frames in, or 0 for
    // frames handed to the GUI (newestFrame). Taken only where the window
    // system is X11 and GStreamer has ximagesink.
    void setWindowHandle(quintptr handle);
    // Whether the running pipeline draws in that window itself; frameReady
    // then comes only for the first frame of each size.
    bool drawsDirectly() const { return m_directSink != nullptr; }
    // Drawn over each frame where `parts` say, when it draws directly:
    // premultiplied ARGB of the live frame's size (a frame of another size
    // is left without it).
    void setOverlay(const QImage &overlay, const QRegion &parts);
    // The window was exposed: draws the newest frame in it again.
    void expose();
    // The size of the live frames now coming, as scaled for the view.
    QSize previewSize() const;
    // A file read as a still picture, upright as its EXIF orientation says;
    // null when it is no picture Qt reads (then it is played as video).
    static QImage readPicture(const QString &path);

    // Changes the test picture's pattern while it runs.
    void setPattern(int pattern);

    // The readable reason for the last failure; empty again once a start
    // succeeds.
    QString lastError() const { return m_error; }

    // The source element while running, else null. Borrowed from the
    // pipeline; tests use it to make the source fail as a camera does.
    GstElement *sourceElement() const { return m_source; }

signals:
    void frameReady();
    void failed(const QString &reason);

private:
    static GstFlowReturn onNewSample(GstAppSink *sink, gpointer self);
    void deliver(QImage frame, QRect dimmedOutside);
    static GstPadProbeReturn onFullFrame(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    static GstPadProbeReturn onPreviewFrame(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    void shadingFor(QSize size, bool withOverlay, QRect *keep,
                    std::shared_ptr<const OverlayRuns> *overlay) const;
    void shadeBand(GstVideoFrame *frame, int firstRow, int endRow);
    void shade(GstBuffer *buffer, bool withOverlay);
    void countDirectFrame();
    void updatePreviewCaps();
    void onBusMessage(GstMessage *message);
    QString takeBusError();

    GstHandle<GstElement> m_pipeline;
    GstElement *m_source = nullptr;        // owned by m_pipeline
    GstElement *m_previewFilter = nullptr; // owned by m_pipeline
    GstElement *m_directSink = nullptr;    // owned by m_pipeline; null with the appsink
    quintptr m_windowHandle = 0;
    BusWatcher *m_watcher = nullptr;
    CaptureSettings m_settings;
    QString m_error;

    mutable std::mutex m_frameLock;
    std::condition_variable m_frameArrived;
    QImage m_newest;
    QRect m_newestDimmedOutside;
    quint64 m_serial = 0;
    std::atomic<bool> m_noticePending{false};

    // Written by the GUI thread (view) and the streaming thread (source).
    mutable std::mutex m_sizeLock;
    QSize m_viewSize;
    QSize m_sourceSize;
    QSize m_previewSize;
    QSize m_crop;
    QRectF m_cropRegion;

    // The newest full-size frame and its caps, from the streaming thread.
    mutable std::mutex m_stillLock;
    GstBuffer *m_stillBuffer = nullptr;
    GstCaps *m_stillCaps = nullptr;
    GstCaps *m_sourceCaps = nullptr; // the caps of the frames now coming
    quint64 m_stillSerial = 0;       // full-size frames seen since the start

    // The streaming thread's own: the live frames' format, and the last one
    // the probe dimmed, for the appsink callback that follows it.
    GstVideoInfo m_previewInfo;
    bool m_previewInfoValid = false;
    GstBuffer *m_dimmedBuffer = nullptr; // compared, never dereferenced
    QRect m_dimmedOutside;
    bool m_announced = false; // the first frame of this size was told of
    // The frame the program's scaler shaded as it wrote it (compared, never
    // dereferenced), and how.
    GstBuffer *m_shadedBuffer = nullptr;
    QRect m_bandKeep;
    std::shared_ptr<const OverlayRuns> m_bandOverlay;

    mutable std::mutex m_overlayLock;
    std::shared_ptr<const OverlayRuns> m_overlay;
};
