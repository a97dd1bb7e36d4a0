#include "capture/GstCaptureControl.h"

#include "capture/CameraDeviceList.h"
#include "capture/CaptureSettingsStore.h"
#include "capture/CropGeometry.h"
#include "capture/FrameTap.h"
#include "capture/GstFramePipeline.h"
#include "capture/GstRuntime.h"
#include "capture/PictureSettingsDialog.h"
#include "capture/StillWriter.h"
#include "capture/TestPatternControls.h"
#include "capture/TetherFolder.h"
#include "capture/V4l2Controls.h"
#include "capture/VideoSettingsDialog.h"
#include "capture/VideoView.h"

#include <QDialog>

#include <QFileInfo>
#include <QGuiApplication>
#include <QThreadPool>
#include <algorithm>

namespace {
const QString ClosedNote = QStringLiteral("摄像头未打开");

// On X11 the pipeline draws live frames in a window of its own over the
// picture, at no cost to the GUI thread; elsewhere (Wayland, the offscreen
// platform) the frames are handed to the window to paint.
// LUMORA_LIVE_VIDEO=copy takes the second way on X11 too.
bool drawsLiveVideoDirectly()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           qEnvironmentVariable("LUMORA_LIVE_VIDEO") != QLatin1String("copy");
}
} // namespace

GstCaptureControl::GstCaptureControl(QObject *parent)
    : CaptureControl(parent)
    , m_pipeline(new GstFramePipeline(this))
    , m_tether(new TetherFolder(this))
    , m_tap(std::make_unique<FrameTap>([pipeline = m_pipeline](int width, quint64 *serial) {
        return pipeline->sampledFrame(width, serial);
    }))
    , m_view(new VideoView)
{
    m_view->setFixedSize(m_windowSize);
    m_view->setCropSize(m_crop);
    m_pipeline->setCropSize(m_crop);
    showIdle();
    connect(m_pipeline, &GstFramePipeline::frameReady, this, [this] {
        // A notice queued just before the pipeline stopped must not paint
        // over the note that says why it stopped.
        if (!m_view || !m_pipeline->isRunning())
            return;
        if (m_pipeline->drawsDirectly()) {
            m_view->setDirectLive(m_pipeline->sourceSize());
            return;
        }
        QRect dimmedOutside;
        const QImage frame = m_pipeline->newestFrame(&dimmedOutside);
        if (!frame.isNull())
            m_view->setLiveFrame(frame, m_pipeline->sourceSize(), dimmedOutside);
    });
    // The live picture comes scaled to the window's size, whatever it is.
    m_pipeline->setViewSize(m_view->devicePixelSize());
    connect(m_view, &VideoView::resized, m_pipeline, &GstFramePipeline::setViewSize);
    connect(m_view, &VideoView::directOverlayChanged, m_pipeline, &GstFramePipeline::setOverlay);
    connect(m_view, &VideoView::surfaceExposed, m_pipeline, &GstFramePipeline::expose);
    connect(m_pipeline, &GstFramePipeline::failed, this, &GstCaptureControl::onPipelineFailed);
    connect(m_tether, &TetherFolder::pictureArrived, this, &GstCaptureControl::onTetherPicture);
    connect(m_tether, &TetherFolder::pictureSkipped, this,
            [this](const QString &, const QString &reason) { emit notice(reason); });
    // The tether's picture is fitted to the window here, not in a pipeline.
    connect(m_view, &VideoView::resized, this, [this] {
        if (m_tether->isWatching())
            showTetherPicture();
    });
}

GstCaptureControl::GstCaptureControl(const CaptureSettings &settings, QObject *parent)
    : GstCaptureControl(parent)
{
    setCaptureSettings(settings);
}

GstCaptureControl::~GstCaptureControl()
{
    // The tap's thread and the streaming thread must be gone before anything
    // they reach is freed.
    m_tap.reset();
    m_pipeline->stop();
    delete m_view.data();
}

QWidget *GstCaptureControl::videoWidget()
{
    return m_view;
}

bool GstCaptureControl::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool GstCaptureControl::isPreviewRunning() const
{
    return m_pipeline->isRunning() || m_tether->isWatching();
}

QString GstCaptureControl::waitingNote()
{
    return QStringLiteral("等待相机拍摄：联机程序存入文件夹的新照片会显示在这里");
}

void GstCaptureControl::rememberSettings()
{
    m_remember = true;
    const std::optional<CaptureSettings> kept = CaptureSettingsStore::load();
    // A camera since unplugged (or renumbered) is not insisted on: the
    // first camera found stands in, as before any choice.
    if (kept && (kept->kind != CaptureSource::Kind::Camera || QFileInfo::exists(kept->devicePath)))
        setCaptureSettings(*kept);
}

bool GstCaptureControl::startSource(QString *why)
{
    if (usesFolder()) {
        m_tetherPicture = QImage();
        return m_tether->start(m_settings.path, why);
    }
    m_pipeline->setWindowHandle(m_view && drawsLiveVideoDirectly() ? m_view->directSurface() : 0);
    return m_pipeline->start(m_settings, why);
}

