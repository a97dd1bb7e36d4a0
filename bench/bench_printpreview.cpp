// Time of the print preview of a large roster: laying out the pages of a
// 50,000-row grid, painting one page (what the preview or a printer asks
// for at a time), and the whole preview as QPrintPreviewWidget builds it
// (every page painted into its page pictures).
#include "QtBenchmarkMain.h"

#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "print/GridPrintEngine.h"

#include <QImage>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>

namespace {

// Eight columns of roster-like text.
void fill(RosterModel &grid, int rows)
{
    grid.setRows(1);
    grid.setCols(9);
    const QStringList header = {QStringLiteral("学号"), QStringLiteral("姓名"),     QStringLiteral("性别"),
                                QStringLiteral("班级"), QStringLiteral("出生日期"), QStringLiteral("成绩"),
                                QStringLiteral("照片"), QStringLiteral("备注")};
    for (int c = 0; c < header.size(); ++c)
        grid.setCellText(0, c + 1, header.at(c));
    grid.reserveRows(rows + 1);
    grid.beginBulk();
    for (int r = 0; r < rows; ++r)
        grid.appendRow({QString::number(2024000001 + r), QStringLiteral("学生%1").arg(r),
                        r % 2 ? QStringLiteral("男") : QStringLiteral("女"),
                        QStringLiteral("高二(%1)班").arg(r % 20), QStringLiteral("2009-04-19"),
                        QString::number(50 + r % 50) + QStringLiteral(".5"),
                        QStringLiteral("%1.jpg").arg(2024000001 + r), QString()},
                       false);
    grid.appendRow({}, false);
    grid.endBulk();
    for (int c = 1; c <= 8; ++c)
        grid.askColumnWidth(c, 80);
}

void BM_LayOut(benchmark::State &state)
{
    RosterModel roster;
    TableGrid grid;
    grid.showRoster(&roster, nullptr);
    fill(roster, int(state.range(0)));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.layOut());
    state.counters["pages"] = engine.pageCount();
}

void BM_PaintOnePage(benchmark::State &state)
{
    RosterModel roster;
    TableGrid grid;
    grid.showRoster(&roster, nullptr);
    fill(roster, int(state.range(0)));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    engine.layOut();
    const QSize size = (engine.layout().paper * 150 / 72).toSize(); // 150 dpi
    QImage image(size, QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(150 / 0.0254));
    image.setDotsPerMeterY(qRound(150 / 0.0254));
    int page = 0;
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        BeginPaperPainting(painter, engine.layout().paper);
        PaintGridPage(painter, engine.layout(), page, engine.pageSetup(), engine.source());
        page = (page + 97) % engine.pageCount();
    }
}

// The whole preview: the layout, then every page painted by the preview.
void BM_WholePreview(benchmark::State &state)
{
    RosterModel roster;
    TableGrid grid;
    grid.showRoster(&roster, nullptr);
    fill(roster, int(state.range(0)));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    QPrinter printer(QPrinter::HighResolution);
    engine.layOut();
    engine.setUpPrinter(printer);
    QPrintPreviewWidget preview(&printer);
    QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, &engine,
                     [&engine](QPrinter *target) { engine.print(target); });
    for (auto _ : state) {
        engine.layOut();
        preview.updatePreview();
    }
    state.counters["pages"] = preview.pageCount();
}

BENCHMARK(BM_LayOut)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintOnePage)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholePreview)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

LUMORA_QT_BENCHMARK_MAIN()
