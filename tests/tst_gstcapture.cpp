// The GStreamer camera component, driven for real on videotestsrc.

#include "capture/CameraDeviceList.h"
#include "capture/CaptureFactory.h"
#include "capture/CropGeometry.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstFramePipeline.h"
#include "capture/GstHandle.h"
#include "capture/GstRuntime.h"
#include "capture/PictureSettingsDialog.h"
#include "capture/StillWriter.h"
#include "capture/TestPatternControls.h"
#include "capture/V4l2Controls.h"
#include "capture/VideoSettingsDialog.h"
#include "capture/VideoView.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gst/gst.h>
#include <set>
#include <unistd.h>

namespace {

CaptureSettings testPicture(int width = 640, int height = 480)
{
    CaptureSettings s;
    s.kind = CaptureSource::Kind::TestPicture;
    s.width = width;
    s.height = height;
    s.rate = FrameRate{30, 1};
    return s;
}

double meanBrightness(const QImage &image)
{
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return image.isNull() ? 0.0 : double(sum) / (qint64(image.width()) * image.height());
}

int distinctColours(const QImage &image, int step = 4)
{
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += step)
        for (int x = 0; x < image.width(); x += step) {
            const QRgb c = image.pixel(x, y);
            // Coarse buckets, so JPEG noise does not count as colours.
            colours.insert(qRgb(qRed(c) & 0xC0, qGreen(c) & 0xC0, qBlue(c) & 0xC0));
        }
    return int(colours.size());
}

// Three vertical bands, red | green | blue, so a crop's position shows in its colours.
QImage bands(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, width / 3, height, Qt::red);
    p.fillRect(width / 3, 0, width - 2 * (width / 3), height, Qt::green);
    p.fillRect(width - width / 3, 0, width / 3, height, Qt::blue);
    // 72 dpi, so a photo that kept the frame's resolution would show it.
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(2835);
    return image;
}

bool near(QRgb c, QColor want)
{
    return qAbs(qRed(c) - want.red()) < 40 && qAbs(qGreen(c) - want.green()) < 40 &&
           qAbs(qBlue(c) - want.blue()) < 40;
}

bool hasVideoDevices()
{
    return !QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System).isEmpty();
}

// Drives the settings dialogs without exec(): the test's script runs on the
// dialog and decides its result.
class ScriptedCapture : public GstCaptureControl
{
public:
    using GstCaptureControl::GstCaptureControl;
    std::function<int(QDialog &)> script;
    int dialogsShown = 0;

protected:
    int runDialog(QDialog &dialog) override
    {
        ++dialogsShown;
        return script ? script(dialog) : QDialog::Rejected;
    }
};

// Makes the running source fail as v4l2src does when its camera is pulled
// out: on its streaming thread, at the next buffer, it posts a resource-read
// error and stops with a flow error, so no frame follows and GstBaseSrc adds
// its own "streaming stopped" error behind the first.
void unplugSource(GstElement *source)
{
    GstHandle<GstPad> pad(gst_element_get_static_pad(source, "src"));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad *pad, GstPadProbeInfo *info, gpointer) {
            GstElement *element = GST_ELEMENT(GST_OBJECT_PARENT(pad));
            GError *err = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                              "Could not read from resource.");
            gst_element_post_message(element, gst_message_new_error(GST_OBJECT(element), err,
                                                                    "poll error 1: No such device (19)"));
            g_error_free(err);
            gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
            GST_PAD_PROBE_INFO_DATA(info) = nullptr;
            GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
            return GST_PAD_PROBE_HANDLED;
        },
        nullptr, nullptr);
}

} // namespace

class TestGstCapture : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void openWhilePreparing();

    void centredCropRect_data();
    void centredCropRect();

    void writeStill_data();
    void writeStill();
    void writeStillRefuses_data();
    void writeStillRefuses();
    void writeStillReadOnlyFolder();

    void modesFromCaps_data();
    void modesFromCaps();
    void deviceListWithoutCamera();
    void videoDialogFollowsDevices();
    void patternDialogAppliesAndCancels();
    void v4l2ControlsFailCleanly_data();
    void v4l2ControlsFailCleanly();

    void startsClosed();
    void liveCycle_data();
    void liveCycle();
    void saveBeforeStillFails();
    void grabWhileClosedFails();
    void stillSurvivesClose();
    void missingCameraFailsToOpen();
    void undeliverableFormatFailsCleanly();
    void unpluggedCameraStopsPreview_data();
    void unpluggedCameraStopsPreview();
    void videoSettingsRestartPreview();
    void pictureSettingsChangePatternLive();
    void liveFramesFollowTheWindow_data();
    void liveFramesFollowTheWindow();
    void overlayMatchesGuide_data();
    void liveFrameDimmedOnce();
    void overlayMatchesGuide();

