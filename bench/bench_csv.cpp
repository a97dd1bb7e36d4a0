// A 50,000-row roster as Excel writes CSV on a Chinese system (GBK, CRLF,
// a trailing empty column): opening and loading it, with the memory the
// load takes at its peak; the write-back of one photo's name; and the check
// the roster check makes for every row before a photo day (checkValue).
// LUMORA_BENCH_KEEP=path leaves a copy of the roster for comparisons with
// other readers.
#include "PeakMemory.h"

#include "data/engine/Database.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

constexpr int kRows = 50000;
const QString kTable = QStringLiteral("[roster]");

const QString &rosterPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString csv = dir.filePath(QStringLiteral("roster.csv"));
        const QStringList surnames = {"张", "王", "李", "赵", "刘",   "陈",
                                      "杨", "黄", "周", "吴", "欧阳", "司马"};
        const QString given =
            QStringLiteral("伟芳娜敏静丽强磊洋艳明燕华军平刚桂英秀兰玉珍凤霞红梅建国志文浩宇子涵欣怡佳琪");
        QString text = QStringLiteral("学号,姓名,班级,成绩,生日,身份证号,照片,\r\n");
        for (int i = 0; i < kRows; ++i)
            text += QStringLiteral("%1,%2%3%4,高%5(%6)班,%7,%8,1101051990%9,,\r\n")
                        .arg(2024000001 + i)
                        .arg(surnames[i % surnames.size()])
                        .arg(given[(i / 12) % given.size()])
                        .arg(given[(i / 12 / given.size()) % given.size()])
                        .arg(QChar(u"一二三"[i % 3]))
                        .arg(i % 20 + 1)
                        .arg((i % 1000) / 10.0)
                        .arg(QDate(2008, 1, 1).addDays(i % 700).toString(Qt::ISODate))
                        .arg(i, 8, 10, QLatin1Char('0'));
        QFile out(csv);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(csv));
        out.write(QStringEncoder("GBK").encode(text));
        out.close();
        if (const QString keep = qEnvironmentVariable("LUMORA_BENCH_KEEP"); !keep.isEmpty())
            QFile::copy(csv, keep);
        return csv;
    }();
    return path;
}

void BM_OpenAndLoad(benchmark::State &state)
{
    peak_memory::Peak most;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([] {
            auto db = Database::open(rosterPath(), QStringLiteral("Text"));
            const Recordset rs = db->openRecordset(kTable);
            qsizetype chars = 0;
            for (qsizetype r = 0; r < rs.size(); ++r)
                for (int f = 0; f < rs.fields().size(); ++f)
                    chars += rs.value(r, f).toText().size();
            benchmark::DoNotOptimize(chars);
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["file_MB"] = double(QFile(rosterPath()).size()) / 1e6;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond);

// One photo's name written into its empty 照片 field, found by 学号, on a
// fresh row each time: open, match, rewrite, read back, replace.
void BM_WriteBack(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.csv"));
    QFile::copy(rosterPath(), path);
    int i = 0;
    for (auto _ : state) {
        const int row = (i++ * 7919) % kRows;
        auto db = Database::open(path, QStringLiteral("Text"));
        const UpdateResult result =
            db->executeIfMatches(QStringLiteral("update %1 set 照片='高一(3)班/张伟%2.jpg' where 学号=%3")
                                     .arg(kTable)
                                     .arg(row)
                                     .arg(2024000001 + row),
                                 1);
        if (!result.written)
            qFatal("write-back matched %lld records", qlonglong(result.matched()));
    }
}
BENCHMARK(BM_WriteBack)->Unit(benchmark::kMillisecond);

// The roster check's question for every row: would this name go in?
void BM_CheckEveryRow(benchmark::State &state)
{
    auto db = Database::open(rosterPath(), QStringLiteral("Text"));
    for (auto _ : state)
        for (int i = 0; i < kRows; ++i)
            db->checkValue(kTable, 6, Value::text(QStringLiteral("张伟%1.jpg").arg(i)));
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_CheckEveryRow)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
