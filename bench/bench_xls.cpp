// Opening and loading a 50,000-row roster workbook written by LibreOffice
// (gnumeric's ssconvert when LibreOffice is missing), the write-back of
// one photo's name followed by the reload that makes the next row ready,
// and one statement that changes many records.
// LUMORA_BENCH_KEEP=path leaves a copy of the workbook for comparisons with
// other readers. The sparse workbook's benchmarks report the memory a read
// takes at its peak (peak_MB: the whole process; added_MB: the read's own).
#include "PeakMemory.h"
#include "SparseWorkbook.h"

#include "data/engine/Database.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

constexpr int kRows = 50000;
const QString kTable = QStringLiteral("[roster$]");

// The workbook is made once per run from a CSV in a temporary folder.
const QString &rosterPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString csv = dir.filePath(QStringLiteral("roster.csv"));
        QFile out(csv);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(csv));
        // Names from a surname and two given characters: nearly every
        // person's name is a shared string of its own, as in a real roster.
        const QStringList surnames = {"张", "王", "李", "赵", "刘",   "陈",
                                      "杨", "黄", "周", "吴", "欧阳", "司马"};
        const QString given =
            QStringLiteral("伟芳娜敏静丽强磊洋艳明燕华军平刚桂英秀兰玉珍凤霞红梅建国志文浩宇子涵欣怡佳琪");
        QByteArray text = "学号,姓名,班级,性别,成绩,生日,照片\n";
        for (int i = 0; i < kRows; ++i)
            text += QStringLiteral("%1,%2%3%4,高%5(%6)班,%7,%8,%9,\n")
                        .arg(2024000001 + i)
                        .arg(surnames[i % surnames.size()])
                        .arg(given[(i / 12) % given.size()])
                        .arg(given[(i / 12 / given.size()) % given.size()])
                        .arg(QChar(u"一二三"[i % 3]))
                        .arg(i % 20 + 1)
                        .arg(i % 2 ? QStringLiteral("男") : QStringLiteral("女"))
                        .arg((i % 1000) / 10.0)
                        .arg(QDate(2008, 1, 1).addDays(i % 700).toString(Qt::ISODate))
                        .toUtf8();
        out.write(text);
        out.close();
        const QString xls = dir.filePath(QStringLiteral("roster.xls"));
        QProcess p;
        if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
            p.start(
                QStringLiteral("soffice"),
                {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                 QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                 QStringLiteral("--infilter=CSV:44,34,76,1"), QStringLiteral("--convert-to"),
                 QStringLiteral("xls:MS Excel 97"), QStringLiteral("--outdir"), dir.path(), csv});
        } else {
            p.start(QStringLiteral("ssconvert"), {csv, xls});
        }
        if (!p.waitForFinished(600000) || !QFile::exists(xls))
            qFatal("cannot make the roster workbook (soffice or ssconvert is needed)");
        return xls;
    }();
    return path;
}

// Two copies in turn: the engine keeps the last workbook it parsed for the
// next open of the same bytes, and this measures an open that parses.
void BM_OpenAndLoad(benchmark::State &state)
{
    static QTemporaryDir dir;
    const QStringList paths{dir.filePath(QStringLiteral("a.xls")), dir.filePath(QStringLiteral("b.xls"))};
    for (const QString &p : paths)
        QFile::copy(rosterPath(), p);
    int i = 0;
    for (auto _ : state) {
        auto db = Database::open(paths[i++ % 2], QStringLiteral("Excel 8.0"));
        const Recordset rs = db->openRecordset(kTable);
        qsizetype chars = 0;
        for (qsizetype r = 0; r < rs.size(); ++r)
            for (int f = 0; f < rs.fields().size(); ++f)
                chars += rs.value(r, f).toText().size();
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["file_MB"] = double(QFile(paths[0]).size()) / 1e6;
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond);

// One photo's name written into its empty 照片 cell, found by 学号: what the
// save flow sends, on a fresh row each time.
void writeOne(const QString &path, int i)
{
    auto db = Database::open(path, QStringLiteral("Excel 8.0"));
    const UpdateResult result =
        db->executeIfMatches(QStringLiteral("update %1 set 照片='高一(3)班/张伟%2.jpg' where 学号=%3")
                                 .arg(kTable)
                                 .arg(i)
                                 .arg(2024000001 + i),
                             1);
    if (!result.written)
        qFatal("write-back matched %lld records", qlonglong(result.matched()));
}

void BM_WriteBack(benchmark::State &state)
{
    const QString path = QTemporaryDir().path() + QStringLiteral(".xls");
    QFile::remove(path);
    QFile::copy(rosterPath(), path);
    int i = 0;
    for (auto _ : state)
        writeOne(path, (i++ * 7919) % kRows);
    QFile::remove(path);
}
BENCHMARK(BM_WriteBack)->Unit(benchmark::kMillisecond);

// One statement changing 838 records (a class's photo names cleared, say):
// its changes go into the file in one rewrite. Each run starts from a
// fresh copy.
void BM_UpdateManyRows(benchmark::State &state)
{
    const QString path = QTemporaryDir().path() + QStringLiteral(".xls");
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(path);
        QFile::copy(rosterPath(), path);
        state.ResumeTiming();
        auto db = Database::open(path, QStringLiteral("Excel 8.0"));
        const qsizetype changed = db->execute(
            QStringLiteral("update %1 set 照片='已拍' where 学号 >= 2024000001 and 学号 < 2024000839")
                .arg(kTable));
        if (changed != 838)
            qFatal("the statement changed %lld records", qlonglong(changed));
    }
    QFile::remove(path);
    state.SetItemsProcessed(state.iterations() * 838);
}
BENCHMARK(BM_UpdateManyRows)->Unit(benchmark::kMillisecond);

