// Sources beyond the webcam, on the real pipeline: a picture or a video file
// as the camera, and the folder a real camera's tether program saves into.

#include "CameraPictures.h"
#include "capture/CaptureFactory.h"
#include "capture/CaptureSettingsStore.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstFramePipeline.h"
#include "capture/GstHandle.h"
#include "capture/GstRuntime.h"
#include "capture/TetherFolder.h"
#include "capture/VideoSettingsDialog.h"

#include <QComboBox>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gst/gst.h>
#include <stdio.h>

namespace {

CaptureSettings fileSource(const QString &path)
{
    QString why;
    const std::optional<CaptureSettings> s = captureSettingsForPath(path, &why);
    if (!s)
        qFatal("%s", qPrintable(why));
    return *s;
}

// Writes a short video file with GStreamer's own encoder and muxer.
bool writeVideo(const QString &path, int frames, QString *why)
{
    if (!ensureGstInitialised(why))
        return false;
    const QString line =
        QStringLiteral("videotestsrc num-buffers=%1 pattern=ball ! "
                       "video/x-raw,width=320,height=240,framerate=30/1 ! jpegenc ! avimux ! "
                       "filesink location=\"%2\"")
            .arg(frames)
            .arg(path);
    GError *err = nullptr;
    GstHandle<GstElement> pipeline(gst_parse_launch(line.toUtf8().constData(), &err));
    if (err) {
        *why = QString::fromUtf8(err->message);
        g_error_free(err);
        return false;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstHandle<GstBus> bus(gst_element_get_bus(pipeline.get()));
    GstMessageHandle done(gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!done || GST_MESSAGE_TYPE(done.get()) != GST_MESSAGE_EOS) {
        *why = QStringLiteral("the video was not written");
        return false;
    }
    return true;
}

// Drives "视频设置" without exec().
class ScriptedCapture : public GstCaptureControl
{
public:
    using GstCaptureControl::GstCaptureControl;
    std::function<int(QDialog &)> script;

protected:
    int runDialog(QDialog &dialog) override { return script ? script(dialog) : QDialog::Rejected; }
};

} // namespace

class TestCameraFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void pictureFileIsSteadyVideo_data();
    void pictureFileIsSteadyVideo();
    void videoFileLoops();
    void tetherFolderTakesOnlyCompleteNewPictures();
    void videoSettingsKeepTheFolder();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir m_dir;
};

void TestCameraFile::pictureFileIsSteadyVideo_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("upright");

    const QString png = m_dir.filePath(QStringLiteral("picture.png"));
    QVERIFY(sidewaysPicture().save(png));
    const QString jpeg = m_dir.filePath(QStringLiteral("sideways.jpg"));
    QString why;
    QVERIFY2(writeRotatedJpeg(jpeg, 6, &why), qPrintable(why));
    const QString placeholder = qEnvironmentVariable("LUMORA_RESOURCES") + QStringLiteral("/default.bmp");
    QTest::newRow("png") << png << QSize(300, 200);
    QTest::newRow("jpeg turned by its EXIF orientation") << jpeg << QSize(200, 300);
    QTest::newRow("the program's placeholder bitmap") << placeholder << QImageReader(placeholder).size();
}

// lumora --camera picture.jpg: the picture is shown as live video (frames
// keep coming), and the still taken is the picture itself, upright.
void TestCameraFile::pictureFileIsSteadyVideo()
{
    QFETCH(QString, path);
    QFETCH(QSize, upright);
    GstCaptureControl control(fileSource(path));
    auto *pipeline = control.findChild<GstFramePipeline *>();
    QVERIFY(pipeline);
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    QVERIFY(pipeline->waitForFrame(3, 5000));
    QVERIFY(control.isPreviewRunning());
    QTRY_VERIFY(!control.view()->shownImage().isNull());

    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage expected = reader.read().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(expected.size(), upright);
    QCOMPARE(control.still().size(), upright);
    QVERIFY(control.still() == expected);
    if (upright == QSize(200, 300)) {
        // Upright: the red third is at the top, whatever reader turned it.
        QVERIFY(reddish(control.still().pixel(100, 20)));
        QVERIFY(bluish(control.still().pixel(100, 280)));
    }
    const QString saved = m_dir.filePath(QStringLiteral("saved.jpg"));
    QVERIFY2(control.SaveStill(saved), qPrintable(control.lastError()));
    QCOMPARE(QImageReader(saved).size(), QSize(150, 200));
    QVERIFY(control.ClosePreview());
}

// A video file plays at its own pace and starts again at its end.
void TestCameraFile::videoFileLoops()
{
    const QString path = m_dir.filePath(QStringLiteral("clip.avi"));
    QString why;
    QVERIFY2(writeVideo(path, 8, &why), qPrintable(why));
    GstCaptureControl control(fileSource(path));
    auto *pipeline = control.findChild<GstFramePipeline *>();
    QSignalSpy failed(&control, &CaptureControl::previewFailed);
    QVERIFY2(control.OpenPreview(), qPrintable(control.lastError()));
    // Three times the file's frames: it came round twice.
    QTRY_VERIFY_WITH_TIMEOUT(pipeline->framesDelivered() >= 24 || !failed.isEmpty(), 10000);
    QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
    QVERIFY(control.isPreviewRunning());
    QVERIFY2(control.GrabStill(), qPrintable(control.lastError()));
    QCOMPARE(control.still().size(), QSize(320, 240));
    QVERIFY(control.ClosePreview());
}