private:
    QTemporaryDir m_dir;
};

void TestGstCapture::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// Runs first, while GStreamer is not set up yet in this process: the open
// that comes right behind the background set-up waits for it, not fails.
void TestGstCapture::openWhilePreparing()
{
    QVERIFY(!gst_is_initialized());
    GstCaptureControl control(testPicture());
    control.prepareInBackground();
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    QVERIFY(gst_is_initialized());
    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    QCOMPARE(control.still().size(), QSize(640, 480));
}

void TestGstCapture::centredCropRect_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("crop");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide frame, portrait crop")
        << QSize(1280, 720) << QSize(150, 200) << QRect(370, 0, 540, 720);
    QTest::newRow("4:3 frame, portrait crop")
        << QSize(640, 480) << QSize(150, 200) << QRect(140, 0, 360, 480);
    QTest::newRow("tall frame, landscape crop")
        << QSize(480, 640) << QSize(200, 100) << QRect(0, 200, 480, 240);
    QTest::newRow("same aspect") << QSize(640, 480) << QSize(320, 240) << QRect(0, 0, 640, 480);
    QTest::newRow("crop larger than frame") << QSize(100, 100) << QSize(600, 800) << QRect(12, 0, 75, 100);
    QTest::newRow("square crop, odd margin") << QSize(101, 100) << QSize(1, 1) << QRect(0, 0, 100, 100);
    QTest::newRow("extreme strip keeps a pixel")
        << QSize(1280, 720) << QSize(2000000000, 1) << QRect(0, 359, 1280, 1);
    QTest::newRow("zero crop width") << QSize(640, 480) << QSize(0, 200) << QRect();
    QTest::newRow("negative crop height") << QSize(640, 480) << QSize(150, -200) << QRect();
    QTest::newRow("empty frame") << QSize(0, 0) << QSize(150, 200) << QRect();
}

void TestGstCapture::centredCropRect()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, crop);
    QFETCH(QRect, expected);
    QCOMPARE(::centredCropRect(frame, crop), expected);
}

void TestGstCapture::writeStill_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("decodedAs");
    QTest::addColumn<QSize>("crop");
    QTest::newRow("jpeg 150x200") << QString() << QByteArray("jpeg") << QSize(150, 200);
    QTest::newRow("bmp 150x200") << QStringLiteral("BMP") << QByteArray("bmp") << QSize(150, 200);
    QTest::newRow("bmp, lower case") << QStringLiteral("bmp") << QByteArray("bmp") << QSize(151, 203);
    QTest::newRow("jpeg 600x800 (upscaled)") << QString() << QByteArray("jpeg") << QSize(600, 800);
}

void TestGstCapture::writeStill()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, decodedAs);
    QFETCH(QSize, crop);
    const QString path = m_dir.filePath(QStringLiteral("still-%1.jpg").arg(QTest::currentDataTag()));
    QString error;
    QVERIFY2(StillWriter::write(bands(1280, 720), crop, StillWriter::formatFromText(format), path, &error),
             qPrintable(error));
    QImageReader reader(path);
    QCOMPARE(reader.format(), decodedAs); // by content, whatever the name says
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), crop);
    QCOMPARE(qRound(saved.dotsPerMeterX() * 0.0254), 96);
    // The centred crop of the bands: green in the middle, a sliver of red and
    // of blue at the edges.
    QVERIFY(near(saved.pixel(crop.width() / 2, crop.height() / 2), Qt::green));
    QVERIFY(near(saved.pixel(1, crop.height() / 2), Qt::red));
    QVERIFY(near(saved.pixel(crop.width() - 2, crop.height() / 2), Qt::blue));
    // Not the whole frame squeezed: the green band fills most of the width.
    QVERIFY(near(saved.pixel(crop.width() * 15 / 100, crop.height() / 2), Qt::green));
    QVERIFY(near(saved.pixel(crop.width() * 85 / 100, crop.height() / 2), Qt::green));
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*.jpg.*")}, QDir::Files | QDir::Hidden), {});
}

void TestGstCapture::writeStillRefuses_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("crop");
    QTest::addColumn<bool>("nullFrame");
    const QString missing = QStringLiteral("no-such-folder/x.jpg");
    QTest::newRow("folder does not exist") << missing << QSize(150, 200) << false;
    QTest::newRow("path is a folder") << QStringLiteral("afolder") << QSize(150, 200) << false;
    QTest::newRow("zero width") << QStringLiteral("zero.jpg") << QSize(0, 200) << false;
    QTest::newRow("negative height") << QStringLiteral("neg.jpg") << QSize(150, -1) << false;
    QTest::newRow("absurd size") << QStringLiteral("huge.jpg") << QSize(100000, 100000) << false;
    QTest::newRow("no frame") << QStringLiteral("none.jpg") << QSize(150, 200) << true;
}