void GstCaptureControl::stopSource()
{
    m_pipeline->stop();
    m_tether->stop();
    m_tetherPicture = QImage();
}

void GstCaptureControl::onTetherPicture(const QImage &picture)
{
    m_tetherPicture = picture.convertToFormat(QImage::Format_RGB32);
    showTetherPicture();
    emit pictureDelivered();
}

void GstCaptureControl::showTetherPicture()
{
    if (!m_view || m_tetherPicture.isNull())
        return;
    // Scaled once per picture, as the pipeline scales a live frame.
    const QSize fitted =
        fitRect(m_tetherPicture.size(), QRect(QPoint(0, 0), m_view->devicePixelSize())).size();
    if (fitted.isEmpty())
        return;
    m_view->setLiveFrame(m_tetherPicture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         m_tetherPicture.size());
}

QImage GstCaptureControl::liveFrame() const
{
    if (!m_pipeline->isRunning() || !m_still.isNull())
        return {};
    if (!m_pipeline->drawsDirectly())
        return m_pipeline->newestFrame();
    // Drawn by the window system, the live frames never reach the program:
    // the newest frame is taken at the camera's size instead, brought down
    // in the same conversion to twice the window's width at most.
    const int source = m_pipeline->sourceSize().width(), shown = m_pipeline->previewSize().width();
    return m_pipeline->sampledFrame(shown > 0 ? std::min(source, 2 * shown) : source);
}

void GstCaptureControl::setCaptureSettings(const CaptureSettings &settings)
{
    m_settings = settings;
    m_automaticSource = false;
}

CaptureSettings GstCaptureControl::defaultSettingsFor(const CaptureSource &source)
{
    CaptureSettings s;
    s.kind = source.kind;
    s.devicePath = source.devicePath;
    s.deviceName = source.name;
    // A size a webcam delivers smoothly, raw if it can; else the device decides.
    const QList<QSize> preferred = source.kind == CaptureSource::Kind::TestPicture
                                       ? QList<QSize>{{640, 480}}
                                       : QList<QSize>{{1280, 720}, {640, 480}};
    for (const QSize &size : preferred) {
        for (const CaptureMode &m : source.modes) {
            if (m.width == size.width() && m.height == size.height() &&
                m.mediaType == QLatin1String("video/x-raw")) {
                s.width = m.width;
                s.height = m.height;
                s.rate = m.rates.value(0);
                return s;
            }
        }
    }
    return s;
}

void GstCaptureControl::chooseSourceIfAutomatic()
{
    if (!m_automaticSource)
        return;
    const int pattern = m_settings.pattern;
    m_settings = defaultSettingsFor(CameraDeviceList::probe().value(0, CameraDeviceList::testPicture()));
    m_settings.pattern = pattern;
}

void GstCaptureControl::showIdle()
{
    if (!m_view)
        return;
    m_view->showNote(ClosedNote);
}

bool GstCaptureControl::OpenPreview()
{
    if (isPreviewRunning()) {
        m_still = QImage();
        if (m_view)
            m_view->clearStill();
        return true;
    }
    QString why;
    // A folder needs no GStreamer.
    if (!usesFolder()) {
        if (!ensureGstInitialised(&why))
            return fail(why);
        chooseSourceIfAutomatic();
    }
    if (!startSource(&why)) {
        if (m_view)
            m_view->showNote(why);
        return fail(why);
    }
    // Live video shows from now on: a still from before is dropped.
    m_still = QImage();
    if (m_view) {
        m_view->clearStill();
        m_view->showNote(usesFolder() ? waitingNote() : QStringLiteral("正在打开摄像头…"));
    }
    m_error.clear();
    return true;
}

bool GstCaptureControl::ClosePreview()
{
    stopSource();
    // A held still stays: it can still be saved with the camera closed.
    showIdle();
    return true;
}

bool GstCaptureControl::GrabStill()
{
    if (usesFolder()) {
        if (!m_tether->isWatching())
            return fail(QStringLiteral("摄像头未打开"));
        if (m_tetherPicture.isNull())
            return fail(QStringLiteral("还没有收到相机拍摄的照片"));
        m_still = m_tetherPicture;
        if (m_view)
            m_view->setStill(m_still);
        return true;
    }
    if (!m_pipeline->isRunning())
        return fail(m_pipeline->lastError().isEmpty() ? QStringLiteral("摄像头未打开")
                                                      : m_pipeline->lastError());
    // Right after OpenPreview the first frame may still be on its way.
    if (m_pipeline->framesDelivered() == 0 && !m_pipeline->waitForFrame(0, FirstFrameTimeoutMs)) {
        if (!m_pipeline->isRunning())
            return fail(m_pipeline->lastError());
        return fail(QStringLiteral("摄像头没有送来画面"));
    }
    // The still keeps the camera's full size: only the live picture is scaled.
    const QImage frame = m_pipeline->stillFrame();
    if (frame.isNull())
        return fail(QStringLiteral("摄像头没有送来画面"));
    m_still = frame;
    if (m_view)
        m_view->setStill(m_still);
    return true;
}