// What was there before is not taken; a picture is handed on only once it
// is whole, upright, and again when written anew under the same name; a
// file that never becomes one is skipped with a reason.
void TestCameraFile::tetherFolderTakesOnlyCompleteNewPictures()
{
    QTemporaryDir folder;
    QString why;
    const QString old = folder.filePath(QStringLiteral("old.jpg"));
    QVERIFY2(writeRotatedJpeg(old, 6, &why), qPrintable(why));
    TetherFolder tether;
    tether.setGiveUpAfterMs(1500);
    QSignalSpy arrived(&tether, &TetherFolder::pictureArrived);
    QSignalSpy skipped(&tether, &TetherFolder::pictureSkipped);
    QVERIFY2(tether.start(folder.path(), &why), qPrintable(why));

    QFile source(old);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray jpeg = source.readAll();
    auto put = [&](const QString &name, const QByteArray &bytes) {
        QFile f(folder.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    // Half a picture whose writer stopped; a sync program's hidden copy.
    QVERIFY(put(QStringLiteral("half.jpg"), jpeg.left(jpeg.size() / 2)));
    QVERIFY(put(QStringLiteral(".new.jpg"), jpeg));
    QVERIFY(put(QStringLiteral("IMG_0002.CR2"), jpeg.left(4096)));
    QVERIFY(put(QStringLiteral("IMG_0003.HEIC"), jpeg.left(4096)));
    QVERIFY(put(QStringLiteral("new.jpg"), jpeg));

    QTRY_COMPARE(arrived.count(), 1);
    QCOMPARE(arrived.at(0).at(1).toString(), folder.filePath(QStringLiteral("new.jpg")));
    const QImage picture = arrived.at(0).at(0).value<QImage>();
    QCOMPARE(picture.size(), QSize(200, 300));
    QVERIFY(reddish(picture.pixel(100, 20)));
    // The phone's picture at once, the half one when its time is up; the
    // camera's raw file beside its JPEG without a word.
    QTRY_COMPARE_WITH_TIMEOUT(skipped.count(), 2, 5000);
    for (int i = 0; i < 2; ++i) {
        const QString name = i == 0 ? QStringLiteral("IMG_0003.HEIC") : QStringLiteral("half.jpg");
        QCOMPARE(skipped.at(i).at(0).toString(), folder.filePath(name));
        QVERIFY2(skipped.at(i).at(1).toString().contains(name), qPrintable(skipped.at(i).at(1).toString()));
    }
    // A tether program that saves every shot under one name, renaming it over.
    QImage green(320, 240, QImage::Format_RGB32);
    green.fill(Qt::green);
    QVERIFY(green.save(folder.filePath(QStringLiteral("next.tmp")), "JPEG"));
    QVERIFY(::rename(QFile::encodeName(folder.filePath(QStringLiteral("next.tmp"))).constData(),
                     QFile::encodeName(folder.filePath(QStringLiteral("new.jpg"))).constData()) == 0);
    QTRY_COMPARE(arrived.count(), 2);
    QCOMPARE(arrived.at(1).at(0).value<QImage>().size(), QSize(320, 240));
    // The folder's poll comes round once more: nothing else is handed on.
    QTest::qWait(1300);
    QCOMPARE(arrived.count(), 2);
    QCOMPARE(skipped.count(), 2);
}

// "联机拍摄文件夹" in 视频设置: accepted only with a folder that exists, and
// kept for the next run.
void TestCameraFile::videoSettingsKeepTheFolder()
{
    QTemporaryDir folder;
    ScriptedCapture control;
    control.rememberSettings();
    bool okWithoutFolder = true;
    control.script = [&](QDialog &dialog) {
        auto &video = static_cast<VideoSettingsDialog &>(dialog);
        QComboBox *devices = video.deviceBox();
        devices->setCurrentIndex(devices->findText(VideoSettingsDialog::folderSourceName()));
        video.folderEdit()->setText(folder.filePath(QStringLiteral("missing")));
        okWithoutFolder = video.okButton()->isEnabled();
        video.folderEdit()->setText(folder.path());
        return video.okButton()->isEnabled() ? int(QDialog::Accepted) : int(QDialog::Rejected);
    };
    QVERIFY2(control.ShowVideoSettings(), qPrintable(control.lastError()));
    QVERIFY(!okWithoutFolder);
    QCOMPARE(control.captureSettings().kind, CaptureSource::Kind::Folder);

    const std::optional<CaptureSettings> kept = CaptureSettingsStore::load();
    QVERIFY(kept);
    QCOMPARE(kept->kind, CaptureSource::Kind::Folder);
    QCOMPARE(kept->path, folder.path());
    auto next = createCaptureControl();
    auto *gst = static_cast<GstCaptureControl *>(next.get());
    QCOMPARE(gst->captureSettings(), control.captureSettings());
    // The next run opens the folder: it waits for the camera's first picture.
    QVERIFY2(next->OpenPreview(), qPrintable(next->lastError()));
    QCOMPARE(gst->view()->note(), GstCaptureControl::waitingNote());
    QVERIFY(!next->GrabStill());
}

void TestCameraFile::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("help lists the option") << QStringList{"--help"} << 0 << "--camera <PATH>";
    const QString missing = m_dir.filePath(QStringLiteral("no such picture.jpg"));
    QTest::newRow("a path that is not there") << QStringList{"--camera", missing} << 2 << missing;
}

// The program itself, before any window: --help, and a --camera that names nothing.
void TestCameraFile::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QProcess lumora;
    lumora.setProcessChannelMode(QProcess::MergedChannels);
    lumora.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lumora"), arguments);
    const bool finished = lumora.waitForFinished(30000);
    if (!finished) {
        lumora.kill();
        lumora.waitForFinished();
    }
    QVERIFY(finished);
    const QString output = QString::fromUtf8(lumora.readAll());
    QCOMPARE(lumora.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lumora.exitCode(), exitCode);
    QVERIFY2(output.contains(says), qPrintable(output));
}

QTEST_MAIN(TestCameraFile)
#include "tst_camerafile.moc"