void TestGstCapture::writeStillRefuses()
{
    QFETCH(QString, path);
    QFETCH(QSize, crop);
    QFETCH(bool, nullFrame);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("afolder")));
    const QString target = dir.filePath(path);
    QString error;
    const QImage frame = nullFrame ? QImage() : bands(640, 480);
    QVERIFY(!StillWriter::write(frame, crop, StillWriter::Format::Jpeg, target, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), {});
}

void TestGstCapture::writeStillReadOnlyFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    {
        QFile probe(folder + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("folder permissions are not enforced for this user (root)");
        }
    }
    QString error;
    const bool ok = StillWriter::write(bands(640, 480), QSize(150, 200), StillWriter::Format::Jpeg,
                                       folder + QStringLiteral("/x.jpg"), &error);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), {});
}

void TestGstCapture::modesFromCaps_data()
{
    QTest::addColumn<QString>("caps");
    QTest::addColumn<QStringList>("modes");
    QTest::newRow("fixed sizes, rate list, raw before jpeg")
        << "image/jpeg,width=1280,height=720,framerate=30/1;"
           "video/x-raw,format=YUY2,width=640,height=480,framerate={15/1,30/1}"
        << QStringList{"video/x-raw 640x480 30/1 15/1", "image/jpeg 1280x720 30/1"};
    QTest::newRow("formats of one size merge")
        << "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
           "video/x-raw,format=NV12,width=320,height=240,framerate=10/1"
        << QStringList{"video/x-raw 320x240 30/1 10/1"};
    QTest::newRow("ranges give standard sizes and rates")
        << "video/x-raw,width=[600,1300],height=[400,800],framerate=[10/1,30/1]"
        << QStringList{"video/x-raw 1280x720 30/1 25/1 20/1 15/1 10/1",
                       "video/x-raw 1024x768 30/1 25/1 20/1 15/1 10/1",
                       "video/x-raw 800x600 30/1 25/1 20/1 15/1 10/1",
                       "video/x-raw 640x480 30/1 25/1 20/1 15/1 10/1"};
    QTest::newRow("fractional NTSC rate") << "video/x-raw,width=720,height=480,framerate=30000/1001"
                                          << QStringList{"video/x-raw 720x480 30000/1001"};
    QTest::newRow("no rate at all") << "video/x-raw,width=640,height=480"
                                    << QStringList{"video/x-raw 640x480"};
    QTest::newRow("zero size dropped") << "video/x-raw,width=0,height=480,framerate=30/1" << QStringList{};
    QTest::newRow("not video") << "audio/x-raw,rate=44100" << QStringList{};
    QTest::newRow("unparsable caps") << "video/x-raw,width=(int" << QStringList{};
}

void TestGstCapture::modesFromCaps()
{
    QFETCH(QString, caps);
    QFETCH(QStringList, modes);
    QVERIFY(ensureGstInitialised());
    GstCapsHandle parsed(gst_caps_from_string(caps.toUtf8().constData()));
    QStringList got;
    for (const CaptureMode &m : CameraDeviceList::modesFromCaps(parsed.get())) {
        QString line = QStringLiteral("%1 %2x%3").arg(m.mediaType).arg(m.width).arg(m.height);
        for (const FrameRate &r : m.rates)
            line += QStringLiteral(" %1/%2").arg(r.numerator).arg(r.denominator);
        got << line;
    }
    QCOMPARE(got, modes);
}

void TestGstCapture::deviceListWithoutCamera()
{
    const QList<CaptureSource> offered = CameraDeviceList::offered({});
    QCOMPARE(offered.size(), 1);
    QCOMPARE(offered.first().name, QStringLiteral("测试图像"));
    QCOMPARE(offered.first().kind, CaptureSource::Kind::TestPicture);

    if (hasVideoDevices())
        QSKIP("this machine has a video device");
    CameraDeviceList devices;
    QVERIFY2(devices.start(), qPrintable(devices.lastError()));
    QCOMPARE(devices.sources().size(), 1);
    QCOMPARE(devices.sources().first().name, QStringLiteral("测试图像"));
}

