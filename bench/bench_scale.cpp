// Time and memory of the grid's loading query, a select distinct and an
// update by key on 10-column GBK rosters of 50,000, 200,000 and 1,000,000
// records (see ScaleRoster.h for the counters).
#include "ScaleRoster.h"

#include "data/engine/Database.h"

#include <QCoreApplication>

using namespace lumora::engine;
using scale_roster::measure;

namespace {

// The grid's loading query (TableLoader's RowQuery) over all ten fields.
void BM_GridQuery(benchmark::State &state)
{
    measure(state, [](const QString &path) {
        const auto db = Database::open(path, QStringLiteral("dBASE IV"));
        const Recordset rs = db->openRecordset(
            QStringLiteral(
                "select XH & Chr(9) & XM & Chr(9) & BJ & Chr(9) & XB & Chr(9) & CJ & Chr(9) & SR & "
                "Chr(9) & DZ & Chr(9) & DH & Chr(9) & TY & Chr(9) & ZP as Item  from [%1]")
                .arg(QFileInfo(path).completeBaseName()));
        benchmark::DoNotOptimize(rs.size());
    });
}

void BM_SelectDistinct(benchmark::State &state)
{
    measure(state, [](const QString &path) {
        const auto db = Database::open(path, QStringLiteral("dBASE IV"));
        const Recordset rs = db->openRecordset(
            QStringLiteral("select distinct BJ from [%1]").arg(QFileInfo(path).completeBaseName()));
        benchmark::DoNotOptimize(rs.size());
    });
}

void BM_UpdateByKey(benchmark::State &state)
{
    int i = 0;
    measure(state, [&i, rows = state.range(0)](const QString &path) {
        const auto db = Database::open(path, QStringLiteral("dBASE IV"));
        const qsizetype n = db->execute(QStringLiteral("update [%1] set ZP='照片/%2.jpg' where XH='%3'")
                                            .arg(QFileInfo(path).completeBaseName())
                                            .arg(++i)
                                            .arg(2024000000 + rows / 2));
        benchmark::DoNotOptimize(n);
    });
}

BENCHMARK(BM_GridQuery)->Arg(50000)->Arg(200000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SelectDistinct)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_UpdateByKey)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
