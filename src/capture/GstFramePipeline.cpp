#include "capture/GstFramePipeline.h"

#include "capture/BusWatcher.h"
#include "capture/CropGeometry.h"
#include "capture/FrameShading.h"
#include "capture/GstRuntime.h"
#include "capture/PreviewScale.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <gst/video/videooverlay.h>

#include <chrono>

namespace {

// What the operator reads: the usual camera troubles in plain words, with
// GStreamer's own text behind them for whoever has to look further.
QString describe(GError *err, const gchar *debug)
{
    Q_UNUSED(debug);
    if (!err)
        return QStringLiteral("未知错误");
    const QString detail = QString::fromUtf8(err->message);
    QString plain;
    if (err->domain == GST_RESOURCE_ERROR) {
        switch (err->code) {
        case GST_RESOURCE_ERROR_READ:
            // What v4l2src reports when the device goes away under it.
            plain = QStringLiteral("读不到画面，摄像头可能已被拔出");
            break;
        case GST_RESOURCE_ERROR_NOT_FOUND: plain = QStringLiteral("找不到摄像头设备"); break;
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE: plain = QStringLiteral("无法打开摄像头设备"); break;
        case GST_RESOURCE_ERROR_BUSY: plain = QStringLiteral("摄像头正被其他程序使用"); break;
        default: break;
        }
    }
    if (plain.isEmpty() || detail.isEmpty())
        return plain.isEmpty() ? detail : plain;
    return plain + QStringLiteral("（") + detail + QStringLiteral("）");
}

// Links a decoded video stream of a file to the head of the rest of the
// pipeline; other streams (sound) stay unlinked. Streaming thread.
void linkDecodedVideo(GstElement *, GstPad *pad, gpointer head)
{
    GstCapsHandle caps(gst_pad_get_current_caps(pad));
    if (!caps)
        caps.reset(gst_pad_query_caps(pad, nullptr));
    const GstStructure *s =
        caps && gst_caps_get_size(caps.get()) > 0 ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (!s || !g_str_has_prefix(gst_structure_get_name(s), "video/"))
        return;
    GstHandle<GstPad> sink(gst_element_get_static_pad(static_cast<GstElement *>(head), "sink"));
    if (sink && !gst_pad_is_linked(sink.get()))
        gst_pad_link(pad, sink.get());
}

// Frees the picture a file source pushed, when GStreamer lets go of it.
void releasePicture(gpointer picture)
{
    delete static_cast<QImage *>(picture);
}

// The rate a still picture is repeated at: it never changes, so a few
// frames a second are enough to show a new window size or guide.
constexpr int PictureRate = 10;

} // namespace

QImage GstFramePipeline::readPicture(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    return reader.read();
}

GstFramePipeline::GstFramePipeline(QObject *parent)
    : QObject(parent)
{
}

GstFramePipeline::~GstFramePipeline()
{
    // The streaming thread points at this object: it must be gone first.
    stop();
}