bool GstCaptureControl::ResumePreview()
{
    m_still = QImage();
    if (m_view)
        m_view->clearStill();
    if (!isPreviewRunning())
        return fail(QStringLiteral("摄像头未打开"));
    return true;
}

bool GstCaptureControl::SaveStill(const QString &path)
{
    if (m_still.isNull())
        return fail(QStringLiteral("还没有拍摄照片"));
    QString why;
    if (!StillWriter::write(m_still, m_crop, StillWriter::formatFromText(m_saveFormat), path, &why, m_caption,
                            m_cropRegion, m_dpi))
        return fail(why);
    return true;
}

void GstCaptureControl::SetSaveFormat(const QString &format)
{
    m_saveFormat = format;
}

void GstCaptureControl::SetCropWidth(qint32 width)
{
    m_crop.setWidth(width);
    m_pipeline->setCropSize(m_crop);
    if (m_view)
        m_view->setCropSize(m_crop);
}

void GstCaptureControl::SetCropHeight(qint32 height)
{
    m_crop.setHeight(height);
    m_pipeline->setCropSize(m_crop);
    if (m_view)
        m_view->setCropSize(m_crop);
}

void GstCaptureControl::setCropRegion(QRectF region)
{
    if (region == m_cropRegion)
        return;
    m_cropRegion = region;
    m_pipeline->setCropRegion(region);
    if (m_view)
        m_view->setCropRegion(region);
}

void GstCaptureControl::setGuideState(GuideState state)
{
    if (m_view)
        m_view->setGuideState(state);
}

void GstCaptureControl::SetCaption(const Caption &caption)
{
    m_caption = caption;
    if (m_view)
        m_view->setCaption(caption);
}

void GstCaptureControl::setWindowSize(const QSize &size)
{
    if (size.width() < 1 || size.height() < 1)
        return;
    m_windowSize = size;
    if (m_view) {
        m_view->setFixedSize(size);
        // A hidden window hears of its new size only when shown.
        m_pipeline->setViewSize(m_view->devicePixelSize());
    }
}

void GstCaptureControl::prepareInBackground()
{
    // Loading the plugin registry takes a while; the first open then finds
    // it done (or waits for it: the initialisation runs once, whoever asks).
    // The global pool waits for the task when the program ends.
    QThreadPool::globalInstance()->start([] { ensureGstInitialised(); });
}

int GstCaptureControl::runDialog(QDialog &dialog)
{
    return dialog.exec();
}

bool GstCaptureControl::ShowVideoSettings()
{
    QString why;
    if (!ensureGstInitialised(&why))
        return fail(why);
    CameraDeviceList devices;
    devices.start();
    if (m_automaticSource) {
        const int pattern = m_settings.pattern;
        m_settings = defaultSettingsFor(devices.sources().value(0, CameraDeviceList::testPicture()));
        m_settings.pattern = pattern;
    }
    VideoSettingsDialog dialog(&devices, m_settings, m_view);
    if (runDialog(dialog) != QDialog::Accepted)
        return true;
    const CaptureSettings chosen = dialog.selectedSettings();
    const bool changed = chosen != m_settings;
    const bool running = isPreviewRunning();
    setCaptureSettings(chosen);
    if (m_remember && !CaptureSettingsStore::store(chosen))
        emit notice(QStringLiteral("视频设置无法保存到设置文件"));
    // A running preview switches at once, so the operator sees the choice.
    if (changed && running) {
        stopSource();
        if (!startSource(&why)) {
            onPipelineFailed(why);
            return fail(why);
        }
        if (usesFolder() && m_view)
            m_view->showNote(waitingNote());
    }
    return true;
}

bool GstCaptureControl::ShowPictureSettings()
{
    QString why;
    if (!ensureGstInitialised(&why))
        return fail(why);
    if (!m_pipeline->isRunning())
        chooseSourceIfAutomatic();
    if (m_settings.kind == CaptureSource::Kind::Folder || m_settings.kind == CaptureSource::Kind::File)
        return fail(QStringLiteral("这个视频来源没有可调的图片设置"));
    if (m_settings.kind == CaptureSource::Kind::TestPicture) {
        TestPatternControls controls(m_settings.pattern, [this](int pattern) {
            m_settings.pattern = pattern;
            m_pipeline->setPattern(pattern);
        });
        PictureSettingsDialog dialog(&controls, m_view);
        runDialog(dialog);
        return true;
    }
    V4l2Controls controls;
    if (!controls.open(m_settings.devicePath))
        return fail(controls.lastError());
    PictureSettingsDialog dialog(&controls, m_view);
    runDialog(dialog);
    return true;
}

void GstCaptureControl::onPipelineFailed(const QString &reason)
{
    m_error = reason;
    if (m_view)
        m_view->showNote(reason);
    emit previewFailed(reason);
}
