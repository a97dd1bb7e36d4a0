// Time from constructing the main window to the window shown: on the
// recording camera double (no camera, no GStreamer start), and on the
// program's own camera component as main() builds it, whose counter
// gst_started says whether GStreamer was set up before the window showed
// (it must not be: that waits for the first open, or runs in the
// background once the window is on screen). The whole process, from its
// start to its window mapped, beside a bare Qt window:
// scripts/measure-preview.py --only startup.
#include "WindowHarness.h"

#include "QtBenchmarkMain.h"
#include "capture/CaptureFactory.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <gst/gst.h>

static void BM_StartUpToShown(benchmark::State &state)
{
    clearStore();
    WindowHarness h;
    std::unique_ptr<CaptureControl> camera = state.range(0) ? createCaptureControl() : nullptr;
    for (auto _ : state) {
        h.build(camera.get()).show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(h.form->isVisible());
        state.PauseTiming();
        state.counters["gst_started"] = gst_is_initialized() ? 1 : 0;
        h.form.reset();
        state.ResumeTiming();
    }
}
// Argument 1: the program's camera component instead of the double.
BENCHMARK(BM_StartUpToShown)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

LUMORA_QT_BENCHMARK_MAIN()
