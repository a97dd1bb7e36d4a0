// Finding the person a scanned code names (FindByCode) in the 10-column
// GBK rosters of ScaleRoster.h, 50,000 and 200,000 records, loaded into the
// grid once: the whole table is asked for the key (XH), as the write-back
// asks it, so a code is never taken for someone the grid happens not to show.
#include "QtBenchmarkMain.h"
#include "ScaleRoster.h"

#include "data/CodeLookup.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"

using namespace lumora::engine;

namespace {

void BM_FindByCode(benchmark::State &state)
{
    const QString path = scale_roster::rosterPath(int(state.range(0)));
    DataSource ds;
    ds.databasePath = path;
    ds.connectString = QStringLiteral("dBASE IV");
    ds.fileExtension = QStringLiteral("DBF");
    ds.tableName = QStringLiteral("[%1]").arg(QFileInfo(path).completeBaseName());
    ds.keyColumns = {1};
    ds.keyCount = 1;
    RosterModel grid;
    {
        const auto db = Database::open(path, ds.connectString);
        for (const FieldInfo &f : db->fields(ds.tableName))
            ds.fieldTypes << f.daoType;
        LoadTable(*db, ds.tableName, QString(), grid);
    }
    // The last person: a scan cannot stop early.
    const QString code = grid.cellText(grid.rows() - 2, 1);
    CodeMatch match;
    for (auto _ : state)
        match = FindByCode(ds, grid, code);
    if (!match.found() || match.row != grid.rows() - 2)
        state.SkipWithError("the person was not found");
    state.counters["records"] = double(grid.rows() - 2);
}

BENCHMARK(BM_FindByCode)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