void TestGstCapture::videoDialogFollowsDevices()
{
    CameraDeviceList devices;
    VideoSettingsDialog dialog(&devices, testPicture());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("视频设置"));
    // The sources found, then the tether folder, always offered last.
    QCOMPARE(dialog.deviceBox()->count(), 2);
    QCOMPARE(dialog.deviceBox()->itemText(0), QStringLiteral("测试图像"));
    QCOMPARE(dialog.deviceBox()->itemText(1), QStringLiteral("联机拍摄文件夹"));
    QVERIFY(dialog.sizeBox()->findText(QStringLiteral("1280 × 720")) >= 0);
    QCOMPARE(dialog.sizeBox()->currentText(), QStringLiteral("640 × 480"));

    // A camera is plugged in while the dialog is open.
    CaptureSource cam;
    cam.kind = CaptureSource::Kind::Camera;
    cam.name = QStringLiteral("USB Camera");
    cam.devicePath = QStringLiteral("/dev/video4");
    cam.modes = {{QStringLiteral("video/x-raw"), 640, 480, {{30, 1}, {15, 1}}},
                 {QStringLiteral("image/jpeg"), 1920, 1080, {{30, 1}}}};
    QSignalSpy changed(&devices, &CameraDeviceList::changed);
    devices.setCameras({cam});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dialog.deviceBox()->count(), 2);
    QCOMPARE(dialog.deviceBox()->itemText(0), QStringLiteral("USB Camera (/dev/video4)"));
    QCOMPARE(dialog.sizeBox()->count(), 2);
    dialog.sizeBox()->setCurrentIndex(1);
    QCOMPARE(dialog.sizeBox()->currentText(), QStringLiteral("1920 × 1080 (MJPEG)"));
    QCOMPARE(dialog.rateBox()->count(), 1);
    CaptureSettings chosen = dialog.selectedSettings();
    QCOMPARE(chosen.kind, CaptureSource::Kind::Camera);
    QCOMPARE(chosen.devicePath, QStringLiteral("/dev/video4"));
    QCOMPARE(chosen.mediaType, QStringLiteral("image/jpeg"));
    QCOMPARE(QSize(chosen.width, chosen.height), QSize(1920, 1080));
    QCOMPARE(chosen.rate, (FrameRate{30, 1}));

    // The same list again changes nothing; unplugged, the test picture returns.
    devices.setCameras({cam});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dialog.sizeBox()->currentIndex(), 1);
    devices.setCameras({});
    QCOMPARE(dialog.deviceBox()->count(), 2);
    QCOMPARE(dialog.deviceBox()->itemText(0), QStringLiteral("测试图像"));
    chosen = dialog.selectedSettings();
    QCOMPARE(chosen.kind, CaptureSource::Kind::TestPicture);
    QVERIFY(chosen.devicePath.isEmpty());
}

void TestGstCapture::patternDialogAppliesAndCancels()
{
    QList<int> applied;
    TestPatternControls controls(0, [&](int p) { applied << p; });
    PictureSettingsDialog dialog(&controls);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("图片设置"));
    auto *combo = qobject_cast<QComboBox *>(dialog.editorFor(TestPatternControls::PatternId));
    QVERIFY(combo);
    QCOMPARE(combo->objectName(), QStringLiteral("control_1"));
    QVERIFY(combo->count() > 10);
    QVERIFY(combo->itemText(0).contains(QLatin1String("smpte")));
    const int black = combo->findText(QStringLiteral("黑色 (black)"));
    QVERIFY(black >= 0);

    combo->setCurrentIndex(black);
    QCOMPARE(applied, QList<int>{combo->itemData(black).toInt()});
    dialog.restoreDefaults();
    QCOMPARE(controls.pattern(), 0);
    QCOMPARE(combo->currentIndex(), 0);

    combo->setCurrentIndex(black);
    dialog.reject(); // cancel puts back the pattern the dialog opened with
    QCOMPARE(controls.pattern(), 0);
    QVERIFY(!controls.setValue(TestPatternControls::PatternId, 9999));
    QVERIFY(!controls.setValue(42, 0));
    QCOMPARE(controls.pattern(), 0);
}

void TestGstCapture::v4l2ControlsFailCleanly_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("missing node") << QStringLiteral("/dev/video-lumora-missing")
                                  << QStringLiteral("/dev/video-lumora-missing");
    QTest::newRow("not a video device") << QStringLiteral("/dev/null") << QStringLiteral("不是视频设备");
}

void TestGstCapture::v4l2ControlsFailCleanly()
{
    QFETCH(QString, path);
    QFETCH(QString, errorPart);
    V4l2Controls controls;
    QVERIFY(!controls.open(path));
    QVERIFY(!controls.isOpen());
    QVERIFY2(controls.lastError().contains(errorPart), qPrintable(controls.lastError()));
    QVERIFY(controls.controls().isEmpty());
    QVERIFY(!controls.setValue(1, 1));
}

void TestGstCapture::startsClosed()
{
    auto control = createCaptureControl();
    QVERIFY(control);
    QCOMPARE(control->windowSize(), QSize(449, 345));
    QCOMPARE(control->videoWidget()->size(), QSize(449, 345));
    QCOMPARE(control->CropWidth(), 150);
    QCOMPARE(control->CropHeight(), 200);
    QCOMPARE(control->SaveFormat(), QString());
    control->setWindowSize(QSize(500, 400));
    QCOMPARE(control->videoWidget()->size(), QSize(500, 400));
    control->setWindowSize(QSize(0, 400));
    QCOMPARE(control->windowSize(), QSize(500, 400));
    auto *view = static_cast<GstCaptureControl *>(control.get())->view();
    QCOMPARE(view->note(), QStringLiteral("摄像头未打开"));
    QVERIFY(view->shownImage().isNull());
}