bool GstFramePipeline::start(const CaptureSettings &settings, QString *error)
{
    auto fail = [&](const QString &why) {
        m_error = why;
        if (error)
            *error = why;
        stop();
        return false;
    };
    stop();
    if (!ensureGstInitialised(&m_error))
        return fail(m_error);
    m_settings = settings;
    m_noticePending = false;
    m_previewInfoValid = false;
    m_dimmedBuffer = nullptr;
    m_shadedBuffer = nullptr;
    {
        std::lock_guard lock(m_sizeLock);
        m_sourceSize = QSize();
        m_previewSize = QSize(); // unlike any fitted size: the first caps are always set
    }

    const bool camera = settings.kind == CaptureSource::Kind::Camera;
    const bool file = settings.kind == CaptureSource::Kind::File;
    const bool jpeg = !file && settings.mediaType == QLatin1String("image/jpeg");
    // A file: a still picture, decoded once (upright, as the EXIF
    // orientation says) and repeated; anything else is played as video.
    QImage picture;
    if (file) {
        if (!QFileInfo(settings.path).isFile())
            return fail(QStringLiteral("找不到文件 %1").arg(settings.path));
        picture = readPicture(settings.path);
        if (!picture.isNull())
            picture = picture.convertToFormat(QImage::Format_RGB32);
    }
    m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("lumora-capture"))));
    QString why;
    // Makes the elements in turn and links each behind `previous`; the last
    // one, or null with the reason in `why`.
    auto chain = [&](GstElement *previous, std::initializer_list<const char *> factories) -> GstElement * {
        for (const char *factory : factories) {
            if (!factory)
                continue;
            GstElement *element = gst_element_factory_make(factory, nullptr);
            if (!element) {
                why = QStringLiteral("缺少 GStreamer 组件 %1").arg(QLatin1String(factory));
                return nullptr;
            }
            gst_bin_add(GST_BIN(m_pipeline.get()), element);
            if (previous && !gst_element_link(previous, element)) {
                why = QStringLiteral("无法连接 GStreamer 组件 %1").arg(QLatin1String(factory));
                return nullptr;
            }
            previous = element;
        }
        return previous;
    };

    // The element whose frames go on to the size and format filter.
    GstElement *head = nullptr;
    if (file && !picture.isNull()) {
        m_source = chain(nullptr, {"appsrc"});
        head = m_source ? chain(m_source, {"imagefreeze"}) : nullptr;
    } else if (file) {
        m_source = chain(nullptr, {"filesrc"});
        GstElement *decoder = m_source ? chain(m_source, {"decodebin"}) : nullptr;
        // Linked to the decoder once it knows what the file holds.
        head = decoder ? chain(nullptr, {"videoconvert"}) : nullptr;
        if (head)
            g_signal_connect(decoder, "pad-added", G_CALLBACK(linkDecodedVideo), head);
    } else {
        m_source = chain(nullptr, {camera ? "v4l2src" : "videotestsrc"});
        head = m_source;
    }
    GstElement *sourceFilter = head ? chain(head, {"capsfilter"}) : nullptr;
    // Frames already in the window's format (the test picture's, a file's)
    // need only
    // scaling, done by the program's own scaler; others are converted and
    // scaled in a single pass where GStreamer has an element for both.
    const bool windowFormat = !camera && !jpeg;
    const bool oneStep = windowFormat || gstElementAvailable("videoconvertscale");
    GstElement *scaler = nullptr;
    if (sourceFilter && windowFormat) {
        scaler = makePreviewScale();
        // The live frame is shaded a band of rows at a time as the scaler
        // writes it, in one pass over the memory.
        setPreviewRowsWritten(scaler, [this](GstVideoFrame *frame, int firstRow, int endRow) {
            shadeBand(frame, firstRow, endRow);
        });
        gst_bin_add(GST_BIN(m_pipeline.get()), scaler);
        if (!gst_element_link(sourceFilter, scaler)) {
            why = QStringLiteral("无法连接预览缩放组件");
            scaler = nullptr;
        }
    } else if (sourceFilter) {
        scaler =
            chain(sourceFilter, {jpeg ? "jpegdec" : nullptr, oneStep ? "videoconvertscale" : "videoscale"});
        // Borders would darken the picture's edges when the view's rounding
        // differs from the source's shape by a pixel.
        if (scaler)
            g_object_set(scaler, "add-borders", FALSE, "method", 0, nullptr);
    }
    GstElement *converter = scaler && !oneStep ? chain(scaler, {"videoconvert"}) : scaler;
    m_previewFilter = converter ? chain(converter, {"capsfilter"}) : nullptr;
    const bool direct = m_windowHandle != 0 && gstElementAvailable("ximagesink");
    GstElement *sink =
        m_previewFilter ? chain(m_previewFilter, {direct ? "ximagesink" : "appsink"}) : nullptr;
    if (!sink)
        return fail(why);
    m_announced = false;

    if (camera) {
        if (settings.devicePath.isEmpty())
            return fail(QStringLiteral("没有选择摄像头"));
        // A property, not a parsed launch line: any path is taken literally.
        g_object_set(m_source, "device", QFile::encodeName(settings.devicePath).constData(), nullptr);
    } else if (file && !picture.isNull()) {
        // Paced by the clock, as a camera is.
        g_object_set(head, "is-live", TRUE, nullptr);
        GstCapsHandle caps(gst_caps_new_simple(
            "video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, picture.width(), "height",
            G_TYPE_INT, picture.height(), "framerate", GST_TYPE_FRACTION, 0, 1, nullptr));
        g_object_set(m_source, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
        // RGB32 is BGRx in memory, rows unpadded, as GStreamer lays them out.
        auto *held = new QImage(picture);
        GstBuffer *buffer = gst_buffer_new_wrapped_full(
            GST_MEMORY_FLAG_READONLY, const_cast<uchar *>(held->constBits()), size_t(held->sizeInBytes()), 0,
            size_t(held->sizeInBytes()), held, &releasePicture);
        GST_BUFFER_PTS(buffer) = 0;
        gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
        gst_app_src_end_of_stream(GST_APP_SRC(m_source));
    } else if (file) {
        g_object_set(m_source, "location", QFile::encodeName(settings.path).constData(), nullptr);
    } else {
        g_object_set(m_source, "is-live", TRUE, "pattern", settings.pattern, nullptr);
    }

    GstCapsHandle sourceCaps(gst_caps_new_empty_simple(jpeg ? "image/jpeg" : "video/x-raw"));
    // The test picture is drawn straight in the window's format: nothing to
    // convert, in the live picture or the still.
    if (!camera && !jpeg)
        gst_caps_set_simple(sourceCaps.get(), "format", G_TYPE_STRING, "BGRx", nullptr);
    if (settings.width > 0 && settings.height > 0)
        gst_caps_set_simple(sourceCaps.get(), "width", G_TYPE_INT, settings.width, "height", G_TYPE_INT,
                            settings.height, nullptr);
    if (settings.rate.isValid())
        gst_caps_set_simple(sourceCaps.get(), "framerate", GST_TYPE_FRACTION, settings.rate.numerator,
                            settings.rate.denominator, nullptr);
    else if (file && !picture.isNull())
        gst_caps_set_simple(sourceCaps.get(), "framerate", GST_TYPE_FRACTION, PictureRate, 1, nullptr);
    g_object_set(sourceFilter, "caps", sourceCaps.get(), nullptr);

    // Every full-size frame passes the scaler's input, where a probe keeps
    // the newest for the still; the source's caps pass there too, before the
    // scaler negotiates them: the scaling caps are set right then.
    {
        GstHandle<GstPad> scalerSink(gst_element_get_static_pad(scaler, "sink"));
        gst_pad_add_probe(scalerSink.get(),
                          GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &GstFramePipeline::onFullFrame, this, nullptr);
    }
    updatePreviewCaps();

    {
        GstHandle<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
        gst_pad_add_probe(sinkPad.get(),
                          GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &GstFramePipeline::onPreviewFrame, this, nullptr);
    }
    // A video file plays at its own pace, not as fast as it decodes.
    const bool playsFile = file && picture.isNull();
    if (direct) {
        m_directSink = sink;
        // The window is the program's: its events stay with the program,
        // which asks for a redraw when the window is exposed (expose()); so
        // the sink needs no thread of its own polling the window system.
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), guintptr(m_windowHandle));
        g_object_set(sink, "handle-events", FALSE, "handle-expose", FALSE, "sync", playsFile ? TRUE : FALSE,
                     "enable-last-sample", FALSE, nullptr);
    } else {
        // The window holds the frames it shows itself: the sink keeps none.
        g_object_set(sink, "max-buffers", 2u, "drop", TRUE, "sync", playsFile ? TRUE : FALSE, "emit-signals",
                     FALSE, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &GstFramePipeline::onNewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    }

    GstHandle<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    m_watcher = new BusWatcher(
        bus.get(), [this](GstMessage *m) { onBusMessage(m); }, this);

    const GstStateChangeReturn ret = gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        const QString detail = takeBusError();
        const QString what = camera ? QStringLiteral("无法打开摄像头 %1").arg(settings.devicePath)
                             : file ? QStringLiteral("无法播放 %1").arg(settings.path)
                                    : QStringLiteral("无法启动测试图像");
        return fail(detail.isEmpty() ? what : what + QStringLiteral("：") + detail);
    }
    // A failure of an earlier run no longer describes this one.
    m_error.clear();
    return true;
}

