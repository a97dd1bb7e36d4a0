// The live video's own drawing: the scaler for frames in the window's format,
// the shading drawn into each frame, and, on a private X server, the video
// drawn by the window system itself against the same video painted by Qt.
#include "capture/Caption.h"
#include "capture/FrameShading.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstHandle.h"
#include "capture/GstRuntime.h"
#include "capture/PreviewScale.h"
#include "capture/VideoView.h"

#include <QApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <unistd.h>

namespace {

// Runs `from` (a BGRx picture) through the preview scaler to `to`; the frame
// that comes out, as RGB32.
QImage scaledThroughPipeline(const QImage &from, QSize to)
{
    GstHandle<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement *source = gst_element_factory_make("appsrc", nullptr);
    GstElement *scale = makePreviewScale();
    GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement *sink = gst_element_factory_make("appsink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, scale, filter, sink, nullptr);
    if (!gst_element_link_many(source, scale, filter, sink, nullptr))
        return {};
    GstCapsHandle in(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                         from.width(), "height", G_TYPE_INT, from.height(), "framerate",
                                         GST_TYPE_FRACTION, 30, 1, nullptr));
    GstCapsHandle out(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                          to.width(), "height", G_TYPE_INT, to.height(), nullptr));
    g_object_set(source, "caps", in.get(), "format", GST_FORMAT_TIME, nullptr);
    g_object_set(filter, "caps", out.get(), nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBuffer *buffer = gst_buffer_new_memdup(from.constBits(), size_t(from.sizeInBytes()));
    GST_BUFFER_PTS(buffer) = 0;
    gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    QImage result;
    if (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        GstVideoInfo info;
        GstVideoFrame frame;
        if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
            result = QImage(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                            GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                            GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32)
                         .copy();
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return result;
}

// The largest difference of one channel between two pictures of one size,
// and how many pixels differ by more than `tolerance`.
struct Difference
{
    int largest = 0;
    qint64 pixels = 0;
};
Difference compare(const QImage &a, const QImage &b, int tolerance)
{
    Difference d;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int most = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                       std::abs(qBlue(p) - qBlue(q))});
            d.largest = std::max(d.largest, most);
            d.pixels += most > tolerance;
        }
    return d;
}

CaptureSettings colourPicture()
{
    CaptureSettings s;
    s.kind = CaptureSource::Kind::TestPicture;
    s.width = 640;
    s.height = 480;
    s.rate = FrameRate{30, 1};
    s.pattern = 24; // "colors": still, every pixel its own colour
    return s;
}

} // namespace

class TestLiveVideo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void scalerTakesTheNearestPixel_data();
    void scalerTakesTheNearestPixel();
    void shadingMatchesQtsDrawing_data();
    void shadingMatchesQtsDrawing();
    void windowSystemShowsWhatQtPaints_data();
    void windowSystemShowsWhatQtPaints();
};

void TestLiveVideo::initTestCase()
{
    QString why;
    QVERIFY2(ensureGstInitialised(&why), qPrintable(why));
}

void TestLiveVideo::scalerTakesTheNearestPixel_data()
{
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    QTest::newRow("down, the window's shape") << QSize(640, 480) << QSize(449, 337);
    QTest::newRow("down, odd sizes") << QSize(641, 479) << QSize(97, 13);
    QTest::newRow("up") << QSize(33, 17) << QSize(100, 60);
    QTest::newRow("same size, passed through") << QSize(64, 48) << QSize(64, 48);
    QTest::newRow("to one pixel") << QSize(5, 7) << QSize(1, 1);
    QTest::newRow("one row, one column") << QSize(300, 1) << QSize(1, 200);
}

