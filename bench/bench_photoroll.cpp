// Working out who has a photo in a 50,000-row roster: the photo path of
// every row formed from the naming settings, one listing per folder. Half
// the people are photographed, in 12 class folders (range(1) = 1) or all in
// the save folder; range(0) = 1 with the distinguishing number on.

#include "data/RosterModel.h"
#include "naming/PhotoRoll.h"

#include "QtBenchmarkMain.h"
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int Rows = 50000;

} // namespace

static void BM_PhotoRoll(benchmark::State &state)
{
    const bool numbered = state.range(0) == 1;
    const bool classFolders = state.range(1) == 1;
    // Made once per case: creating 25,000 files costs far more than the roll.
    static QMap<int, QTemporaryDir *> folders;
    const int key = int(state.range(0) * 2 + state.range(1));
    const bool made = folders.contains(key);
    if (!made)
        folders.insert(key, new QTemporaryDir);
    QTemporaryDir &save = *folders.value(key);
    RosterModel grid;
    grid.setCols(4);
    grid.setCellText(0, 1, QStringLiteral("学号"));
    grid.setCellText(0, 2, QStringLiteral("姓名"));
    grid.setCellText(0, 3, QStringLiteral("班级"));
    NamingInputs in;
    in.saveFolder = save.path();
    in.tableMode = true;
    in.name1Index = 1;
    in.name2On = true;
    in.name2Index = 0;
    in.subFolder1On = classFolders;
    in.subFolder1Index = 2;
    in.numberOn = numbered;
    in.format = QStringLiteral("jpg");
    for (int r = 1; r <= Rows; ++r) {
        const QString id = QString::number(2024000000 + r);
        const QString name = QStringLiteral("学生%1").arg(r % 977);
        const QString group = QStringLiteral("%1班").arg(r % 12 + 1);
        grid.appendRow({id, name, group}, false);
        if (r % 2 == 0 && !made) {
            const QString folder = classFolders ? save.filePath(group) : save.path();
            QDir().mkpath(folder);
            QFile photo(folder + QLatin1Char('/') + name + id +
                        (numbered ? QStringLiteral("10001") : QString()) + QStringLiteral(".jpg"));
            if (!photo.open(QIODevice::WriteOnly)) {
                state.SkipWithError("cannot make the photo files");
                return;
            }
        }
    }
    grid.appendRow({}, false);
    for (auto _ : state) {
        const PhotoRoll roll = PhotoRoll::ofRoster(grid, in);
        if (roll.takenCount() != Rows / 2) {
            state.SkipWithError("the roll did not find every photo");
            break;
        }
        benchmark::DoNotOptimize(roll.takenCount());
    }
    state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_PhotoRoll)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->ArgNames({"numbered", "classFolders"})
    ->Unit(benchmark::kMillisecond);

LUMORA_QT_BENCHMARK_MAIN()