void GstFramePipeline::stop()
{
    if (m_watcher) {
        m_watcher->detach();
        m_watcher->deleteLater();
        m_watcher = nullptr;
    }
    if (m_pipeline) {
        // Setting NULL joins the streaming threads: after this no callback runs.
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_pipeline.reset();
        m_source = nullptr;
        m_previewFilter = nullptr;
        m_directSink = nullptr;
    }
    {
        std::lock_guard lock(m_stillLock);
        gst_buffer_replace(&m_stillBuffer, nullptr);
        gst_caps_replace(&m_stillCaps, nullptr);
        gst_caps_replace(&m_sourceCaps, nullptr);
        m_stillSerial = 0;
    }
    // The newest frame holds a buffer of the pipeline: it goes with it.
    QImage last;
    {
        std::lock_guard lock(m_frameLock);
        last.swap(m_newest);
        m_serial = 0;
    }
}

QImage GstFramePipeline::newestFrame(QRect *dimmedOutside) const
{
    std::lock_guard lock(m_frameLock);
    if (dimmedOutside)
        *dimmedOutside = m_newestDimmedOutside;
    return m_newest;
}

void GstFramePipeline::setWindowHandle(quintptr handle)
{
    m_windowHandle = handle;
}

void GstFramePipeline::setOverlay(const QImage &overlay, const QRegion &parts)
{
    auto runs = std::make_shared<const OverlayRuns>(overlay, parts);
    std::lock_guard lock(m_overlayLock);
    m_overlay = std::move(runs);
}

