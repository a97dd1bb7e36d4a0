// Opening and loading a 50,000-row .xlsx roster written by LibreOffice, the
// write-back of one photo's name, and the memory a sheet of two cells far
// apart takes (memory follows the cells, not the area they span).
// LUMORA_BENCH_KEEP=path leaves a copy of the roster for comparisons with
// other readers (ogr2ogr -f CSV, lumora-sql).
#include "PeakMemory.h"

#include "data/engine/Database.h"
#include "data/engine/xlsx/ZipPackage.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

constexpr int kRows = 50000;
const QString kTable = QStringLiteral("[roster$]");
const QString kExcel = QStringLiteral("Excel 8.0");

// The roster is made once per run from a CSV by LibreOffice.
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
        const QString xlsx = dir.filePath(QStringLiteral("roster.xlsx"));
        QProcess p;
        p.start(QStringLiteral("soffice"),
                {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                 QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                 QStringLiteral("--infilter=CSV:44,34,76,1"), QStringLiteral("--convert-to"),
                 QStringLiteral("xlsx:Calc MS Excel 2007 XML"), QStringLiteral("--outdir"), dir.path(), csv});
        if (!p.waitForFinished(600000) || !QFile::exists(xlsx)) {
            p.kill();
            p.waitForFinished();
            qFatal("cannot make the roster workbook (LibreOffice is needed)");
        }
        return xlsx;
    }();
    return path;
}

void BM_OpenAndLoad(benchmark::State &state)
{
    rosterPath(); // made before the timing starts
    peak_memory::Peak most;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([&] {
            auto db = Database::open(rosterPath(), kExcel);
            const Recordset rs = db->openRecordset(kTable);
            qsizetype chars = 0;
            for (qsizetype r = 0; r < rs.size(); ++r)
                for (int f = 0; f < rs.fields().size(); ++f)
                    chars += rs.value(r, f).toText().size();
            if (rs.size() != kRows)
                qFatal("the roster read %lld records", qlonglong(rs.size()));
            benchmark::DoNotOptimize(chars);
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["file_MB"] = double(QFile(rosterPath()).size()) / 1e6;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond);

// One photo's name written into its empty 照片 cell, found by 学号: what the
// save flow sends, on a fresh row each time.
void BM_WriteBack(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.xlsx"));
    QFile::copy(rosterPath(), path);
    int i = 0;
    for (auto _ : state) {
        const int row = (i++ * 7919) % kRows;
        auto db = Database::open(path, kExcel);
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

// A sheet of two cells, A1 and XFD1048576: a table of 1,048,575 records and
// 16,384 fields, read without a cell of memory for each.
void BM_SparseSheetOpen(benchmark::State &state)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sparse.xlsx"));
    if (!QFile::exists(path)) {
        QFile in(rosterPath());
        in.open(QIODevice::ReadOnly);
        const ZipPackage roster(in.readAll(), QStringLiteral("roster.xlsx"));
        const QByteArray sheet =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c "
            "r=\"A1\" t=\"inlineStr\"><is><t>head</t></is></c></row><row r=\"1048576\"><c "
            "r=\"XFD1048576\"><v>1</v></c></row></sheetData></worksheet>";
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(roster.withParts({{QStringLiteral("xl/worksheets/sheet1.xml"), sheet}}));
    }
    peak_memory::Peak most;
    for (auto _ : state) {
        const peak_memory::Peak peak = peak_memory::measure([&] {
            auto db = Database::open(path, kExcel);
            const auto fields = db->fields(kTable);
            if (fields.size() != 16384)
                qFatal("the sparse sheet has %lld fields", qlonglong(fields.size()));
            const Recordset rs = db->openRecordset(QStringLiteral("select [F16384] from ") + kTable);
            qsizetype values = 0;
            for (qsizetype r = 0; r < rs.size(); ++r)
                values += !rs.value(r, 0).isNull();
            if (rs.size() != 1048575 || values != 1)
                qFatal("the sparse sheet read %lld records, %lld values", qlonglong(rs.size()),
                       qlonglong(values));
        });
        most = {std::max(most.addedKb, peak.addedKb), std::max(most.peakKb, peak.peakKb)};
    }
    state.counters["peak_MB"] = double(most.peakKb) / 1024;
    state.counters["added_MB"] = double(most.addedKb) / 1024;
}
BENCHMARK(BM_SparseSheetOpen)->Unit(benchmark::kMillisecond);

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