// The write-back and the reload of the whole table after it: the time from
// "save" to the next row ready in the grid. As in the program, the
// write-back opens the workbook the previous reload read.
void BM_WriteBackAndReload(benchmark::State &state)
{
    const QString path = QTemporaryDir().path() + QStringLiteral(".xls");
    QFile::remove(path);
    QFile::copy(rosterPath(), path);
    int i = 0;
    for (auto _ : state) {
        writeOne(path, (i++ * 7919) % kRows);
        auto db = Database::open(path, QStringLiteral("Excel 8.0"));
        const Recordset rs = db->openRecordset(kTable);
        benchmark::DoNotOptimize(rs.size());
    }
    QFile::remove(path);
}
BENCHMARK(BM_WriteBackAndReload)->Unit(benchmark::kMillisecond);

// The sparse workbook opened and read with "select *", every value touched:
// what lumora-sql does with it.
void BM_SparseSheetSelectAll(benchmark::State &state)
{
    const QString path = sparse_workbook::path();
    peak_memory::Peak most;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([&] {
            auto db = Database::open(path, QStringLiteral("Excel 8.0"));
            const QString table = QLatin1Char('[') + db->tableNames().first() + QLatin1Char(']');
            const Recordset rs = db->openRecordset(QStringLiteral("select * from ") + table);
            qsizetype values = 0;
            for (qsizetype r = 0; r < rs.size(); ++r)
                for (const Value &v : rs.row(r))
                    values += !v.isNull();
            if (rs.size() != sparse_workbook::kRecords || values != 2)
                qFatal("the sparse workbook read %lld records, %lld values", qlonglong(rs.size()),
                       qlonglong(values));
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.counters["peak_MB"] = double(most.peakKb) / 1024;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
    state.SetItemsProcessed(state.iterations() * sparse_workbook::kRecords);
}
BENCHMARK(BM_SparseSheetSelectAll)->Unit(benchmark::kMillisecond);

// The grid's loading query on the sparse workbook: every field joined with
// tabs, one packed row per record.
void BM_SparseSheetRowQuery(benchmark::State &state)
{
    const QString path = sparse_workbook::path();
    peak_memory::Peak most;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([&] {
            auto db = Database::open(path, QStringLiteral("Excel 8.0"));
            const QString table = QLatin1Char('[') + db->tableNames().first() + QLatin1Char(']');
            QStringList names;
            for (const FieldInfo &f : db->fields(table))
                names << QLatin1Char('[') + f.name + QLatin1Char(']');
            const Recordset rs =
                db->openRecordset(QStringLiteral("select %1 as Item  from %2")
                                      .arg(names.join(QStringLiteral(" & Chr(9) & ")), table));
            benchmark::DoNotOptimize(rs.size());
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.counters["peak_MB"] = double(most.peakKb) / 1024;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
    state.SetItemsProcessed(state.iterations() * sparse_workbook::kRecords);
}
BENCHMARK(BM_SparseSheetRowQuery)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (qEnvironmentVariableIsSet("LUMORA_BENCH_KEEP"))
        QFile::copy(rosterPath(), qEnvironmentVariable("LUMORA_BENCH_KEEP"));
    benchmark::Shutdown();
    return 0;
}