void GstFramePipeline::expose()
{
    if (m_directSink)
        gst_video_overlay_expose(GST_VIDEO_OVERLAY(m_directSink));
}

QSize GstFramePipeline::previewSize() const
{
    std::lock_guard lock(m_sizeLock);
    return m_previewSize;
}

void GstFramePipeline::setCropSize(QSize crop)
{
    std::lock_guard lock(m_sizeLock);
    m_crop = crop;
}

void GstFramePipeline::setCropRegion(QRectF region)
{
    std::lock_guard lock(m_sizeLock);
    m_cropRegion = region;
}

quint64 GstFramePipeline::framesDelivered() const
{
    std::lock_guard lock(m_frameLock);
    return m_serial;
}

QSize GstFramePipeline::sourceSize() const
{
    std::lock_guard lock(m_sizeLock);
    return m_sourceSize;
}

void GstFramePipeline::setViewSize(QSize size)
{
    {
        std::lock_guard lock(m_sizeLock);
        if (size == m_viewSize)
            return;
        m_viewSize = size;
    }
    updatePreviewCaps();
}

void GstFramePipeline::updatePreviewCaps()
{
    // Any thread: the GUI thread for the view, the streaming thread for the source.
    std::lock_guard lock(m_sizeLock);
    if (!m_previewFilter)
        return;
    // Where the window paints the picture: fitted with its shape kept.
    const QSize size = fitRect(m_sourceSize, QRect(QPoint(0, 0), m_viewSize)).size();
    if (size == m_previewSize)
        return;
    m_previewSize = size;
    GstCapsHandle caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    if (!size.isEmpty())
        gst_caps_set_simple(caps.get(), "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT,
                            size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    // The capsfilter asks upstream to renegotiate when its caps change.
    g_object_set(m_previewFilter, "caps", caps.get(), nullptr);
}

GstPadProbeReturn GstFramePipeline::onFullFrame(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    // Streaming thread.
    auto *pipeline = static_cast<GstFramePipeline *>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        std::lock_guard lock(pipeline->m_stillLock);
        gst_buffer_replace(&pipeline->m_stillBuffer, GST_PAD_PROBE_INFO_BUFFER(info));
        gst_caps_replace(&pipeline->m_stillCaps, pipeline->m_sourceCaps);
        ++pipeline->m_stillSerial;
        return GST_PAD_PROBE_OK;
    }
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps *caps = nullptr;
    gst_event_parse_caps(event, &caps);
    GstVideoInfo video;
    if (caps && gst_video_info_from_caps(&video, caps)) {
        {
            std::lock_guard lock(pipeline->m_stillLock);
            gst_caps_replace(&pipeline->m_sourceCaps, caps);
        }
        {
            std::lock_guard lock(pipeline->m_sizeLock);
            pipeline->m_sourceSize = QSize(GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video));
        }
        pipeline->updatePreviewCaps();
    }
    return GST_PAD_PROBE_OK;
}

