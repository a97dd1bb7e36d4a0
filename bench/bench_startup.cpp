// Time from constructing the main window to the window shown, on the
// recording camera double (no camera, no GStreamer start).
#include "WindowHarness.h"

#include "QtBenchmarkMain.h"
#include <QApplication>
#include <benchmark/benchmark.h>

static void BM_StartUpToShown(benchmark::State &state)
{
    clearStore();
    WindowHarness h;
    for (auto _ : state) {
        h.build().show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(h.form->isVisible());
        state.PauseTiming();
        h.form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartUpToShown)->Unit(benchmark::kMillisecond);

LUMORA_QT_BENCHMARK_MAIN()