void TestGstCapture::liveCycle_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("decodedAs");
    QTest::addColumn<QSize>("crop");
    QTest::newRow("jpeg 150x200") << QString() << QByteArray("jpeg") << QSize(150, 200);
    QTest::newRow("bmp 150x200") << QStringLiteral("BMP") << QByteArray("bmp") << QSize(150, 200);
    QTest::newRow("jpeg 600x800") << QString() << QByteArray("jpeg") << QSize(600, 800);
}

void TestGstCapture::liveCycle()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, decodedAs);
    QFETCH(QSize, crop);
    GstCaptureControl control(testPicture());
    control.SetSaveFormat(format);
    control.SetCropWidth(crop.width());
    control.SetCropHeight(crop.height());

    QVERIFY(control.liveFrame().isNull());
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    QVERIFY(control.isPreviewRunning());
    // No waiting here: GrabStill waits for the first frame itself.
    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    // The code reader's frames: none while a still shows.
    QVERIFY(control.liveFrame().isNull());
    QCOMPARE(control.still().size(), QSize(640, 480));
    QVERIFY(control.view()->showsStill());
    QTRY_VERIFY(!control.view()->guideRect().isEmpty());
    const QRect guide = control.view()->guideRect();
    QVERIFY(qAbs(double(guide.width()) / guide.height() - double(crop.width()) / crop.height()) < 0.02);

    const QString path = m_dir.filePath(QStringLiteral("live-%1.jpg").arg(QTest::currentDataTag()));
    QVERIFY2(control.SaveStill(path), qPrintable(control.lastError()));
    QImageReader reader(path);
    QCOMPARE(reader.format(), decodedAs);
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), crop);
    // The SMPTE bars: bright, many colours, not a black frame.
    QVERIFY2(meanBrightness(saved) > 60, qPrintable(QString::number(meanBrightness(saved))));
    QVERIFY2(distinctColours(saved) >= 4, qPrintable(QString::number(distinctColours(saved))));

    QVERIFY(control.ResumePreview());
    QVERIFY(!control.hasStill());
    QVERIFY(!control.view()->showsStill());
    // Live video goes on after the still, and to the code reader too.
    QTRY_VERIFY(!control.view()->shownImage().isNull());
    QTRY_VERIFY(!control.liveFrame().isNull());
    QCOMPARE(control.liveFrame().size(), control.view()->shownImage().size());
    QVERIFY(control.ClosePreview());
    QVERIFY(control.liveFrame().isNull());
    QVERIFY(!control.isPreviewRunning());
    QCOMPARE(control.view()->note(), QStringLiteral("摄像头未打开"));
}

void TestGstCapture::saveBeforeStillFails()
{
    GstCaptureControl control(testPicture());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.jpg"));
    QVERIFY(!control.SaveStill(path));
    QVERIFY(!control.lastError().isEmpty());
    QVERIFY(control.OpenPreview());
    QVERIFY(!control.SaveStill(path)); // open, but nothing taken yet
    QVERIFY(!QFile::exists(path));
    QVERIFY(control.GrabStill());
    QVERIFY(!control.SaveStill(dir.filePath(QStringLiteral("missing/x.jpg"))));
    QVERIFY(!control.lastError().isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), {});
}

void TestGstCapture::grabWhileClosedFails()
{
    GstCaptureControl control(testPicture());
    QVERIFY(!control.GrabStill());
    QVERIFY(!control.lastError().isEmpty());
    QVERIFY(!control.ResumePreview());
    QVERIFY(control.OpenPreview());
    QVERIFY(control.ClosePreview());
    QVERIFY(!control.GrabStill());
}

void TestGstCapture::stillSurvivesClose()
{
    // Closing after a take leaves Save usable: the still stays held.
    GstCaptureControl control(testPicture());
    QVERIFY(control.OpenPreview());
    QVERIFY(control.GrabStill());
    QVERIFY(control.ClosePreview());
    QVERIFY(control.hasStill());
    QVERIFY(control.view()->showsStill());
    const QString path = m_dir.filePath(QStringLiteral("after-close.jpg"));
    QVERIFY2(control.SaveStill(path), qPrintable(control.lastError()));
    QCOMPARE(QImage(path).size(), QSize(150, 200));
}