namespace {
// The frame in `buffer` converted to RGB32 at `size` (its own size when
// empty) in one pass of GStreamer's converter, which scales as it converts.
QImage convertFrame(GstBuffer *buffer, GstCaps *caps, QSize size)
{
    QImage image;
    GstVideoInfo in;
    GstVideoFrame source;
    if (!gst_video_info_from_caps(&in, caps) || !gst_video_frame_map(&source, &in, buffer, GST_MAP_READ))
        return image;
    const int width = size.isEmpty() ? GST_VIDEO_INFO_WIDTH(&in) : size.width();
    const int height = size.isEmpty() ? GST_VIDEO_INFO_HEIGHT(&in) : size.height();
    // BGRx in memory is 0xffRRGGBB as a little-endian word: RGB32, whose
    // rows (4 bytes a pixel) have no padding, as GStreamer lays them out.
    image = QImage(width, height, QImage::Format_RGB32);
    GstVideoInfo out;
    gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGRx, width, height);
    // The converter changes the format (and the size) alone: the rest as it came.
    GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_PAR_N(&out) = GST_VIDEO_INFO_PAR_N(&in);
    GST_VIDEO_INFO_PAR_D(&out) = GST_VIDEO_INFO_PAR_D(&in);
    GST_VIDEO_INFO_INTERLACE_MODE(&out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    GstBuffer *wrapped =
        image.isNull() || size_t(image.sizeInBytes()) < GST_VIDEO_INFO_SIZE(&out)
            ? nullptr
            : gst_buffer_new_wrapped_full(GstMemoryFlags(0), image.bits(), image.sizeInBytes(), 0,
                                          image.sizeInBytes(), nullptr, nullptr);
    GstVideoFrame target;
    GstVideoConverter *converter = gst_video_converter_new(&in, &out, nullptr);
    if (wrapped && converter && gst_video_frame_map(&target, &out, wrapped, GST_MAP_WRITE)) {
        gst_video_converter_frame(converter, &source, &target);
        gst_video_frame_unmap(&target);
    } else {
        image = QImage();
    }
    if (converter)
        gst_video_converter_free(converter);
    if (wrapped)
        gst_buffer_unref(wrapped);
    gst_video_frame_unmap(&source);
    return image;
}
} // namespace

QImage GstFramePipeline::stillFrame() const
{
    return sampledFrame(0);
}

QImage GstFramePipeline::sampledFrame(int width, quint64 *serial) const
{
    GstBuffer *buffer = nullptr;
    GstCaps *caps = nullptr;
    {
        std::lock_guard lock(m_stillLock);
        if (serial)
            *serial = m_stillSerial;
        if (!m_stillBuffer || !m_stillCaps)
            return {};
        buffer = gst_buffer_ref(m_stillBuffer);
        caps = gst_caps_ref(m_stillCaps);
    }
    QSize size;
    GstVideoInfo in;
    if (width > 0 && gst_video_info_from_caps(&in, caps) && GST_VIDEO_INFO_WIDTH(&in) > width)
        size = QSize(width,
                     qMax(1, int(qint64(GST_VIDEO_INFO_HEIGHT(&in)) * width / GST_VIDEO_INFO_WIDTH(&in))));
    const QImage image = convertFrame(buffer, caps, size);
    gst_buffer_unref(buffer);
    gst_caps_unref(caps);
    return image;
}

bool GstFramePipeline::waitForFrame(quint64 after, int timeoutMs)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (isRunning()) {
        {
            std::unique_lock lock(m_frameLock);
            const auto slice = std::min(deadline, steady_clock::now() + milliseconds(50));
            if (m_frameArrived.wait_until(lock, slice, [&] { return m_serial > after; }))
                return true;
        }
        // An error (a camera gone) ends the wait at once, not at the deadline.
        if (m_watcher)
            m_watcher->drain();
        if (steady_clock::now() >= deadline)
            break;
    }
    return false;
}

void GstFramePipeline::setPattern(int pattern)
{
    m_settings.pattern = pattern;
    if (m_source && m_settings.kind == CaptureSource::Kind::TestPicture)
        g_object_set(m_source, "pattern", pattern, nullptr);
}

