// The grid's loading query over a roster of 50,000 rows and 10 fields, the
// size the program must show quickly, on the in-memory backend so that only
// the statement engine is measured.
#include "MemoryBackend.h"

#include "DbfWriter.h"
#include "data/engine/Database.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

std::unique_ptr<Database> roster(int rows)
{
    auto backend = std::make_unique<MemoryBackend>();
    QList<FieldInfo> fields;
    for (int f = 0; f < 10; ++f)
        fields << memoryField(QStringLiteral("F%1").arg(f), f == 2 ? DaoDouble : f == 3 ? DaoDate : DaoText);
    QList<QList<Value>> data;
    data.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QList<Value> row;
        for (int f = 0; f < 10; ++f) {
            if (f == 2)
                row << Value::real(r % 7 + 0.5);
            else if (f == 3)
                row << Value::date(QDate(2000, 1, 1).addDays(r % 3000));
            else
                row << Value::text(QStringLiteral("值%1-%2").arg(r).arg(f));
        }
        data << row;
    }
    backend->add(QStringLiteral("学生"), fields, data);
    return Database::fromBackend(std::move(backend));
}

QString loadingQuery(const QString &where = {})
{
    QStringList names;
    for (int f = 0; f < 10; ++f)
        names << QStringLiteral("F%1").arg(f);
    return QStringLiteral("select ") + names.join(QStringLiteral(" & Chr(9) & ")) +
           QStringLiteral(" as Item  from [学生]") + where;
}

void BM_LoadingQuery(benchmark::State &state)
{
    auto db = roster(int(state.range(0)));
    const QString sql = loadingQuery();
    for (auto _ : state) {
        Recordset rs = db->openRecordset(sql);
        benchmark::DoNotOptimize(rs.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadingQuery)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_FilteredLoadingQuery(benchmark::State &state)
{
    auto db = roster(int(state.range(0)));
    const QString sql = loadingQuery(QStringLiteral(" where F2=3.5"));
    for (auto _ : state) {
        Recordset rs = db->openRecordset(sql);
        benchmark::DoNotOptimize(rs.size());
    }
}
BENCHMARK(BM_FilteredLoadingQuery)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_Distinct(benchmark::State &state)
{
    auto db = roster(int(state.range(0)));
    for (auto _ : state) {
        Recordset rs = db->openRecordset(QStringLiteral("select distinct F3 from [学生]"));
        benchmark::DoNotOptimize(rs.size());
    }
}
BENCHMARK(BM_Distinct)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_UpdateOneRecord(benchmark::State &state)
{
    auto db = roster(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            db->execute(QStringLiteral("update [学生] set F9='x.jpg' where F0='值25000-0' and F2=3.5")));
}
BENCHMARK(BM_UpdateOneRecord)->Arg(50000)->Unit(benchmark::kMillisecond);

// A dBase III file of that many rows and the 10 fields of roster().
QString writeDbfRoster(const QTemporaryDir &dir, int rows)
{
    QList<DbfWriter::Field> fields;
    for (int f = 0; f < 10; ++f)
        fields.append({QStringLiteral("F%1").arg(f),
                       f == 2   ? 'N'
                       : f == 3 ? 'D'
                                : 'C',
                       f == 2   ? 5
                       : f == 3 ? 8
                                : 16,
                       f == 2 ? 1 : 0});
    QList<QList<Value>> records;
    records.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QList<Value> row;
        for (int f = 0; f < 10; ++f)
            row << (f == 2   ? Value::real(r % 7 + 0.5)
                    : f == 3 ? Value::date(QDate(2000, 1, 1).addDays(r % 3000))
                             : Value::text(QStringLiteral("值%1-%2").arg(r).arg(f)));
        records << row;
    }
    const QString path = dir.filePath(QStringLiteral("学生.dbf"));
    DbfWriter::write(path, fields, records);
    return path;
}

// The whole path of the program's table load: open the folder, read the
// field list, run the loading query on a real dBase file.
void BM_LoadingQueryOnDbf(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeDbfRoster(dir, int(state.range(0)));
    const QString sql = loadingQuery();
    for (auto _ : state) {
        auto db = Database::open(path, QStringLiteral("dBASE IV"));
        benchmark::DoNotOptimize(db->fields(QStringLiteral("[学生]")).size());
        Recordset rs = db->openRecordset(sql);
        benchmark::DoNotOptimize(rs.size());
    }
}
BENCHMARK(BM_LoadingQueryOnDbf)->Arg(50000)->Unit(benchmark::kMillisecond);

// The same file read whole by table name, without a statement: what the
// codec and the result's values cost on their own.
void BM_WholeTableOnDbf(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeDbfRoster(dir, int(state.range(0)));
    for (auto _ : state) {
        auto db = Database::open(path, QStringLiteral("dBASE IV"));
        Recordset rs = db->openRecordset(QStringLiteral("[学生]"));
        benchmark::DoNotOptimize(rs.size());
    }
}
BENCHMARK(BM_WholeTableOnDbf)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
