// Face-centred framing on real faces: the astronaut of scikit-image pasted
// at many places and scales on plain and busy walls is found, the photo cut
// around her has her face in the middle and her head at the rule's share
// (measured against where the paste put her, and by dlib's HOG detector, an
// algorithm and model of its own); the checks name what is wrong with a
// picture; the photo files carry the rule's resolution; the frame tap hands
// downscaled frames to a slow consumer without holding up the live video.

#include "FaceScenes.h"
#include "WindowHarness.h"
#include "app/FramingPanel.h"
#include "capture/CropGeometry.h"
#include "capture/FrameTap.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstFramePipeline.h"
#include "capture/StillWriter.h"
#include "framing/FaceFinder.h"
#include "framing/Framing.h"
#include "framing/IdRule.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <dlib/image_processing/frontal_face_detector.h>

#include <atomic>
#include <limits>
#include <thread>

using namespace FaceScenes;

namespace {

const QSize Frame(640, 480);

// dlib's HOG faces in a picture, in its pixels.
QList<QRect> hogFaces(const QImage &picture)
{
    static dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    dlib::array2d<dlib::rgb_pixel> image(rgb.height(), rgb.width());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            image[y][x] = dlib::rgb_pixel(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
    }
    QList<QRect> faces;
    for (const dlib::rectangle &r : detector(image))
        faces << QRect(int(r.left()), int(r.top()), int(r.width()), int(r.height()));
    return faces;
}

const FramingCheck *check(const FramingReport &report, const QString &name)
{
    for (const FramingCheck &c : report.checks)
        if (c.name == name)
            return &c;
    return nullptr;
}

QImage blurred(const QImage &picture, int factor)
{
    return picture.scaled(picture.size() / factor, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage lit(QImage picture, double gain, int offset)
{
    picture = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            auto f = [&](int c) { return qBound(0, int(c * gain) + offset, 255); };
            line[x] = qRgb(f(qRed(line[x])), f(qGreen(line[x])), f(qBlue(line[x])));
        }
    }
    return picture;
}

// A camera whose still is a picture the test gives, cut and written as the
// real one does it: where the framing says, at the resolution it says.
class StillCamera : public RecordingCaptureControl
{
public:
    QImage still;
    QRectF region;
    int dpi = 96;
    QImage stillImage() const override { return still; }
    void setCropRegion(QRectF r) override { region = r; }
    void setSaveDpi(int d) override { dpi = d; }
    bool SaveStill(const QString &path) override
    {
        QString why;
        return StillWriter::write(still, QSize(CropWidth(), CropHeight()),
                                  StillWriter::formatFromText(SaveFormat()), path, &why, caption(), region,
                                  dpi);
    }
};

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT

