// Access rosters: opening a database and loading a table, for the largest
// tables of the committed databases and for tables of 50,000 rows grown
// from them (a narrow Jet 4 roster of ID and name, and the 74-column Jet 4
// project table); and one save with write-back on the 50,000-row roster:
// open, the update that must match one record, open again and read that
// record back, as the window does before the next row is ready.
//
// LUMORA_BENCH_KEEP=FOLDER leaves the grown databases there, for timing
// other readers on the same files.
#include "MdbRowInserter.h"

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace lumora::engine;

namespace {

constexpr int kRows = 50000;

QString dataFile(const QString &name)
{
    return QStringLiteral(LUMORA_SOURCE_DIR "/tests/data/mdb/") + name;
}

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

// A copy of a committed database grown to 50,000 rows, made once per run.
QString grown(const QString &file, const QString &table, const MdbRowInserter::RowTexts &texts)
{
    const QString path = folder().filePath(QStringLiteral("50k_") + file);
    if (!QFile::exists(path)) {
        QFile::copy(dataFile(file), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        MdbRowInserter::append(path, table, kRows - 1, texts);
    }
    return path;
}

const QString kRoster = QStringLiteral("19 MB 01 BEZAHLT ???");

QString roster()
{
    static const QString path = grown(QStringLiteral("ucanaccess_weirdObjectNames.mdb"), kRoster, [](int i) {
        static const QStringList names = {"张伟", "王芳", "李娜", "欧阳晓燕", "Zhao Lei", "司马小明"};
        return std::map<int, Value>{{0, Value::integer(i + 2)},
                                    {1, Value::text(names[i % names.size()] + QString::number(i))}};
    });
    return path;
}

QString projects()
{
    static const QString path =
        grown(QStringLiteral("jackcess_test2V2003.mdb"), QStringLiteral("MSP_PROJECTS"), [](int i) {
            return std::map<int, Value>{{49, Value::text(QStringLiteral("Project %1").arg(i))}};
        });
    return path;
}

void openAndLoad(benchmark::State &state, const QString &path, const QString &table)
{
    qsizetype rows = 0;
    for (auto _ : state) {
        const auto db = Database::open(path, QString());
        const Recordset rs = db->openRecordset(QLatin1Char('[') + table + QLatin1Char(']'));
        qsizetype chars = 0;
        for (qsizetype r = 0; r < rs.size(); ++r)
            for (const Value &v : rs.row(r))
                chars += v.kind() == Value::Kind::Binary ? v.toBinary().size() : v.toText().size();
        rows = rs.size();
        benchmark::DoNotOptimize(chars);
    }
    state.counters["rows"] = double(rows);
    state.SetItemsProcessed(state.iterations() * rows);
}

// The grid's own load: every field joined with tabs into one text per row
// ("select A & Chr(9) & B as Item from [T]"), as the window asks for it.
void openAndLoadGrid(benchmark::State &state, const QString &path, const QString &table)
{
    qsizetype rows = 0;
    for (auto _ : state) {
        const auto db = Database::open(path, QString());
        const QString bracketed = QLatin1Char('[') + table + QLatin1Char(']');
        QStringList names;
        for (const FieldInfo &f : db->fields(bracketed))
            names << QLatin1Char('[') + f.name + QLatin1Char(']');
        const Recordset rs =
            db->openRecordset(QStringLiteral("select %1 as Item from %2")
                                  .arg(names.join(QStringLiteral(" & Chr(9) & ")), bracketed));
        qsizetype chars = 0;
        for (qsizetype r = 0; r < rs.size(); ++r)
            chars += rs.packedParts(r).size();
        rows = rs.size();
        benchmark::DoNotOptimize(chars);
    }
    state.counters["rows"] = double(rows);
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_GridLoad_Roster50k(benchmark::State &state)
{
    openAndLoadGrid(state, roster(), kRoster);
}
BENCHMARK(BM_GridLoad_Roster50k)->Unit(benchmark::kMillisecond);

void BM_OpenAndLoad_FixtureProjectsJet3(benchmark::State &state)
{
    openAndLoad(state, dataFile(QStringLiteral("jackcess_test2V1997.mdb")), QStringLiteral("MSP_PROJECTS"));
}
BENCHMARK(BM_OpenAndLoad_FixtureProjectsJet3)->Unit(benchmark::kMicrosecond);

void BM_OpenAndLoad_FixtureProjectsJet4(benchmark::State &state)
{
    openAndLoad(state, dataFile(QStringLiteral("jackcess_test2V2003.mdb")), QStringLiteral("MSP_PROJECTS"));
}
BENCHMARK(BM_OpenAndLoad_FixtureProjectsJet4)->Unit(benchmark::kMicrosecond);

void BM_OpenAndLoad_FixtureTable1Jet3(benchmark::State &state)
{
    openAndLoad(state, dataFile(QStringLiteral("jackcess_testV1997.mdb")), QStringLiteral("Table1"));
}
BENCHMARK(BM_OpenAndLoad_FixtureTable1Jet3)->Unit(benchmark::kMicrosecond);

void BM_OpenAndLoad_Roster50k(benchmark::State &state)
{
    openAndLoad(state, roster(), kRoster);
}
BENCHMARK(BM_OpenAndLoad_Roster50k)->Unit(benchmark::kMillisecond);

void BM_OpenAndLoad_Projects50k(benchmark::State &state)
{
    openAndLoad(state, projects(), QStringLiteral("MSP_PROJECTS"));
}
BENCHMARK(BM_OpenAndLoad_Projects50k)->Unit(benchmark::kMillisecond);

// One save with write-back on the 50,000-row roster, the row in the middle.
void BM_SaveWriteBack_Roster50k(benchmark::State &state)
{
    const QString path = roster();
    int i = 0;
    for (auto _ : state) {
        const QString name = QStringLiteral("照片/高一(3)班/张伟%1.jpg").arg(++i % 100);
        qsizetype record = -1;
        {
            const auto db = Database::open(path, QString());
            const UpdateResult update = db->executeIfMatches(
                QStringLiteral("update [%1] set TextField='%2' where ID=25000").arg(kRoster, name), 1);
            if (!update.written)
                state.SkipWithError("the update matched no single record");
            record = update.records.value(0);
        }
        const auto db = Database::open(path, QString());
        const Recordset row =
            db->openRecordset(QStringLiteral("select * from [%1] where ID=25000").arg(kRoster), record);
        benchmark::DoNotOptimize(row.value(0, 1).toText());
    }
}
BENCHMARK(BM_SaveWriteBack_Roster50k)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (qEnvironmentVariableIsSet("LUMORA_BENCH_KEEP")) {
        const QDir keep(qEnvironmentVariable("LUMORA_BENCH_KEEP"));
        for (const QString &path : {roster(), projects()})
            QFile::copy(path, keep.filePath(QFileInfo(path).fileName()));
    }
    benchmark::Shutdown();
    return 0;
}
