// Time and memory of loading the grid (LoadTable into a RosterModel) from the
// 10-column GBK rosters of 50,000, 200,000 and 1,000,000 records: the
// loading query and every cell the grid then holds. The counters are those
// of ScaleRoster.h; held_per_file is what the loaded grid keeps, against the
// file's size.
#include "QtBenchmarkMain.h"
#include "ScaleRoster.h"

#include "data/RosterModel.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"

using namespace lumora::engine;
using scale_roster::measure;
using scale_roster::statusKb;

namespace {

void BM_GridLoad(benchmark::State &state)
{
    qint64 held = 0;
    qsizetype records = 0;
    measure(state, [&](const QString &path) {
        const qint64 before = statusKb("VmRSS:");
        RosterModel grid;
        {
            const auto db = Database::open(path, QStringLiteral("dBASE IV"));
            records = LoadTable(*db, QStringLiteral("[%1]").arg(QFileInfo(path).completeBaseName()),
                                QString(), grid)
                          .records;
        }
        malloc_trim(0);
        held = std::max(held, statusKb("VmRSS:") - before);
        benchmark::DoNotOptimize(grid.rows());
    });
    state.counters["held_per_file"] = double(held) / 1024 / state.counters["file_MB"];
    state.counters["records"] = double(records);
}

BENCHMARK(BM_GridLoad)->Arg(50000)->Arg(200000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
