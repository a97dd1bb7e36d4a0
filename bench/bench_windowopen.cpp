// The whole open of a roster through the main window, as the operator does
// it: 打开表, the dBase kind, the file, its table, the key field, 打开, until
// the grid shows every record (the table loaded, the pickers filled, the
// photo day and the roster check done). The rosters are the 10-column GBK
// ones of ScaleRoster.h; time is the open alone, the window being built
// before. Counters: file_MB, added_MB (the peak memory the open added) and
// added_per_file.
#include "QtBenchmarkMain.h"
#include "ScaleRoster.h"
#include "WindowHarness.h"

#include "app/Form1.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"

#include <QFileInfo>

namespace {

void BM_OpenThroughWindow(benchmark::State &state)
{
    const int rows = int(state.range(0));
    const QString path = scale_roster::rosterPath(rows);
    qint64 added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clearStore();
        auto h = std::make_unique<WindowHarness>();
        h->build();
        h->form->show();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        bool opened = false;
        const peak_memory::Peak peak = peak_memory::measure([&] {
            opened = h->openTable(path, {0});
            QCoreApplication::processEvents(); // the grid lays out what it shows
        });
        state.PauseTiming();
        added = std::max(added, peak.addedKb);
        if (!opened || h->form->grid()->roster()->rows() != rows + 2)
            state.SkipWithError("the roster did not reach the grid");
        h.reset();
        state.ResumeTiming();
    }
    const double fileMb = double(QFileInfo(path).size()) / (1024 * 1024);
    state.counters["file_MB"] = fileMb;
    state.counters["added_MB"] = double(added) / 1024;
    state.counters["added_per_file"] = double(added) / 1024 / fileMb;
}

BENCHMARK(BM_OpenThroughWindow)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
