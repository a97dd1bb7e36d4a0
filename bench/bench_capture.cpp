// Taking a photo: GrabStill + SaveStill of a 1280 x 720 frame, through the
// live test-picture pipeline, and the save path alone (crop, scale, encode,
// rename) on a given frame, with and without a caption; and one paint of the
// video window, with and without the caption over it.

#include "capture/CaptionPainter.h"
#include "capture/GstCaptureControl.h"
#include "capture/StillWriter.h"

#include <QApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "QtBenchmarkMain.h"
#include <benchmark/benchmark.h>

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

// One paint of the 449 x 345 video window showing a 1280 x 720 frame;
// argument 1 with the caption over it.
void BM_VideoView_Paint(benchmark::State &state)
{
    VideoView view;
    view.resize(449, 345);
    view.setLiveFrame(cameraLikeFrame());
    view.setCropSize({150, 200});
    if (state.range(0))
        view.setCaption(benchCaption());
    QImage target(view.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_VideoView_Paint)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

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