void TestGstCapture::missingCameraFailsToOpen()
{
    if (!gstElementAvailable("v4l2src"))
        QSKIP("v4l2src is not installed");
    CaptureSettings settings;
    settings.kind = CaptureSource::Kind::Camera;
    settings.devicePath = QStringLiteral("/dev/video-lumora-missing");
    GstCaptureControl control(settings);
    QVERIFY(!control.OpenPreview());
    QVERIFY(!control.isPreviewRunning());
    QVERIFY2(control.lastError().contains(settings.devicePath), qPrintable(control.lastError()));
    QVERIFY(!control.GrabStill());
    QVERIFY2(!control.ShowPictureSettings(), "the picture settings of a missing camera cannot open");
    QVERIFY(control.lastError().contains(settings.devicePath));
}

void TestGstCapture::undeliverableFormatFailsCleanly()
{
    // The test picture cannot deliver JPEG. Whether that shows while the
    // pipeline is built or later on its bus (as a camera pulled out
    // mid-preview does), the preview ends stopped, with a reason.
    CaptureSettings settings = testPicture();
    settings.mediaType = QStringLiteral("image/jpeg");
    GstCaptureControl control(settings);
    QSignalSpy failed(&control, &GstCaptureControl::previewFailed);
    if (control.OpenPreview())
        QVERIFY(failed.wait(5000));
    else
        QVERIFY(!control.lastError().isEmpty());
    QVERIFY(!control.isPreviewRunning());
    QVERIFY(!control.lastError().isEmpty());
    QVERIFY(!control.GrabStill());
    QVERIFY(!control.view()->note().isEmpty());
}

void TestGstCapture::unpluggedCameraStopsPreview_data()
{
    QTest::addColumn<bool>("stillTaken");
    QTest::newRow("live video") << false;
    QTest::newRow("with a still held") << true;
}

void TestGstCapture::unpluggedCameraStopsPreview()
{
    QFETCH(bool, stillTaken);
    GstCaptureControl control(testPicture());
    QSignalSpy failed(&control, &CaptureControl::previewFailed);
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    if (!stillTaken)
        QVERIFY(control.ResumePreview());
    QTRY_VERIFY(!control.view()->note().contains(QStringLiteral("正在打开")));

    // The control's pipeline, whose source element tests may reach.
    const auto *frames = control.findChild<GstFramePipeline *>();
    QVERIFY(frames);
    GstElement *source = frames->sourceElement();
    QVERIFY(source);
    // The pipeline's own reference keeps it alive until we look at its state.
    GstHandle<GstElement> pipeline(GST_ELEMENT(gst_object_get_parent(GST_OBJECT(source))));
    QVERIFY(pipeline);
    unplugSource(source);

    // Reported once, in the event loop, with no call in progress.
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.count(), 1);
    const QString reason = failed.at(0).at(0).toString();
    QVERIFY2(reason.contains(QStringLiteral("测试图像出错")), qPrintable(reason));
    QVERIFY2(reason.contains(QStringLiteral("摄像头可能已被拔出")), qPrintable(reason));
    QVERIFY2(reason.contains(QStringLiteral("Could not read from resource.")), qPrintable(reason));
    QCOMPARE(control.lastError(), reason);

    // Stopped for good: no streaming thread, no source, no more frames.
    QVERIFY(!control.isPreviewRunning());
    QVERIFY(!frames->sourceElement());
    GstState state = GST_STATE_VOID_PENDING;
    QCOMPARE(gst_element_get_state(pipeline.get(), &state, nullptr, 0), GST_STATE_CHANGE_SUCCESS);
    QCOMPARE(state, GST_STATE_NULL);
    pipeline.reset();
    // The video window says why, and no frame notice still queued covers it.
    QCoreApplication::processEvents();
    QCOMPARE(control.view()->note(), reason);
    QCOMPARE(control.view()->showsStill(), stillTaken);
    if (!stillTaken)
        QVERIFY(control.view()->shownImage().isNull());

    // Later calls fail cleanly and say why.
    QCOMPARE(control.hasStill(), stillTaken);
    QVERIFY(!control.GrabStill());
    QCOMPARE(control.lastError(), reason);
    QCOMPARE(control.hasStill(), stillTaken);
    // A still taken before the camera went can still be saved.
    const QString path = m_dir.filePath(QStringLiteral("unplugged-%1.jpg").arg(QTest::currentDataTag()));
    QCOMPARE(control.SaveStill(path), stillTaken);
    QCOMPARE(QFile::exists(path), stillTaken);

    // The camera plugged back in: Open works again, and the old error is gone.
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    QVERIFY(control.lastError().isEmpty());
    QVERIFY(!control.hasStill());
    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    QCOMPARE(control.still().size(), QSize(640, 480));
    QVERIFY(control.ResumePreview());
    QTRY_VERIFY(!control.view()->shownImage().isNull());
    // The second error behind the first, from the dead pipeline, never arrives.
    QCOMPARE(failed.count(), 1);
    QVERIFY(control.ClosePreview());
    QVERIFY(!control.GrabStill());
    QCOMPARE(control.lastError(), QStringLiteral("摄像头未打开"));
}