void TestLiveVideo::scalerTakesTheNearestPixel()
{
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    // Every pixel says where it is: the output tells which one it took.
    QImage source(from, QImage::Format_RGB32);
    for (int y = 0; y < from.height(); ++y)
        for (int x = 0; x < from.width(); ++x)
            source.setPixel(x, y, 0xff000000u | uint(y) << 12 | uint(x));
    const QImage scaled = scaledThroughPipeline(source, to);
    QCOMPARE(scaled.size(), to);
    for (int y = 0; y < to.height(); ++y)
        for (int x = 0; x < to.width(); ++x) {
            // The source pixel under the centre of the output pixel.
            const int sx = int((2 * x + 1) * qint64(from.width()) / (2 * to.width()));
            const int sy = int((2 * y + 1) * qint64(from.height()) / (2 * to.height()));
            const uint got = scaled.pixel(x, y) & 0xffffffu;
            if (got != (uint(sy) << 12 | uint(sx)))
                QFAIL(qPrintable(QStringLiteral("(%1, %2) took (%3, %4), not (%5, %6)")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got & 0xfff)
                                     .arg(got >> 12)
                                     .arg(sx)
                                     .arg(sy)));
        }
}

void TestLiveVideo::shadingMatchesQtsDrawing_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("keep");
    QTest::addColumn<QRegion>("parts");
    const QRect guide(100, 20, 151, 200);
    const QRegion ring = QRegion(guide) - QRegion(guide.adjusted(2, 2, -2, -2));
    QTest::newRow("guide and its border") << QSize(449, 337) << guide << ring;
    QTest::newRow("border and a caption") << QSize(449, 337) << guide << (ring + QRect(110, 180, 120, 30));
    QTest::newRow("odd widths, guide at the edges")
        << QSize(301, 97) << QRect(0, 0, 301, 97) << QRegion(QRect(0, 0, 301, 3));
    QTest::newRow("guide one pixel wide") << QSize(9, 9) << QRect(3, 0, 1, 9) << QRegion(QRect(0, 0, 9, 9));
    QTest::newRow("parts reaching out of the frame")
        << QSize(50, 40) << QRect(10, 10, 20, 20) << QRegion(QRect(-5, 30, 100, 30));
    QTest::newRow("overlay alone, no guide") << QSize(64, 32) << QRect() << QRegion(QRect(8, 8, 40, 16));
}

