#include "capture/CameraDeviceList.h"

#include "capture/BusWatcher.h"
#include "capture/GstHandle.h"
#include "capture/GstRuntime.h"

#include <algorithm>

namespace {

struct StandardSize
{
    int width, height;
};
// Offered when a device gives a range of sizes rather than a list.
constexpr StandardSize StandardSizes[] = {{1920, 1080}, {1280, 720}, {1024, 768}, {800, 600},
                                          {640, 480},   {352, 288},  {320, 240}};
constexpr int StandardRates[] = {60, 30, 25, 20, 15, 10, 5};

// The whole numbers a caps field allows: a fixed value, a list, or the
// standard values inside a range.
QList<int> intsOf(const GValue *value, bool widths)
{
    QList<int> out;
    if (!value)
        return out;
    if (G_VALUE_HOLDS_INT(value)) {
        out << g_value_get_int(value);
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            out << intsOf(gst_value_list_get_value(value, i), widths);
    } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        const int lo = gst_value_get_int_range_min(value), hi = gst_value_get_int_range_max(value);
        for (const StandardSize &s : StandardSizes) {
            const int v = widths ? s.width : s.height;
            if (v >= lo && v <= hi)
                out << v;
        }
    }
    return out;
}

QList<FrameRate> ratesOf(const GValue *value)
{
    QList<FrameRate> out;
    if (!value)
        return out;
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        const FrameRate r{gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value)};
        if (r.isValid())
            out << r;
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            out << ratesOf(gst_value_list_get_value(value, i));
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const GValue *lo = gst_value_get_fraction_range_min(value);
        const GValue *hi = gst_value_get_fraction_range_max(value);
        const double min = double(gst_value_get_fraction_numerator(lo)) /
                           std::max(1, gst_value_get_fraction_denominator(lo));
        const double max = double(gst_value_get_fraction_numerator(hi)) /
                           std::max(1, gst_value_get_fraction_denominator(hi));
        for (int rate : StandardRates)
            if (rate >= min && rate <= max)
                out << FrameRate{rate, 1};
    }
    return out;
}

QString deviceProperty(const GstStructure *props, const char *key)
{
    const gchar *text = props ? gst_structure_get_string(props, key) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace

struct CameraDeviceList::Monitor
{
    GstHandle<GstDeviceMonitor> monitor;
};

CameraDeviceList::CameraDeviceList(QObject *parent)
    : QObject(parent)
    , m_sources(offered({}))
{
}

CameraDeviceList::~CameraDeviceList()
{
    stop();
}

QString CameraDeviceList::testPictureName()
{
    return QStringLiteral("测试图像");
}

CaptureSource CameraDeviceList::testPicture()
{
    CaptureSource s;
    s.kind = CaptureSource::Kind::TestPicture;
    s.name = testPictureName();
    const QList<FrameRate> rates{{30, 1}, {25, 1}, {15, 1}};
    for (const auto &[w, h] : {std::pair{640, 480}, {800, 600}, {1280, 720}, {1920, 1080}})
        s.modes << CaptureMode{QStringLiteral("video/x-raw"), w, h, rates};
    return s;
}

QList<CaptureSource> CameraDeviceList::offered(const QList<CaptureSource> &cameras)
{
    if (cameras.isEmpty())
        return {testPicture()};
    return cameras;
}

QList<CaptureMode> CameraDeviceList::modesFromCaps(const GstCaps *caps)
{
    QList<CaptureMode> modes;
    if (!caps || gst_caps_is_any(caps))
        return modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure *st = gst_caps_get_structure(caps, i);
        const QString media = QString::fromUtf8(gst_structure_get_name(st));
        if (media != QLatin1String("video/x-raw") && media != QLatin1String("image/jpeg"))
            continue;
        const QList<int> widths = intsOf(gst_structure_get_value(st, "width"), true);
        const QList<int> heights = intsOf(gst_structure_get_value(st, "height"), false);
        const QList<FrameRate> rates = ratesOf(gst_structure_get_value(st, "framerate"));
        const bool range = GST_VALUE_HOLDS_INT_RANGE(gst_structure_get_value(st, "width"));
        for (int w : widths) {
            for (int h : heights) {
                if (w < 1 || h < 1)
                    continue;
                // From ranges, keep only the standard pairs, not every combination.
                if (range &&
                    std::none_of(std::begin(StandardSizes), std::end(StandardSizes),
                                 [&](const StandardSize &s) { return s.width == w && s.height == h; }))
                    continue;
                auto it = std::find_if(modes.begin(), modes.end(), [&](const CaptureMode &m) {
                    return m.mediaType == media && m.width == w && m.height == h;
                });
                if (it == modes.end()) {
                    modes << CaptureMode{media, w, h, {}};
                    it = modes.end() - 1;
                }
                for (const FrameRate &r : rates)
                    if (!it->rates.contains(r))
                        it->rates << r;
            }
        }
    }
    for (CaptureMode &m : modes)
        std::stable_sort(m.rates.begin(), m.rates.end(),
                         [](const FrameRate &a, const FrameRate &b) { return a.value() > b.value(); });
    std::stable_sort(modes.begin(), modes.end(), [](const CaptureMode &a, const CaptureMode &b) {
        const bool rawA = a.mediaType == QLatin1String("video/x-raw");
        const bool rawB = b.mediaType == QLatin1String("video/x-raw");
        if (rawA != rawB)
            return rawA;
        return qint64(a.width) * a.height > qint64(b.width) * b.height;
    });
    return modes;
}

