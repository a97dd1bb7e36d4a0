// Face framing: finding the faces and their eyes in a 640 x 480 frame (the
// target is 15 ms on one core; the finder looks at it 480 pixels wide) and
// in a 320-pixel frame as the live tap hands them over,
// on a plain and a busy wall; the whole assessment of a still (faces, eyes,
// the seven checks); and the tap's one conversion of a 1280 x 720 frame to
// 320 pixels wide.

#include "FaceScenes.h"
#include "capture/GstCaptureControl.h"
#include "capture/GstFramePipeline.h"
#include "framing/FaceFinder.h"
#include "framing/Framing.h"

#include "QtBenchmarkMain.h"
#include <benchmark/benchmark.h>

using namespace FaceScenes;

namespace {

const FaceFinder &finder()
{
    static const FaceFinder f;
    return f;
}

QImage scene(QSize size, Background wall)
{
    if (qEnvironmentVariableIsEmpty("LUMORA_TEST_DATA"))
        qputenv("LUMORA_TEST_DATA", LUMORA_SOURCE_DIR "/tests/data");
    const double scale = size.width() / 640.0;
    return paste(background(size, wall), scale, size.width() / 2.0, 60 * scale).picture;
}

void BM_FindFaces(benchmark::State &state)
{
    const QImage frame =
        scene(QSize(int(state.range(0)), int(state.range(0)) * 3 / 4), Background(state.range(1)));
    if (!finder().isReady()) {
        state.SkipWithError(finder().error().toUtf8().constData());
        return;
    }
    qsizetype found = 0;
    for (auto _ : state)
        found = finder().find(frame).size();
    state.counters["faces"] = double(found);
}
// width, wall (0 plain, 1 busy)
BENCHMARK(BM_FindFaces)
    ->Args({640, 0})
    ->Args({640, 1})
    ->Args({320, 0})
    ->Args({320, 1})
    ->Unit(benchmark::kMillisecond);

void BM_AssessStill(benchmark::State &state)
{
    const QImage still = scene(QSize(1280, 960), Background::Plain);
    for (auto _ : state) {
        const FramingReport report =
            assessFraming(still, finder().find(still), idRule(1).pixels, idRule(1), true);
        benchmark::DoNotOptimize(report.checks.size());
    }
}
BENCHMARK(BM_AssessStill)->Unit(benchmark::kMillisecond);

void BM_TapSample(benchmark::State &state)
{
    GstFramePipeline pipeline;
    CaptureSettings settings;
    settings.kind = CaptureSource::Kind::TestPicture;
    settings.width = 1280;
    settings.height = 720;
    QString why;
    if (!pipeline.start(settings, &why) || !pipeline.waitForFrame(0, 3000)) {
        state.SkipWithError(why.toUtf8().constData());
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(pipeline.sampledFrame(320).width());
    pipeline.stop();
}
BENCHMARK(BM_TapSample)->Unit(benchmark::kMillisecond);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
