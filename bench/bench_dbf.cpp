// Opening and reading a 50,000-row, 10-column GBK roster, and one in-place
// update followed by a reopen.
#include "DbfWriter.h"
#include "data/engine/dbf/DbfTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

constexpr int kRows = 50000;

// The roster is made once per run in a temporary folder.
const QString &rosterPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("roster.dbf"));
        const QStringList surnames = {"张", "王", "李", "赵", "刘",   "陈",
                                      "杨", "黄", "周", "吴", "欧阳", "司马"};
        const QStringList given = {"伟", "芳", "娜", "敏", "静",   "丽",
                                   "强", "磊", "洋", "艳", "小明", "晓燕"};
        QList<QList<Value>> records;
        records.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            records.append(
                {Value::text(QStringLiteral("2024%1").arg(i, 6, 10, QLatin1Char('0'))),
                 Value::text(surnames[i % surnames.size()] + given[(i / 7) % given.size()]),
                 Value::text(QStringLiteral("高%1(%2)班").arg(QChar(u"一二三"[i % 3])).arg(i % 20 + 1)),
                 Value::text(i % 2 ? QStringLiteral("男") : QStringLiteral("女")),
                 Value::real((i % 1000) / 10.0), Value::date(QDate(2008, 1, 1).addDays(i % 700)),
                 Value::text(QStringLiteral("北京市海淀区中关村大街%1号").arg(i % 300)),
                 Value::text(QStringLiteral("1380000%1").arg(i % 10000, 4, 10, QLatin1Char('0'))),
                 Value::boolean(i % 3 == 0), Value::null()});
        }
        DbfWriter::write(p,
                         {{"XH", 'C', 10},
                          {"XM", 'C', 12},
                          {"BJ", 'C', 12},
                          {"XB", 'C', 2},
                          {"CJ", 'N', 5, 1},
                          {"SR", 'D', 8},
                          {"DZ", 'C', 40},
                          {"DH", 'C', 11},
                          {"TY", 'L', 1},
                          {"ZP", 'C', 40}},
                         records);
        return p;
    }();
    return path;
}

void BM_OpenAndReadAll(benchmark::State &state)
{
    const QString path = rosterPath();
    for (auto _ : state) {
        const auto table = DbfTable::open(path, QStringLiteral("roster"));
        qsizetype chars = 0;
        for (qsizetype r = 0; r < table->recordCount(); ++r)
            for (int f = 0; f < table->fields().size(); ++f)
                chars += table->value(r, f).toText().size();
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_OpenAndReadAll)->Unit(benchmark::kMillisecond);

void BM_UpdateAndReopen(benchmark::State &state)
{
    const QString path = rosterPath();
    int i = 0;
    for (auto _ : state) {
        DbfTable::open(path, QStringLiteral("roster"))
            ->update(kRows / 2, 9, Value::text(QStringLiteral("照片/高一(3)班/张伟%1.jpg").arg(++i % 100)));
        const auto table = DbfTable::open(path, QStringLiteral("roster"));
        benchmark::DoNotOptimize(table->value(kRows / 2, 9));
    }
}
BENCHMARK(BM_UpdateAndReopen)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // Leave a copy for comparisons with other readers when asked to.
    if (qEnvironmentVariableIsSet("LUMORA_BENCH_KEEP"))
        QFile::copy(rosterPath(), qEnvironmentVariable("LUMORA_BENCH_KEEP"));
    benchmark::Shutdown();
    return 0;
}