std::optional<CaptureSource> CameraDeviceList::cameraFromDevice(GstDevice *device)
{
    if (!device || !gst_device_has_classes(device, "Video/Source"))
        return std::nullopt;
    GstStructure *props = gst_device_get_properties(device);
    QString path = deviceProperty(props, "api.v4l2.path");
    if (path.isEmpty())
        path = deviceProperty(props, "device.path");
    if (props)
        gst_structure_free(props);
    // We open cameras with v4l2src: a source without a device node cannot be used.
    if (!path.startsWith(QLatin1String("/dev/")))
        return std::nullopt;
    CaptureSource s;
    s.kind = CaptureSource::Kind::Camera;
    s.devicePath = path;
    gchar *name = gst_device_get_display_name(device);
    s.name = name && *name ? QString::fromUtf8(name) : path;
    g_free(name);
    GstCapsHandle caps(gst_device_get_caps(device));
    s.modes = modesFromCaps(caps.get());
    return s;
}

namespace {
QList<CaptureSource> camerasOf(GstDeviceMonitor *monitor)
{
    QList<CaptureSource> cameras;
    GList *devices = gst_device_monitor_get_devices(monitor);
    for (GList *l = devices; l; l = l->next) {
        if (auto cam = CameraDeviceList::cameraFromDevice(GST_DEVICE(l->data))) {
            // Two providers may report the same node; offer it once.
            if (std::none_of(cameras.begin(), cameras.end(),
                             [&](const CaptureSource &c) { return c.devicePath == cam->devicePath; }))
                cameras << *cam;
        }
    }
    g_list_free_full(devices, gst_object_unref);
    return cameras;
}

GstDeviceMonitor *newVideoMonitor()
{
    GstDeviceMonitor *monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    return monitor;
}
} // namespace

QList<CaptureSource> CameraDeviceList::probe()
{
    if (!ensureGstInitialised())
        return offered({});
    GstHandle<GstDeviceMonitor> monitor(newVideoMonitor());
    return offered(camerasOf(monitor.get()));
}

bool CameraDeviceList::start()
{
    if (m_monitor)
        return true;
    if (!ensureGstInitialised(&m_error)) {
        setCameras({});
        return false;
    }
    m_monitor = std::make_unique<Monitor>();
    m_monitor->monitor.reset(newVideoMonitor());
    if (!gst_device_monitor_start(m_monitor->monitor.get())) {
        // No provider could start (none installed): nothing to follow.
        m_monitor.reset();
        setCameras({});
        return true;
    }
    GstHandle<GstBus> bus(gst_device_monitor_get_bus(m_monitor->monitor.get()));
    m_watcher = new BusWatcher(
        bus.get(),
        [this](GstMessage *message) {
            const auto type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_DEVICE_ADDED || type == GST_MESSAGE_DEVICE_REMOVED ||
                type == GST_MESSAGE_DEVICE_CHANGED)
                rescan();
        },
        this);
    rescan();
    return true;
}

void CameraDeviceList::stop()
{
    if (m_watcher) {
        m_watcher->detach();
        m_watcher->deleteLater();
        m_watcher = nullptr;
    }
    if (m_monitor) {
        gst_device_monitor_stop(m_monitor->monitor.get());
        m_monitor.reset();
    }
}

void CameraDeviceList::rescan()
{
    if (m_monitor)
        setCameras(camerasOf(m_monitor->monitor.get()));
}

void CameraDeviceList::setCameras(const QList<CaptureSource> &cameras)
{
    const QList<CaptureSource> next = offered(cameras);
    if (next == m_sources)
        return;
    m_sources = next;
    emit changed();
}