namespace {
// Frees a frame handed to the GUI when the last QImage over it goes, on
// whichever thread that is.
void releaseFrame(void *frame)
{
    auto *mapped = static_cast<GstVideoFrame *>(frame);
    gst_video_frame_unmap(mapped); // drops the buffer reference the map took
    delete mapped;
}
} // namespace

GstPadProbeReturn GstFramePipeline::onPreviewFrame(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    // Streaming thread, right before the sink takes the frame.
    auto *pipeline = static_cast<GstFramePipeline *>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps *caps = nullptr;
            gst_event_parse_caps(event, &caps);
            pipeline->m_previewInfoValid =
                caps && gst_video_info_from_caps(&pipeline->m_previewInfo, caps) &&
                GST_VIDEO_INFO_FORMAT(&pipeline->m_previewInfo) == GST_VIDEO_FORMAT_BGRx;
            pipeline->m_announced = false;
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    pipeline->m_dimmedBuffer = nullptr;
    const bool direct = pipeline->m_directSink != nullptr;
    // Shaded already, as the program's scaler wrote it.
    const bool shaded = buffer == pipeline->m_shadedBuffer;
    pipeline->m_shadedBuffer = nullptr;
    if (shaded) {
        if (!pipeline->m_bandKeep.isEmpty()) {
            pipeline->m_dimmedBuffer = buffer;
            pipeline->m_dimmedOutside = pipeline->m_bandKeep;
        }
        if (direct)
            pipeline->countDirectFrame();
        return GST_PAD_PROBE_OK;
    }
    // Drawn straight to the window, the frame must show the guide: when the
    // scaler passed the source's frame through (the still holds it too), it
    // is shaded on a copy.
    if (direct && pipeline->m_previewInfoValid && !gst_buffer_is_writable(buffer)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    // A frame no one else holds (the scaler's own, not the source's when the
    // scaler passes it through: that one is the still) is dimmed outside the
    // guide here, while the scaler's output is still in the cache, rather
    // than by the window afterwards.
    if (pipeline->m_previewInfoValid && gst_buffer_is_writable(buffer))
        pipeline->shade(buffer, direct);
    if (direct)
        pipeline->countDirectFrame();
    return GST_PAD_PROBE_OK;
}

void GstFramePipeline::shadingFor(QSize size, bool withOverlay, QRect *keep,
                                  std::shared_ptr<const OverlayRuns> *overlay) const
{
    {
        std::lock_guard lock(m_sizeLock);
        *keep = guideInPicture(m_sourceSize, size, m_crop, m_cropRegion);
    }
    overlay->reset();
    if (withOverlay) {
        std::lock_guard lock(m_overlayLock);
        *overlay = m_overlay;
    }
}

void GstFramePipeline::shadeBand(GstVideoFrame *frame, int firstRow, int endRow)
{
    // Streaming thread, inside the scaler.
    const QSize size(GST_VIDEO_FRAME_WIDTH(frame), GST_VIDEO_FRAME_HEIGHT(frame));
    if (firstRow == 0) {
        shadingFor(size, m_directSink != nullptr, &m_bandKeep, &m_bandOverlay);
        m_shadedBuffer = frame->buffer;
    }
    if (m_bandKeep.isEmpty() && !m_bandOverlay)
        return;
    static const OverlayRuns none;
    shadeRows(static_cast<uchar *>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)),
              GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0), size, m_bandKeep, m_bandOverlay ? *m_bandOverlay : none,
              firstRow, endRow);
}

void GstFramePipeline::shade(GstBuffer *buffer, bool withOverlay)
{
    // Streaming thread.
    const QSize size(GST_VIDEO_INFO_WIDTH(&m_previewInfo), GST_VIDEO_INFO_HEIGHT(&m_previewInfo));
    QRect keep;
    std::shared_ptr<const OverlayRuns> overlay;
    shadingFor(size, withOverlay, &keep, &overlay);
    if (keep.isEmpty() && !overlay)
        return;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &m_previewInfo, buffer, GST_MAP_READWRITE))
        return;
    shadeFrame(static_cast<uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
               GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), size, keep, overlay ? *overlay : OverlayRuns());
    gst_video_frame_unmap(&frame);
    if (!keep.isEmpty()) {
        m_dimmedBuffer = buffer;
        m_dimmedOutside = keep;
    }
}