void TestGstCapture::videoSettingsRestartPreview()
{
    ScriptedCapture control(testPicture());
    QVERIFY(control.OpenPreview());
    QVERIFY(control.GrabStill());
    QCOMPARE(control.still().size(), QSize(640, 480));
    QVERIFY(control.ResumePreview());

    control.script = [](QDialog &dialog) {
        auto *d = qobject_cast<VideoSettingsDialog *>(&dialog);
        if (!d)
            return int(QDialog::Rejected);
        d->sizeBox()->setCurrentIndex(d->sizeBox()->findText(QStringLiteral("1280 × 720")));
        return int(QDialog::Accepted);
    };
    QVERIFY2(control.ShowVideoSettings(), qPrintable(control.lastError()));
    QCOMPARE(control.dialogsShown, 1);
    QCOMPARE(control.captureSettings().width, 1280);
    QVERIFY(control.isPreviewRunning());
    QVERIFY(control.GrabStill());
    QCOMPARE(control.still().size(), QSize(1280, 720));

    // Cancel changes nothing.
    control.script = [](QDialog &) { return int(QDialog::Rejected); };
    QVERIFY(control.ShowVideoSettings());
    QCOMPARE(control.captureSettings().width, 1280);
}

void TestGstCapture::pictureSettingsChangePatternLive()
{
    ScriptedCapture control(testPicture());
    QVERIFY(control.OpenPreview());
    QVERIFY(control.GrabStill());
    QVERIFY(meanBrightness(control.still()) > 60);
    QVERIFY(control.ResumePreview());

    control.script = [](QDialog &dialog) {
        auto *d = qobject_cast<PictureSettingsDialog *>(&dialog);
        auto *combo = d ? qobject_cast<QComboBox *>(d->editorFor(TestPatternControls::PatternId)) : nullptr;
        if (!combo)
            return int(QDialog::Rejected);
        combo->setCurrentIndex(combo->findText(QStringLiteral("黑色 (black)")));
        d->accept();
        return int(QDialog::Accepted);
    };
    QVERIFY2(control.ShowPictureSettings(), qPrintable(control.lastError()));
    QCOMPARE(control.dialogsShown, 1);
    // The running picture turns black without a restart.
    QTRY_VERIFY_WITH_TIMEOUT(control.GrabStill() && meanBrightness(control.still()) < 5, 5000);
    QVERIFY(control.isPreviewRunning());
    // ...and stays black at the next open.
    QVERIFY(control.ClosePreview());
    QVERIFY(control.OpenPreview());
    QVERIFY(control.GrabStill());
    QVERIFY(meanBrightness(control.still()) < 5);
}

void TestGstCapture::liveFramesFollowTheWindow_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QList<QSize>>("windows");
    QTest::newRow("4:3 source") << QSize(640, 480)
                                << QList<QSize>{{449, 345}, {320, 240}, {200, 400}, {641, 481}};
    QTest::newRow("16:9 source") << QSize(1280, 720) << QList<QSize>{{449, 345}, {300, 300}, {1000, 200}};
}

void TestGstCapture::liveFramesFollowTheWindow()
{
    QFETCH(QSize, source);
    QFETCH(QList<QSize>, windows);
    GstCaptureControl control(testPicture(source.width(), source.height()));
    control.setWindowSize(windows.first());
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    for (const QSize &window : windows) {
        control.setWindowSize(window);
        // The live picture arrives at the size it is painted at, in the
        // window's shape; the still keeps the source's full size.
        const QSize painted = fitRect(source, QRect(QPoint(0, 0), window)).size();
        QTRY_COMPARE(control.view()->shownImage().size(), painted);
        QCOMPARE(control.view()->pictureRect().size(), painted);
        QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
        QCOMPARE(control.still().size(), source);
        QVERIFY(control.ResumePreview());
    }
    // The SMPTE bars survive the scaling: the live picture is not black.
    QVERIFY(meanBrightness(control.view()->shownImage()) > 60);
}

void TestGstCapture::overlayMatchesGuide_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QList<QSize>>("crops");
    QTest::newRow("4:3 in the usual window")
        << QSize(449, 345) << QSize(640, 480) << QList<QSize>{{150, 200}, {200, 100}, {1, 1}};
    QTest::newRow("16:9, bands above and below")
        << QSize(449, 345) << QSize(1280, 720) << QList<QSize>{{150, 200}, {600, 800}};
    QTest::newRow("tall window, bands at the sides")
        << QSize(200, 345) << QSize(640, 480) << QList<QSize>{{150, 200}, {400, 100}};
}