    FaceFinder m_finder;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_finder.isReady(), qPrintable(m_finder.error()));
        QVERIFY2(!astronaut().isNull(), "tests/data/faces/astronaut.png missing");
    }

    void missingCascadesSaySo()
    {
        QTemporaryDir empty;
        const FaceFinder finder(empty.path());
        QVERIFY(!finder.isReady());
        QVERIFY(finder.error().contains(QStringLiteral("opencv-data")));
        QVERIFY(finder.find(astronaut()).isEmpty());
    }

    void cropRegionStaysInFrame_data()
    {
        QTest::addColumn<QRectF>("region");
        const double nan = std::nan("");
        QTest::newRow("inside") << QRectF(0.2, 0.1, 0.3, 0.6);
        QTest::newRow("over the left edge") << QRectF(-0.1, 0.1, 0.3, 0.6);
        QTest::newRow("over the bottom") << QRectF(0.4, 0.7, 0.3, 0.6);
        QTest::newRow("taller than the frame") << QRectF(0.1, -0.2, 0.9, 1.4);
        QTest::newRow("the centred part exactly") << QRectF();
        QTest::newRow("a pixel high") << QRectF(0.5, 0.5, 0.001, 0.002);
        QTest::newRow("not a number") << QRectF(nan, 0.1, 0.3, 0.6);
        QTest::newRow("infinitely wide") << QRectF(0.1, 0.1, std::numeric_limits<double>::infinity(), 0.6);
    }

    void cropRegionStaysInFrame()
    {
        QFETCH(QRectF, region);
        const QSize crop = idRule(1).pixels;
        const QRect centred = centredCropRect(Frame, crop);
        const QRect cut = cropRectAt(Frame, crop, region);
        QVERIFY(QRect(QPoint(0, 0), Frame).contains(cut));
        QVERIFY(cut.width() <= centred.width() && cut.height() <= centred.height());
        // The photo's shape, to the pixel: never stretched.
        QVERIFY(std::abs(cut.width() - cut.height() * crop.width() / double(crop.height())) <= 1);
        if (!region.isValid() || !std::isfinite(region.x()) || !std::isfinite(region.width()))
            QCOMPARE(cut, centred);
        const QImage photo = StillWriter::cropped(astronaut().scaled(Frame), crop, region);
        QCOMPARE(photo.size(), crop);
    }

    void faceCentredCrop_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("across"); // 0: the leftmost place the photo fits, 1: the rightmost
        QTest::addColumn<double>("down");
        QTest::addColumn<int>("background");
        const IdRule &rule = idRule(1); // 一寸
        for (double scale : {0.7, 0.9, 1.15, 1.45})
            for (double across : {0.0, 0.5, 1.0})
                for (double down : {0.0, 1.0})
                    for (Background b : {Background::Plain, Background::Busy})
                        QTest::addRow("%s %.2f at %.1f,%.1f", b == Background::Plain ? "plain" : "busy",
                                      scale, across, down)
                            << scale << across << down << int(b);
        Q_UNUSED(rule);
    }

    void faceCentredCrop()
    {
        QFETCH(double, scale);
        QFETCH(double, across);
        QFETCH(double, down);
        QFETCH(int, background);
        const IdRule &rule = idRule(1);
        const QSize crop = rule.pixels;
        // Where the photo can lie whole in the frame, with a margin for the
        // detector's own error: the face's middle and the crown between those.
        const double head = (AstronautHead.chin - AstronautHead.crown) * scale;
        const double h = head / rule.headTarget, w = h * crop.width() / crop.height();
        const double above = 0.4 * (h - head);
        const double x = w / 2 + 12 + across * (Frame.width() - w - 24);
        const double crown = above + 12 + down * (Frame.height() - h - 24);
        QVERIFY2(w + 24 <= Frame.width() && h + 24 <= Frame.height(), "scene too small for the photo");
        const Scene scene = paste(
            FaceScenes::background(Frame, Background(background), quint32(scale * 100 + x)), scale, x, crown);

        const QList<FoundFace> faces = m_finder.find(scene.picture);
        QCOMPARE(faces.size(), 1);
        const FramingReport report = assessFraming(scene.picture, faces, crop, rule, true);
        QVERIFY(report.region.isValid());
        QVERIFY(report.fallbackReason.isEmpty());

        // Against where the paste put her.
        const QRect cut = cropRectAt(Frame, crop, report.region);
        const double off = (scene.head.centreX - (cut.x() + cut.width() / 2.0)) / cut.width();
        QVERIFY2(std::abs(off) <= 0.05,
                 qPrintable(QStringLiteral("face %1 of the width off the middle").arg(off)));
        const double share = (scene.head.chin - scene.head.crown) / cut.height();
        QVERIFY2(share >= rule.headMin && share <= rule.headMax,
                 qPrintable(QStringLiteral("head %1 of the height").arg(share)));
        QVERIFY(check(report, QStringLiteral("居中"))->pass);
        QVERIFY(check(report, QStringLiteral("头部大小"))->pass);

        // And by another detector, in the photo as saved.
        const QImage photo = StillWriter::cropped(scene.picture, crop, report.region, rule.dpi);
        QCOMPARE(photo.size(), crop);
        const QList<QRect> hog = hogFaces(photo);
        QCOMPARE(hog.size(), 1);
        const double hogOff = (hog.first().center().x() + 0.5 - crop.width() / 2.0) / crop.width();
        QVERIFY2(std::abs(hogOff) <= 0.05,
                 qPrintable(QStringLiteral("HOG face %1 off the middle").arg(hogOff)));
    }

    void fixedGuideWithoutOneFace_data()
    {
        QTest::addColumn<int>("people");
        QTest::newRow("nobody") << 0;
        QTest::newRow("two people") << 2;
    }

    void fixedGuideWithoutOneFace()
    {
        QFETCH(int, people);
        QImage picture = FaceScenes::background(Frame, Background::Plain);
        for (int i = 0; i < people; ++i)
            picture = paste(picture, 0.8, 170 + 300 * i, 60).picture;
        const QList<FoundFace> faces = m_finder.find(picture);
        QCOMPARE(int(faces.size()), people);
        const FramingReport report = assessFraming(picture, faces, idRule(1).pixels, idRule(1), true);
        QVERIFY(report.region.isEmpty());
        QVERIFY(report.fallbackReason.contains(QStringLiteral("固定取景框")));
        QVERIFY(!report.allPass());
        QCOMPARE(report.failed().value(0), QStringLiteral("单人"));
        QCOMPARE(StillWriter::cropped(picture, idRule(1).pixels, report.region),
                 StillWriter::cropped(picture, idRule(1).pixels));
    }

    void checksNameFaults_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QStringList>("failed");
        const Scene good = paste(FaceScenes::background(Frame, Background::Plain), 1.0, 320, 50);
        QTest::newRow("good") << good.picture << QStringList();
        QTest::newRow("blurred") << blurred(good.picture, 4) << QStringList{QStringLiteral("清晰")};
        QTest::newRow("dark") << lit(good.picture, 0.3, 0) << QStringList{QStringLiteral("曝光")};
        QTest::newRow("blown out") << lit(good.picture, 1.0, 48) << QStringList{QStringLiteral("曝光")};
        QTest::newRow("busy wall")
            << paste(FaceScenes::background(Frame, Background::Busy), 1.0, 320, 50).picture
            << QStringList{QStringLiteral("背景")};
        QTransform turn;
        turn.translate(320, 170).rotate(9).translate(-320, -170);
        QImage tilted(Frame, QImage::Format_RGB32);
        {
            QPainter p(&tilted);
            p.fillRect(tilted.rect(), QColor(160, 170, 186));
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setTransform(turn);
            p.drawImage(0, 0, good.picture);
        }
        QTest::newRow("tilted 9°") << tilted << QStringList{QStringLiteral("双眼水平")};
    }

    void checksNameFaults()
    {
        QFETCH(QImage, picture);
        QFETCH(QStringList, failed);
        const QList<FoundFace> faces = m_finder.find(picture);
        QCOMPARE(faces.size(), 1);
        const FramingReport report = assessFraming(picture, faces, idRule(1).pixels, idRule(1), true);
        QStringList words;
        for (const FramingCheck &c : report.checks)
            words << c.name + (c.pass ? QStringLiteral(" ✓ ") : QStringLiteral(" ✗ ")) + c.word +
                         QStringLiteral(" (%1)").arg(c.measure);
        QVERIFY2(report.failed() == failed, qPrintable(words.join(QStringLiteral(", "))));
        QCOMPARE(report.allPass(), failed.isEmpty());
    }

    void ruleSizeAndResolutionInFile_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("format");
        for (int i = 1; i < int(idRules().size()); ++i)
            for (const char *format : {"jpg", "bmp"})
                QTest::addRow("%s %s", idRule(i).name, format) << i << QString::fromLatin1(format);
    }

    void ruleSizeAndResolutionInFile()
    {
        QFETCH(int, index);
        QFETCH(QString, format);
        const IdRule &rule = idRule(index);
        QCOMPARE(rule.pixels, QSize(pixelsFor(rule.widthMm, rule.dpi), pixelsFor(rule.heightMm, rule.dpi)));
        QVERIFY(rule.headMin < rule.headTarget && rule.headTarget < rule.headMax);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.") + format);
        QString why;
        QVERIFY2(StillWriter::write(astronaut(), rule.pixels,
                                    format == QLatin1String("bmp") ? StillWriter::Format::Bmp
                                                                   : StillWriter::Format::Jpeg,
                                    path, &why, {}, {}, rule.dpi),
                 qPrintable(why));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray b = file.readAll();
        auto be16 = [&](int at) { return (uchar(b[at]) << 8) | uchar(b[at + 1]); };
        auto le32 = [&](int at) {
            return qint64(uchar(b[at])) | qint64(uchar(b[at + 1])) << 8 | qint64(uchar(b[at + 2])) << 16 |
                   qint64(uchar(b[at + 3])) << 24;
        };
        if (format == QLatin1String("jpg")) {
            // SOI, then APP0 "JFIF\0": version (2), units (1 = dots per inch), X and Y density.
            QVERIFY(b.startsWith(QByteArray("\xFF\xD8\xFF\xE0", 4)));
            QCOMPARE(b.mid(6, 5), QByteArray("JFIF\0", 5));
            QCOMPARE(int(uchar(b[13])), 1);
            QCOMPARE(be16(14), rule.dpi);
            QCOMPARE(be16(16), rule.dpi);
        } else {
            // BITMAPINFOHEADER at 14: width at 18, height at 22, pixels per metre at 38 and 42.
            QCOMPARE(le32(18), qint64(rule.pixels.width()));
            QCOMPARE(le32(22), qint64(rule.pixels.height()));
            QCOMPARE(qRound(le32(38) * 0.0254), rule.dpi);
            QCOMPARE(qRound(le32(42) * 0.0254), rule.dpi);
        }
        QCOMPARE(QImage(path).size(), rule.pixels);
    }

    void windowCutsPhotoAroundFace()
    {
        clearStore();
        WindowHarness h;
        StillCamera camera;
        Form1 &w = h.build(&camera);
        auto *rules = w.findChild<QComboBox *>(QStringLiteral("Comgg"));
        auto *autoCentre = w.findChild<QCheckBox *>(QStringLiteral("Cherl"));
        auto *ask = w.findChild<QCheckBox *>(QStringLiteral("Cheqj"));
        auto *height = w.findChild<QLineEdit *>(QStringLiteral("Texg"));
        QVERIFY(rules && autoCentre && ask && height);
        // As before the rules: 自定义, 150 x 200 at 96 dpi, no framing.
        QCOMPARE(rules->currentText(), QStringLiteral("自定义"));
        QVERIFY(!autoCentre->isChecked() && height->isEnabled());

        rules->setCurrentIndex(1); // 一寸
        QCOMPARE(QSize(camera.CropWidth(), camera.CropHeight()), QSize(295, 413));
        QCOMPARE(height->text(), QStringLiteral("413"));
        QVERIFY(!height->isEnabled());
        QCOMPARE(camera.dpi, 300);
        // The restore that a run's first table brings keeps the rule's size.
        w.redzpsvset();
        QCOMPARE(QSize(camera.CropWidth(), camera.CropHeight()), QSize(295, 413));
        QCOMPARE(height->text(), QStringLiteral("413"));
        autoCentre->setChecked(true);
        ask->setChecked(true);

        camera.still =
            paste(FaceScenes::background(QSize(1280, 720), Background::Plain), 2.0, 420, 90).picture;
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QVERIFY(camera.region.isValid());
        const QImage photo(w.tempPhotoPath());
        QCOMPARE(photo.size(), QSize(295, 413));
        const QList<QRect> hog = hogFaces(photo);
        QCOMPARE(hog.size(), 1);
        QVERIFY(std::abs(hog.first().center().x() + 0.5 - 147.5) <= 0.05 * 295);

        // Nobody in the picture: the fixed guide, the reason and the failed
        // checks said; the save asks first.
        camera.still = FaceScenes::background(QSize(1280, 720), Background::Plain);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command4")), Qt::LeftButton);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QVERIFY(camera.region.isEmpty());
        QVERIFY2(w.statusText().contains(QStringLiteral("没有找到人脸，按固定取景框裁剪")) &&
                     w.statusText().contains(QStringLiteral("取景检查未通过：单人")),
                 qPrintable(w.statusText()));
        h.messages.answers.enqueue(false);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command8")), Qt::LeftButton);
        QCOMPARE(h.messages.messages.size(), 1);
        QVERIFY(h.messages.messages.first().question);
        QVERIFY(w.statusText().startsWith(QStringLiteral("没有保存")));

        // The choices come back in the next run.
        w.close();
        h.form.reset();
        StillCamera again;
        Form1 &w2 = h.build(&again);
        QCOMPARE(w2.findChild<QComboBox *>(QStringLiteral("Comgg"))->currentIndex(), 1);
        QVERIFY(w2.findChild<QCheckBox *>(QStringLiteral("Cherl"))->isChecked());
        QVERIFY(w2.findChild<QCheckBox *>(QStringLiteral("Cheqj"))->isChecked());
        QCOMPARE(QSize(again.CropWidth(), again.CropHeight()), QSize(295, 413));
        QCOMPARE(again.dpi, 300);
    }

    void liveGuideIgnoresJitter()
    {
        clearStore();
        WindowHarness h;
        StillCamera camera;
        Form1 &w = h.build(&camera);
        w.findChild<QCheckBox *>(QStringLiteral("Cherl"))->setChecked(true);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        auto *panel = w.findChild<FramingPanel *>(QStringLiteral("framingPanel"));
        FramingReport report;
        const QRectF first(0.30, 0.10, 0.30, 0.60);
        for (const auto &[shift, shown] :
             {std::pair{0.0, first}, {0.019, first}, {0.021, first.translated(0.021, 0)}, {0.0, first}}) {
            report.region = first.translated(shift, 0);
            panel->showLive(report);
            QCOMPARE(camera.region, shown);
        }
        // No face: the fixed guide at once.
        report.region = QRectF();
        panel->showLive(report);
        QVERIFY(camera.region.isEmpty());
    }

    void liveChecksFollowTheVideo()
    {
        clearStore();
        WindowHarness h;
        CaptureSettings settings;
        settings.kind = CaptureSource::Kind::TestPicture;
        settings.width = 640;
        settings.height = 480;
        GstCaptureControl camera(settings);
        Form1 &w = h.build(&camera);
        w.findChild<QCheckBox *>(QStringLiteral("Cherl"))->setChecked(true);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        // The test picture has no face: the tap's thread finds none, the
        // panel says so and the guide is drawn failing, at its fixed place.
        auto *panel = w.findChild<FramingPanel *>(QStringLiteral("framingPanel"));
        QTRY_COMPARE_WITH_TIMEOUT(panel->panelLines().value(0), QStringLiteral("✗ 单人 无人脸"), 5000);
        QVERIFY(!w.findChild<QWidget *>(QStringLiteral("Frame6"))->isHidden());
        QCOMPARE(camera.view()->guideState(), CaptureControl::GuideState::Failing);
        QVERIFY(camera.cropRegion().isEmpty());
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
        QVERIFY(w.findChild<QWidget *>(QStringLiteral("Frame6"))->isHidden());
        QCOMPARE(camera.view()->guideState(), CaptureControl::GuideState::Plain);
        h.form.reset();
    }

    void tapFeedsSlowConsumerWithoutHoldingVideo()
    {
        CaptureSettings settings;
        settings.kind = CaptureSource::Kind::TestPicture;
        settings.width = 1280;
        settings.height = 720;
        settings.rate = {30, 1};
        GstCaptureControl camera(settings);
        QVERIFY2(camera.OpenPreview(), qPrintable(camera.lastError()));
        FrameTap *tap = camera.frameTap();
        QVERIFY(tap);
        tap->setInterval(50);
        std::atomic<int> calls{0};
        std::atomic<bool> gone{false}, calledAfter{false};
        QSize seen;
        std::mutex seenLock;
        const int id = tap->subscribe([&](const QImage &frame) {
            if (gone)
                calledAfter = true;
            {
                std::lock_guard lock(seenLock);
                seen = frame.size();
            }
            ++calls;
            // Far slower than the video: a detector on a slow machine.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 1, 5000);
        // The live video goes on at its own rate meanwhile.
        auto *view = camera.view();
        QVERIFY(view);
        QElapsedTimer clock;
        clock.start();
        int painted = 0;
        QImage last;
        while (clock.elapsed() < 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const QImage shown = view->shownImage();
            if (shown.cacheKey() != last.cacheKey()) {
                ++painted;
                last = shown;
            }
        }
        QVERIFY2(painted >= 15, qPrintable(QStringLiteral("%1 frames shown in a second").arg(painted)));
        const int during = calls;
        QVERIFY2(during >= 2 && during <= 5, qPrintable(QString::number(during)));
        tap->unsubscribe(id);
        gone = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        QVERIFY(!calledAfter);
        std::lock_guard lock(seenLock);
        QCOMPARE(seen, QSize(320, 180));
    }
};

QTEST_MAIN(TestFraming)
#include "tst_framing.moc"
