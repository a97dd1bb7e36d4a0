#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "naming/FormPhotoPath.h"
#include "naming/NumericText.h"
#include "naming/SafeName.h"

#include "QtBenchmarkMain.h"
#include <QApplication>
#include <benchmark/benchmark.h>

// FormPhotoPath runs on every row change and every keystroke in a naming box:
// it must stay far below what an operator could notice.
static void BM_FormPhotoPathFromGrid(benchmark::State &state)
{
    RosterModel grid;
    RosterCursor cursor;
    grid.setCols(6);
    grid.setRows(1);
    for (int r = 1; r <= 1000; ++r)
        grid.appendRow({QString::number(10000 + r), QStringLiteral("学生%1").arg(r), QStringLiteral("高一"),
                        QStringLiteral("%1班").arg(r % 12), QStringLiteral("备注")},
                       false);
    NamingInputs in;
    in.saveFolder = QStringLiteral("/srv/photos");
    in.tableMode = true;
    in.subFolder1On = true;
    in.subFolder1Index = 2;
    in.subFolder2On = true;
    in.subFolder2Index = 3;
    in.name1Index = 0;
    in.name2On = true;
    in.name2Index = 1;
    in.numberOn = true;
    in.numberText = QStringLiteral("10001");
    in.format = QStringLiteral("jpg");
    const RowCellReader cells = currentRowCells(grid, cursor);
    NamingState naming;
    int row = 1;
    for (auto _ : state) {
        cursor.setCurrentRow(row);
        row = row % 1000 + 1;
        naming = FormPhotoPath(in, cells, naming).state;
        benchmark::DoNotOptimize(naming.photoPath.size());
    }
}
BENCHMARK(BM_FormPhotoPathFromGrid);

static void BM_SafeNamePart(benchmark::State &state)
{
    const QString text = QStringLiteral("高一/3班\t张三丰").repeated(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(safeNamePart(text).size());
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(BM_SafeNamePart)->Arg(1)->Arg(100);

static void BM_NextNumberText(benchmark::State &state)
{
    const QString text = QStringLiteral(" 1000 1号");
    for (auto _ : state)
        benchmark::DoNotOptimize(nextNumberText(text).size());
}
BENCHMARK(BM_NextNumberText);

LUMORA_QT_BENCHMARK_MAIN()