// Every pixel of the painted window: the picture as it is inside the guide,
// dimmed outside it, the background in the bands the picture leaves, for
// each crop in turn on the same window (the overlay kept from the last crop
// must not show).
void TestGstCapture::overlayMatchesGuide()
{
    QFETCH(QSize, window);
    QFETCH(QSize, picture);
    QFETCH(QList<QSize>, crops);
    const QRect target = fitRect(picture, QRect(QPoint(0, 0), window));
    QImage frame(target.size(), QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, (x + y) % 256));
    VideoView view;
    view.resize(window);
    view.setLiveFrame(frame, picture);
    QCOMPARE(view.pictureRect(), target);
    for (const QSize &crop : crops) {
        view.setCropSize(crop);
        const QRect guide = view.guideRect();
        QVERIFY(target.contains(guide));
        const QRect inside = guide.adjusted(2, 2, -2, -2); // the dashed border is 2 pixels wide
        QImage shown(window, QImage::Format_RGB32);
        view.render(&shown);
        int wrong = 0;
        int dashes = 0;
        for (int y = 0; y < window.height(); ++y) {
            for (int x = 0; x < window.width(); ++x) {
                const QRgb got = shown.pixel(x, y);
                QRgb want;
                if (!target.contains(x, y)) {
                    want = qRgb(48, 48, 48);
                } else if (inside.contains(x, y)) {
                    want = frame.pixel(x - target.x(), y - target.y());
                } else if (!guide.contains(x, y)) {
                    const QRgb c = frame.pixel(x - target.x(), y - target.y());
                    want = qRgb(qRed(c) * 145 / 255, qGreen(c) * 145 / 255, qBlue(c) * 145 / 255);
                } else {
                    dashes += got == qRgb(80, 220, 80); // the dashed border
                    continue;
                }
                if (qAbs(qRed(got) - qRed(want)) > 2 || qAbs(qGreen(got) - qGreen(want)) > 2 ||
                    qAbs(qBlue(got) - qBlue(want)) > 2)
                    ++wrong;
            }
        }
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("crop %1x%2: %3 pixels wrong")
                                            .arg(crop.width())
                                            .arg(crop.height())
                                            .arg(wrong)));
        // Dashes and gaps alike: about half the border is the guide's green.
        const int border = guide.width() * guide.height() - inside.width() * inside.height();
        QVERIFY2(dashes > border / 4, qPrintable(QStringLiteral("%1 of %2").arg(dashes).arg(border)));
    }
}

// The pipeline dims the live frames it owns, and the window then draws the
// border only: on a white picture the outside of the guide is dimmed once
// (not twice, not never) for each crop as it changes, and the still is not
// dimmed at all.
void TestGstCapture::liveFrameDimmedOnce()
{
    CaptureSettings settings = testPicture();
    settings.pattern = 3; // white
    GstCaptureControl control(settings);
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    VideoView *view = control.view();
    for (const QSize &crop : {QSize(150, 200), QSize(300, 100), QSize(150, 200)}) {
        control.SetCropWidth(crop.width());
        control.SetCropHeight(crop.height());
        // A frame made after the change, already dimmed by the pipeline:
        // bright at the corners of the new guide, dark in the corner of the
        // picture (outside any guide, which spans its width or its height).
        const auto madeForCrop = [&] {
            const QImage frame = view->shownImage();
            const QRect keep = guideInPicture({640, 480}, frame.size(), crop);
            return !frame.isNull() && !keep.isEmpty() && qRed(frame.pixel(keep.topLeft())) > 250 &&
                   qRed(frame.pixel(keep.bottomRight())) > 250 && qRed(frame.pixel(0, 0)) < 200;
        };
        QTRY_VERIFY(madeForCrop());
        const QRect target = view->pictureRect();
        QCOMPARE(view->shownImage().size(), target.size());
        const QRect guide = view->guideRect();
        QImage shown(view->size(), QImage::Format_RGB32);
        view->render(&shown);
        int once = 0, other = 0;
        for (int y = target.top(); y <= target.bottom(); ++y)
            for (int x = target.left(); x <= target.right(); ++x) {
                if (guide.adjusted(-1, -1, 1, 1).contains(x, y))
                    continue;
                const int red = qRed(shown.pixel(x, y));
                (qAbs(red - 145) <= 2 ? once : other) += 1;
            }
        QVERIFY2(other == 0 && once > 0,
                 qPrintable(QStringLiteral("%1 dimmed once, %2 not").arg(once).arg(other)));
        QCOMPARE(qRed(shown.pixel(guide.center())), 255);
    }
    QVERIFY(control.GrabStill());
    QCOMPARE(qRed(control.still().pixel(0, 0)), 255);
}

QTEST_MAIN(TestGstCapture)
#include "tst_gstcapture.moc"
