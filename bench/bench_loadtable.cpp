// Loading a 50,000-row, 10-column GBK dBase roster into the grid, reloading
// it after an update, and one write-back with the filtered reload. Each
// benchmark reports the resident memory it added (rss_added_mb). A sparse
// workbook (four cells at A1, IV1, A65536 and IV65536) loaded into a grid
// on screen reports the load's peak (peak_MB for the whole process,
// added_MB for the load).

#include "DbfMaker.h"
#include "PeakMemory.h"
#include "SparseWorkbook.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/RowFilter.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/WriteBack.h"
#include "data/engine/Database.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kRows = 50000;

double residentMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Roster
{
    QTemporaryDir dir;
    DataSource ds;

    Roster()
    {
        DbfMaker t({{"XH", 'C', 10},
                    {"XM", 'C', 20},
                    {"BJ", 'C', 12},
                    {"XB", 'C', 2},
                    {"CJ", 'N', 5, 1},
                    {"SR", 'D', 8},
                    {"DH", 'C', 11},
                    {"DZ", 'C', 40},
                    {"BZ", 'C', 20},
                    {"ZP", 'C', 20}});
        static const QStringList surnames = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄", "周", "吴"};
        static const QStringList given = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "洋", "艳"};
        for (int i = 0; i < kRows; ++i) {
            t.add(QStringList{QString::number(2024000000 + i),
                              surnames[i % 10] + given[(i / 10) % 10] + given[(i / 7) % 10],
                              QStringLiteral("高一(%1)班").arg(i % 20 + 1), i % 2 ? "男" : "女",
                              QString::number((i % 1000) / 10.0),
                              QStringLiteral("2009-%1-%2")
                                  .arg(i % 12 + 1, 2, 10, QChar('0'))
                                  .arg(i % 28 + 1, 2, 10, QChar('0')),
                              QStringLiteral("138%1").arg(i, 8, 10, QChar('0')),
                              QStringLiteral("北京市海淀区学院路%1号").arg(i), QString(), QString()});
        }
        const QString path = dir.filePath(QStringLiteral("roster.dbf"));
        t.write(path);
        ds.databasePath = path;
        ds.connectString = QStringLiteral("dBASE IV");
        ds.tableName = QStringLiteral("[roster]");
        ds.fieldTypes = {10, 10, 10, 10, 7, 8, 10, 10, 10, 10};
        ds.keyColumns = {1};
        ds.keyCount = 1;
    }
};

Roster &roster()
{
    static Roster r;
    return r;
}

void BM_OpenAndLoad(benchmark::State &state)
{
    Roster &r = roster();
    RosterModel grid;
    const double before = residentMb();
    for (auto _ : state) {
        auto db = OpenDatabase(r.ds);
        const TableLoad load = LoadTable(*db, r.ds.tableName, QString(), grid);
        benchmark::DoNotOptimize(load.records);
    }
    state.counters["rss_added_mb"] = residentMb() - before;
    state.counters["rows"] = grid.rows() - 2;
}

// The engine's share of a load: the row query alone, no grid.
void BM_RowQueryOnly(benchmark::State &state)
{
    Roster &r = roster();
    const QString statement =
        RowQuery({"XH", "XM", "BJ", "XB", "CJ", "SR", "DH", "DZ", "BZ", "ZP"}, r.ds.tableName, QString());
    for (auto _ : state) {
        auto db = OpenDatabase(r.ds);
        benchmark::DoNotOptimize(db->openRecordset(statement).size());
    }
}

void BM_ReloadAfterUpdate(benchmark::State &state)
{
    Roster &r = roster();
    RosterModel grid;
    LoadTable(*OpenDatabase(r.ds), r.ds.tableName, QString(), grid);
    const double before = residentMb();
    int i = 0;
    for (auto _ : state) {
        auto db = OpenDatabase(r.ds);
        db->execute(QStringLiteral("update [roster] set BZ='r%1' where XH='2024000100'").arg(i++));
        LoadTable(*db, r.ds.tableName, QString(), grid);
    }
    state.counters["rss_added_mb"] = residentMb() - before;
}

void BM_WriteBackAndFilteredReload(benchmark::State &state)
{
    Roster &r = roster();
    DataSource ds = r.ds;
    RosterModel grid;
    ApplyFilter(ds, grid, 3, QStringLiteral("BJ"), QStringLiteral("高一(3)班"));
    const double before = residentMb();
    int i = 0;
    for (auto _ : state) {
        WriteBackRequest request{true,       9, true, QStringLiteral("jpg"), QStringLiteral("p%1").arg(i++),
                                 1 + i % 100};
        const WriteBackResult result = WriteBackFileName(ds, grid, request);
        if (!result.written())
            state.SkipWithError(qPrintable(result.statusText()));
        ApplyFilter(ds, grid, 3, QStringLiteral("BJ"), QStringLiteral("高一(3)班"));
    }
    state.counters["rss_added_mb"] = residentMb() - before;
    state.counters["rows"] = grid.rows() - 2;
}

// The sparse workbook into a grid on screen, scrolled to its far corner and
// painted.
void BM_SparseSheetIntoGrid(benchmark::State &state)
{
    const QString path = sparse_workbook::path();
    peak_memory::Peak most;
    int rows = 0;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([&] {
            RosterModel roster;
            TableGrid grid;
            grid.showRoster(&roster, nullptr);
            grid.resize(800, 600);
            grid.show();
            auto db = lumora::engine::Database::open(path, QStringLiteral("Excel 8.0"));
            const QString table = QLatin1Char('[') + db->tableNames().first() + QLatin1Char(']');
            LoadTable(*db, table, QString(), roster);
            grid.setActiveCell(roster.rows() - 2, roster.cols() - 1);
            if (roster.cellText(roster.rows() - 2, roster.cols() - 1) != QLatin1String("IV65536"))
                qFatal("the sparse workbook's last cell is not in the grid");
            benchmark::DoNotOptimize(grid.grab());
            rows = roster.rows() - 2;
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.counters["peak_MB"] = double(most.peakKb) / 1024;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
    state.counters["rows"] = rows;
}

} // namespace

BENCHMARK(BM_SparseSheetIntoGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RowQueryOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReloadAfterUpdate)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBackAndFilteredReload)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    roster();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
