// Taking a photo: GrabStill + SaveStill of a 1280 x 720 frame, through the
// live test-picture pipeline, and the save path alone (crop, scale, encode,
// rename) on a given frame, with and without a caption; one paint of the
// video window, with and without the caption over it; and the live video
// itself: frames handed over and painted each second, and the process's CPU
// for each.

#include "capture/CaptionPainter.h"
#include "capture/FrameShading.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstFramePipeline.h"
#include "capture/StillWriter.h"
#include "capture/VideoView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include "QtBenchmarkMain.h"
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

// A frame with what a camera picture has and flat bars lack: gradients,
// shapes and fine noise, which is what makes JPEG encoding work.
QImage cameraLikeFrame()
{
    QImage image(1280, 720, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 1280, 720);
    g.setColorAt(0, QColor(70, 90, 140));
    g.setColorAt(1, QColor(210, 190, 160));
    p.fillRect(image.rect(), g);
    p.setBrush(QColor(230, 200, 180));
    p.drawEllipse(QPoint(640, 330), 170, 220);
    p.end();
    QRandomGenerator rng(42);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(rng.bounded(17)) - 8;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255),
                           qBound(0, qBlue(c) + n, 255));
        }
    }
    return image;
}

void BM_SaveStill_Frame(benchmark::State &state)
{
    const QImage frame = cameraLikeFrame();
    const QSize crop(int(state.range(0)), int(state.range(1)));
    const QString path = folder().filePath(QStringLiteral("frame.jpg"));
    QString error;
    for (auto _ : state) {
        if (!StillWriter::write(frame, crop, StillWriter::Format::Jpeg, path, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            break;
        }
    }
}
BENCHMARK(BM_SaveStill_Frame)->Args({150, 200})->Args({600, 800})->Unit(benchmark::kMillisecond);

const Caption &benchCaption()
{
    static const Caption caption{QStringLiteral("初三（二）班 2013A7 张三"), {10, 165}, 9, Qt::white, {}};
    return caption;
}

void BM_SaveStill_Captioned(benchmark::State &state)
{
    const QImage frame = cameraLikeFrame();
    const QSize crop(int(state.range(0)), int(state.range(1)));
    const QString path = folder().filePath(QStringLiteral("captioned.jpg"));
    QString error;
    for (auto _ : state) {
        if (!StillWriter::write(frame, crop, StillWriter::Format::Jpeg, path, &error, benchCaption())) {
            state.SkipWithError(error.toUtf8().constData());
            break;
        }
    }
}
BENCHMARK(BM_SaveStill_Captioned)->Args({150, 200})->Args({600, 800})->Unit(benchmark::kMillisecond);

// One paint of the 449 x 345 video window showing a 1280 x 720 camera
// frame: argument 0 with the caption over it, argument 1 with the frame as
// the pipeline hands it over (scaled to the size it is painted at) rather
// than at the camera's size.
void BM_VideoView_Paint(benchmark::State &state)
{
    VideoView view;
    view.resize(449, 345);
    const QImage frame = cameraLikeFrame();
    if (state.range(1))
        view.setLiveFrame(frame.scaled(frame.size().scaled(view.size(), Qt::KeepAspectRatio)), frame.size());
    else
        view.setLiveFrame(frame);
    view.setCropSize({150, 200});
    if (state.range(0))
        view.setCaption(benchCaption());
    QImage target(view.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_VideoView_Paint)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);

// What the pipeline does to each live frame when it draws the video in a
// window of its own, at the 449 x 337 the 449 x 345 window shows of a 4:3
// camera: argument 0 the dimming outside the guide alone, 1 with the guide's
// border and a caption drawn in.
void BM_ShadeFrame(benchmark::State &state)
{
    const QSize size(449, 337);
    QImage frame = cameraLikeFrame().scaled(size);
    VideoView view;
    view.resize(449, 345);
    view.setCropSize({150, 200});
    view.setCaption(benchCaption());
    QImage overlay;
    QRegion parts;
    QObject::connect(&view, &VideoView::directOverlayChanged, [&](const QImage &o, const QRegion &p) {
        overlay = o;
        parts = p;
    });
    view.directSurface();
    view.setDirectLive(QSize(640, 480));
    const OverlayRuns runs = state.range(0) ? OverlayRuns(overlay, parts) : OverlayRuns();
    const QRect keep(112, 0, 225, 337);
    for (auto _ : state) {
        shadeFrame(frame.bits(), frame.bytesPerLine(), size, keep, runs);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_ShadeFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// One second of live video from the test picture at the camera's size
// (argument: 640 x 480 or 1280 x 720, 30 frames a second) into the shown
// 449 x 345 video window. Counters: frames handed over and paints each
// second (30 and 30 when none is dropped) and the whole process's CPU time
// for each frame (making it, scaling it, handing it over and painting it).
void BM_PreviewLive(benchmark::State &state)
{
    const QSize source = state.range(0) == 720 ? QSize(1280, 720) : QSize(640, 480);
    CaptureSettings settings;
    settings.kind = CaptureSource::Kind::TestPicture;
    settings.width = source.width();
    settings.height = source.height();
    settings.rate = FrameRate{30, 1};
    GstCaptureControl control(settings);
    PaintCounter counter;
    control.videoWidget()->installEventFilter(&counter);
    control.videoWidget()->show();
    auto *frames = control.findChild<GstFramePipeline *>();
    if (!control.OpenPreview() || !frames || !frames->waitForFrame(0, 5000)) {
        state.SkipWithError("the test picture did not start");
        return;
    }
    // The first frames come before the scaling caps settle.
    const auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(500);
    const quint64 firstFrame = frames->framesDelivered();
    const int firstPaint = counter.paints;
    const double firstCpu = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state)
        runFor(1000);
    const double seconds = clock.elapsed() / 1000.0;
    const double delivered = double(frames->framesDelivered() - firstFrame);
    state.counters["frames_per_s"] = delivered / seconds;
    state.counters["paints_per_s"] = (counter.paints - firstPaint) / seconds;
    state.counters["cpu_us_per_frame"] = delivered ? (processCpuSeconds() - firstCpu) * 1e6 / delivered : 0;
    control.ClosePreview();
}
BENCHMARK(BM_PreviewLive)->Arg(480)->Arg(720)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GrabAndSave_Live(benchmark::State &state)
{
    CaptureSettings settings;
    settings.kind = CaptureSource::Kind::TestPicture;
    settings.width = 1280;
    settings.height = 720;
    settings.rate = FrameRate{30, 1};
    settings.pattern = 1; // snow: noise is the hardest case for the encoder
    GstCaptureControl control(settings);
    control.SetCropWidth(int(state.range(0)));
    control.SetCropHeight(int(state.range(1)));
    if (!control.OpenPreview()) {
        state.SkipWithError(control.lastError().toUtf8().constData());
        return;
    }
    const QString path = folder().filePath(QStringLiteral("live.jpg"));
    for (auto _ : state) {
        if (!control.GrabStill() || !control.SaveStill(path)) {
            state.SkipWithError(control.lastError().toUtf8().constData());
            break;
        }
        control.ResumePreview();
    }
    control.ClosePreview();
}
BENCHMARK(BM_GrabAndSave_Live)->Args({150, 200})->Args({600, 800})->Unit(benchmark::kMillisecond);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
