#include "capture/GstFramePipeline.h"

#include "capture/BusWatcher.h"
#include "capture/GstRuntime.h"

#include <QFile>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

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

} // namespace

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
    {
        std::lock_guard lock(m_frameLock);
        m_newest = QImage();
        m_serial = 0;
    }
    m_noticePending = false;

    const bool camera = settings.kind == CaptureSource::Kind::Camera;
    const bool jpeg = settings.mediaType == QLatin1String("image/jpeg");
    struct Part
    {
        const char *factory;
        GstElement *element;
    };
    Part parts[] = {{camera ? "v4l2src" : "videotestsrc", nullptr},
                    {"capsfilter", nullptr},
                    {jpeg ? "jpegdec" : nullptr, nullptr},
                    {"videoconvert", nullptr},
                    {"capsfilter", nullptr},
                    {"appsink", nullptr}};
    m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("lumora-capture"))));
    GstElement *previous = nullptr;
    for (Part &part : parts) {
        if (!part.factory)
            continue;
        part.element = gst_element_factory_make(part.factory, nullptr);
        if (!part.element)
            return fail(QStringLiteral("缺少 GStreamer 组件 %1").arg(QLatin1String(part.factory)));
        gst_bin_add(GST_BIN(m_pipeline.get()), part.element);
        if (previous && !gst_element_link(previous, part.element))
            return fail(QStringLiteral("无法连接 GStreamer 组件 %1").arg(QLatin1String(part.factory)));
        previous = part.element;
    }
    m_source = parts[0].element;
    if (camera) {
        if (settings.devicePath.isEmpty())
            return fail(QStringLiteral("没有选择摄像头"));
        // A property, not a parsed launch line: any path is taken literally.
        g_object_set(m_source, "device", QFile::encodeName(settings.devicePath).constData(), nullptr);
    } else {
        g_object_set(m_source, "is-live", TRUE, "pattern", settings.pattern, nullptr);
    }

    GstCapsHandle sourceCaps(gst_caps_new_empty_simple(jpeg ? "image/jpeg" : "video/x-raw"));
    if (settings.width > 0 && settings.height > 0)
        gst_caps_set_simple(sourceCaps.get(), "width", G_TYPE_INT, settings.width, "height", G_TYPE_INT,
                            settings.height, nullptr);
    if (settings.rate.isValid())
        gst_caps_set_simple(sourceCaps.get(), "framerate", GST_TYPE_FRACTION, settings.rate.numerator,
                            settings.rate.denominator, nullptr);
    g_object_set(parts[1].element, "caps", sourceCaps.get(), nullptr);

    GstCapsHandle outCaps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    g_object_set(parts[4].element, "caps", outCaps.get(), nullptr);

    GstElement *sink = parts[5].element;
    g_object_set(sink, "max-buffers", 2u, "drop", TRUE, "sync", FALSE, "emit-signals", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &GstFramePipeline::onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);

    GstHandle<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    m_watcher = new BusWatcher(
        bus.get(), [this](GstMessage *m) { onBusMessage(m); }, this);

    const GstStateChangeReturn ret = gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        const QString detail = takeBusError();
        const QString what = camera ? QStringLiteral("无法打开摄像头 %1").arg(settings.devicePath)
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
    }
}

QImage GstFramePipeline::newestFrame() const
{
    std::lock_guard lock(m_frameLock);
    return m_newest;
}

quint64 GstFramePipeline::framesDelivered() const
{
    std::lock_guard lock(m_frameLock);
    return m_serial;
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

GstFlowReturn GstFramePipeline::onNewSample(GstAppSink *sink, gpointer self)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    QImage frame;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx) {
        GstVideoFrame vframe;
        if (gst_video_frame_map(&vframe, &info, buffer, GST_MAP_READ)) {
            // BGRx in memory is 0xffRRGGBB as a little-endian word: RGB32.
            // Rows may be padded: the stride comes from the mapped frame.
            const QImage view(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&vframe, 0)),
                              GST_VIDEO_FRAME_WIDTH(&vframe), GST_VIDEO_FRAME_HEIGHT(&vframe),
                              GST_VIDEO_FRAME_PLANE_STRIDE(&vframe, 0), QImage::Format_RGB32);
            frame = view.copy();
            gst_video_frame_unmap(&vframe);
        }
    }
    gst_sample_unref(sample);
    if (!frame.isNull())
        static_cast<GstFramePipeline *>(self)->deliver(std::move(frame));
    return GST_FLOW_OK;
}

void GstFramePipeline::deliver(QImage frame)
{
    // Streaming thread.
    {
        std::lock_guard lock(m_frameLock);
        m_newest.swap(frame);
        ++m_serial;
    }
    m_frameArrived.notify_all();
    // The old frame (now in `frame`) is freed here, outside the lock.
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
                             : QStringLiteral("测试图像出错：%1").arg(reason);
    m_error = what;
    stop();
    emit failed(what);
}