void TestLiveVideo::shadingMatchesQtsDrawing()
{
    QFETCH(QSize, size);
    QFETCH(QRect, keep);
    QFETCH(QRegion, parts);
    QRandomGenerator random(size.width() * 7919 + size.height());
    QImage frame(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            frame.setPixel(x, y, 0xff000000u | (random.generate() & 0xffffffu));
    // An overlay of every kind of pixel: clear, opaque, and in between.
    QImage overlay(size, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    {
        QPainter p(&overlay);
        p.setPen(QPen(QColor(80, 220, 80), 2, Qt::DashLine));
        p.drawRect(QRect(QPoint(0, 0), size).adjusted(1, 1, -2, -2));
        p.setRenderHint(QPainter::Antialiasing);
        p.setFont(QFont(QStringLiteral("Sans"), 12));
        p.setPen(QColor(255, 255, 255, 200));
        p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QStringLiteral("王五 2024"));
    }

    QImage shaded = frame.copy();
    shadeFrame(shaded.bits(), shaded.bytesPerLine(), size, keep, OverlayRuns(overlay, parts));

    // Qt's own drawing of the same: black at 110 / 255 outside the guide, then
    // the overlay within the parts.
    QImage expected = frame.copy();
    {
        QPainter p(&expected);
        if (!keep.isEmpty()) {
            p.setClipRegion(QRegion(QRect(QPoint(0, 0), size)) - QRegion(keep));
            p.fillRect(QRect(QPoint(0, 0), size), QColor(0, 0, 0, 110));
        }
        p.setClipRegion(parts);
        p.drawImage(0, 0, overlay);
    }
    const Difference d = compare(shaded, expected, 2);
    QVERIFY2(d.pixels == 0,
             qPrintable(QStringLiteral("%1 pixels differ, by up to %2").arg(d.pixels).arg(d.largest)));
}

void TestLiveVideo::windowSystemShowsWhatQtPaints_data()
{
    QTest::addColumn<QSize>("crop");
    QTest::addColumn<bool>("captioned");
    QTest::addColumn<int>("pattern");
    QTest::newRow("the usual photo") << QSize(150, 200) << false << 24;
    QTest::newRow("a wide photo with a caption") << QSize(300, 200) << true << 24;
    QTest::newRow("white: dimmed just outside the guide") << QSize(150, 200) << false << 3;
}

void TestLiveVideo::windowSystemShowsWhatQtPaints()
{
    QFETCH(QSize, crop);
    QFETCH(bool, captioned);
    QFETCH(int, pattern);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (Xvfb)");
    if (!gstElementAvailable("ximagesink"))
        QSKIP("GStreamer has no ximagesink (gstreamer1.0-x)");

    // What the screen shows of the video window, once the picture is on it.
    QRect guide;
    auto screenOfView = [&](const char *way) {
        qputenv("LUMORA_LIVE_VIDEO", way);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        CaptureSettings settings = colourPicture();
        settings.pattern = pattern;
        GstCaptureControl control(settings);
        layout->addWidget(control.videoWidget());
        control.SetCropWidth(crop.width());
        control.SetCropHeight(crop.height());
        if (captioned) {
            Caption caption;
            caption.text = QStringLiteral("王五 20240005");
            caption.offset = QPoint(10, 170);
            caption.pointSize = 14;
            caption.colour = QColor(255, 255, 0);
            control.SetCaption(caption);
        }
        window.move(0, 0);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return QImage();
        if (!control.OpenPreview())
            return QImage();
        VideoView *view = control.view();
        const bool direct = qstrcmp(way, "copy") != 0;
        if (!QTest::qWaitFor([&] { return direct ? view->showsDirectLive() : !view->shownImage().isNull(); },
                             10000))
            return QImage();
        // A few frames more: the one drawn last carries the overlay.
        QTest::qWait(400);
        const QRect onScreen(view->mapToGlobal(QPoint(0, 0)), view->size());
        guide = view->guideRect();
        const QImage seen =
            window.screen()
                ->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        control.ClosePreview();
        return seen;
    };
    const QImage direct = screenOfView("direct");
    const QImage painted = screenOfView("copy");
    qunsetenv("LUMORA_LIVE_VIDEO");
    QVERIFY(!direct.isNull());
    QCOMPARE(direct.size(), painted.size());
    // The picture is there, in many colours, not a blank window.
    QVERIFY(compare(direct, QImage(direct.size(), QImage::Format_RGB32), 40).pixels > direct.width() * 100);
    // White is dimmed to 145 / 256 right outside the guide's border, and
    // left as it is right inside it.
    if (pattern == 3) {
        const QPoint inside(guide.left() + 4, guide.center().y()),
            outside(guide.left() - 2, guide.center().y());
        for (const QImage &seen : {direct, painted}) {
            QVERIFY2(qAbs(qRed(seen.pixel(inside)) - 255) <= 2,
                     qPrintable(QString::number(qRed(seen.pixel(inside)))));
            QVERIFY2(qAbs(qRed(seen.pixel(outside)) - 144) <= 2,
                     qPrintable(QString::number(qRed(seen.pixel(outside)))));
        }
    }
    // The same picture, the same dimming, the same border and caption.
    const Difference d = compare(direct, painted, 3);
    QVERIFY2(d.pixels <= direct.width() * direct.height() / 500,
             qPrintable(QStringLiteral("%1 pixels differ, by up to %2").arg(d.pixels).arg(d.largest)));
}

// The suite runs on an X server of its own, started here (the rest of the
// suites run on Qt's offscreen platform): the video drawn by the window
// system can only be seen on one.
int main(int argc, char *argv[])
{
    QProcess server;
    int fds[2];
    if (pipe(fds) == 0) {
        server.setProgram(QStringLiteral("Xvfb"));
        server.setArguments({QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                             QStringLiteral("0"), QStringLiteral("1366x768x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp")});
        server.setStandardOutputFile(QProcess::nullDevice());
        server.setStandardErrorFile(QProcess::nullDevice());
        // The child keeps the write end open across exec; it writes the display number to it.
        server.setChildProcessModifier([fd = fds[0]] { close(fd); });
        server.start();
        close(fds[1]);
        QByteArray number;
        char c = 0;
        if (server.waitForStarted(5000))
            while (read(fds[0], &c, 1) == 1 && c != '\n')
                number += c;
        close(fds[0]);
        if (!number.isEmpty()) {
            qputenv("DISPLAY", ":" + number);
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }
    int status = 0;
    {
        QApplication app(argc, argv);
        TestLiveVideo suite;
        status = QTest::qExec(&suite, argc, argv);
    }
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
    return status;
}

#include "tst_livevideo.moc"