void GstFramePipeline::countDirectFrame()
{
    // Streaming thread. The window system shows the frame; the GUI hears of
    // the first one of each size, to place the window over the picture.
    {
        std::lock_guard lock(m_frameLock);
        ++m_serial;
    }
    m_frameArrived.notify_all();
    if (m_announced)
        return;
    m_announced = true;
    QMetaObject::invokeMethod(
        this, [this] { emit frameReady(); }, Qt::QueuedConnection);
}

GstFlowReturn GstFramePipeline::onNewSample(GstAppSink *sink, gpointer self)
{
    auto *pipeline = static_cast<GstFramePipeline *>(self);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    QImage frame;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    // The frame the probe just saw, and dimmed if it could.
    const QRect dimmedOutside = buffer == pipeline->m_dimmedBuffer ? pipeline->m_dimmedOutside : QRect();
    pipeline->m_dimmedBuffer = nullptr;
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx) {
        auto *mapped = new GstVideoFrame;
        const auto *bits = gst_video_frame_map(mapped, &info, buffer, GST_MAP_READ)
                               ? static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(mapped, 0))
                               : nullptr;
        const int width = bits ? GST_VIDEO_FRAME_WIDTH(mapped) : 0;
        const int height = bits ? GST_VIDEO_FRAME_HEIGHT(mapped) : 0;
        const int stride = bits ? GST_VIDEO_FRAME_PLANE_STRIDE(mapped, 0) : 0;
        if (bits && width > 0 && height > 0 && stride >= width * 4) {
            // BGRx in memory is 0xffRRGGBB as a little-endian word: RGB32.
            // Rows may be padded: the stride comes from the mapped frame. The
            // image is read-only over the buffer; the map holds a reference
            // to it until releaseFrame. (Checked above, the image can only
            // fail to be made for want of memory, and then whether Qt calls
            // the cleanup depends on its version: the frame is left mapped.)
            frame = QImage(bits, width, height, stride, QImage::Format_RGB32, &releaseFrame, mapped);
        } else {
            if (bits)
                gst_video_frame_unmap(mapped);
            delete mapped;
        }
    }
    gst_sample_unref(sample);
    if (!frame.isNull())
        pipeline->deliver(std::move(frame), dimmedOutside);
    return GST_FLOW_OK;
}

void GstFramePipeline::deliver(QImage frame, QRect dimmedOutside)
{
    // Streaming thread.
    {
        std::lock_guard lock(m_frameLock);
        m_newest.swap(frame);
        m_newestDimmedOutside = dimmedOutside;
        ++m_serial;
    }
    m_frameArrived.notify_all();
    // The old frame (now in `frame`) is released here, outside the lock.
    if (!m_noticePending.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_noticePending = false;
                emit frameReady();
            },
            Qt::QueuedConnection);
    }
}

QString GstFramePipeline::takeBusError()
{
    if (!m_pipeline)
        return {};
    GstHandle<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    GstMessageHandle message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message)
        return {};
    GError *err = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message.get(), &err, &debug);
    const QString text = describe(err, debug);
    if (err)
        g_error_free(err);
    g_free(debug);
    return text;
}

void GstFramePipeline::onBusMessage(GstMessage *message)
{
    const auto type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_EOS)
        return;
    // A video file starts again from its beginning.
    if (type == GST_MESSAGE_EOS && m_settings.kind == CaptureSource::Kind::File && m_pipeline &&
        gst_element_seek_simple(m_pipeline.get(), GST_FORMAT_TIME,
                                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0))
        return;
    QString reason;
    if (type == GST_MESSAGE_ERROR) {
        GError *err = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(message, &err, &debug);
        reason = describe(err, debug);
        if (err)
            g_error_free(err);
        g_free(debug);
    } else {
        reason = QStringLiteral("视频流已结束");
    }
    const QString what = m_settings.kind == CaptureSource::Kind::Camera
                             ? QStringLiteral("摄像头 %1 出错：%2").arg(m_settings.devicePath, reason)
                         : m_settings.kind == CaptureSource::Kind::File
                             ? QStringLiteral("%1 出错：%2").arg(m_settings.path, reason)
                             : QStringLiteral("测试图像出错：%1").arg(reason);
    m_error = what;
    stop();
    emit failed(what);
}
