#include "print/PrintLayout.h"

#include <algorithm>
#include <cmath>

namespace {

// A page holds what fits, give or take this much (points), so that rows
// that fill a page exactly are not pushed to the next one by the rounding
// of single-precision paper sizes.
constexpr double kSlack = 1e-3;

double widthOf(const GridMetrics &grid, const QList<int> &columns)
{
    double w = 0;
    for (int c : columns)
        w += grid.columnWidths.at(c);
    return w;
}

} // namespace

PrintLayout LayOutPages(const PageSetup &setup, const GridMetrics &grid,
                        const std::function<bool(int, int)> &progress)
{
    PrintLayout layout;
    QSizeF paper(double(setup.PaperWidth) * kPointsPerCm, double(setup.PaperHeight) * kPointsPerCm);
    if (setup.Orientation == 2)
        paper.transpose();
    layout.paper = paper;
    const double left = double(setup.LeftMargin) * kPointsPerCm;
    const double right = double(setup.RightMargin) * kPointsPerCm;
    const double top = double(setup.TopMargin) * kPointsPerCm;
    const double bottom = double(setup.BottomMargin) * kPointsPerCm;
    layout.body = QRectF(left, top, std::max(0.0, paper.width() - left - right),
                         std::max(0.0, paper.height() - top - bottom));
    layout.headerY = double(setup.HeaderMargin) * kPointsPerCm;
    layout.footerY = paper.height() - double(setup.FooterMargin) * kPointsPerCm;
    layout.scale = std::clamp(setup.Zoom, 1, 1000) / 100.0;

    const int rows = std::max(0, grid.rows);
    const int columns = grid.columns();
    const int fixedRows = std::clamp(grid.fixedRows, 0, rows);
    const int fixedColumns = std::clamp(grid.fixedColumns, 0, columns);

    // Rows: fixed, title rows, body, bottom titles.
    QList<int> topRows;
    if (setup.PrintFixedRow)
        for (int r = 0; r < fixedRows; ++r)
            topRows << r;
    const int dataRows = rows - fixedRows;
    const int titleRows = std::clamp(setup.PrintTitleRows, 0, dataRows);
    const int bottomRows = std::clamp(setup.PrintBottomTitleRows, 0, dataRows - titleRows);
    for (int r = fixedRows; r < fixedRows + titleRows; ++r)
        topRows << r;
    QList<int> bottomList;
    for (int r = rows - bottomRows; r < rows; ++r)
        bottomList << r;
    const int bodyFirst = fixedRows + titleRows;
    const int bodyEnd = rows - bottomRows; // one past the last body row

    // Columns: fixed, title columns, body.
    QList<int> leftColumns;
    if (setup.PrintFixedColumn)
        for (int c = 0; c < fixedColumns; ++c)
            leftColumns << c;
    const int titleColumns = std::clamp(setup.PrintTitleColumns, 0, columns - fixedColumns);
    for (int c = fixedColumns; c < fixedColumns + titleColumns; ++c)
        leftColumns << c;
    const int bodyColumnFirst = fixedColumns + titleColumns;

    // Room in grid points once the repeated parts are placed.
    const double roomW = layout.body.width() / layout.scale - widthOf(grid, leftColumns);
    const double roomH =
        layout.body.height() / layout.scale - grid.rowHeight * double(topRows.size() + bottomList.size());

    // Column bands: as many columns as fit, at least one.
    QList<QList<int>> columnBands;
    for (int c = bodyColumnFirst; c < columns;) {
        QList<int> band{c};
        double used = grid.columnWidths.at(c);
        for (++c; c < columns && used + grid.columnWidths.at(c) <= roomW + kSlack; ++c) {
            used += grid.columnWidths.at(c);
            band << c;
        }
        columnBands << band;
    }
    if (columnBands.isEmpty())
        columnBands << QList<int>();

    const int rowsPerPage = grid.rowHeight > 0
                                ? std::max(1, int(std::floor((roomH + kSlack) / grid.rowHeight)))
                                : std::max(1, rows);
    const int bodyRows = std::max(0, bodyEnd - bodyFirst);
    const int rowBands = std::max(1, (bodyRows + rowsPerPage - 1) / rowsPerPage);

    layout.pages.reserve(qsizetype(rowBands) * columnBands.size());
    const int total = rowBands * int(columnBands.size());
    for (const QList<int> &band : columnBands) {
        QList<int> pageColumns = leftColumns + band;
        const double gridWidth = widthOf(grid, pageColumns);
        for (int b = 0; b < rowBands; ++b) {
            if (progress && b % 64 == 0 && !progress(int(layout.pages.size()), total)) {
                layout.cancelled = true;
                layout.pages.clear();
                return layout;
            }
            PrintPage page;
            page.rows.reserve(topRows.size() + rowsPerPage + bottomList.size());
            page.rows = topRows;
            const int first = bodyFirst + b * rowsPerPage;
            const int end = std::min(bodyEnd, first + rowsPerPage);
            for (int r = first; r < end; ++r)
                page.rows << r;
            page.rows += bottomList;
            page.titleRowCount = int(topRows.size());
            page.bottomRowCount = int(bottomList.size());
            page.columns = pageColumns;
            page.titleColumnCount = int(leftColumns.size());
            const QSizeF size(gridWidth * layout.scale,
                              grid.rowHeight * double(page.rows.size()) * layout.scale);
            QPointF origin = layout.body.topLeft();
            if (setup.CenterHorizontally)
                origin.rx() += std::max(0.0, (layout.body.width() - size.width()) / 2);
            if (setup.CenterVertically)
                origin.ry() += std::max(0.0, (layout.body.height() - size.height()) / 2);
            page.grid = QRectF(origin, size);
            layout.pages << page;
        }
    }
    if (progress)
        progress(total, total);
    return layout;
}

int ThumbnailLayout::pageCount(int thumbnails) const
{
    return std::max(1, (thumbnails + perPage() - 1) / perPage());
}

QRectF ThumbnailLayout::cellRect(int indexOnPage) const
{
    const int row = indexOnPage / perRow;
    const int column = indexOnPage % perRow;
    // The cells share out the spare width and height between them.
    const double gapX = perRow > 1 ? (body.width() - cell.width() * perRow) / (perRow - 1) : 0;
    const double gapY =
        rowsPerPage > 1 ? (body.height() - cell.height() * rowsPerPage) / (rowsPerPage - 1) : 0;
    return QRectF(body.left() + column * (cell.width() + gapX), body.top() + row * (cell.height() + gapY),
                  cell.width(), cell.height());
}

ThumbnailLayout LayOutThumbnails(const QRectF &body, const QSizeF &cellSize)
{
    ThumbnailLayout t;
    t.body = body;
    t.cell = cellSize;
    if (cellSize.width() > 0)
        t.perRow = std::max(1, int(std::floor((body.width() + kSlack) / cellSize.width())));
    if (cellSize.height() > 0)
        t.rowsPerPage = std::max(1, int(std::floor((body.height() + kSlack) / cellSize.height())));
    return t;
}
