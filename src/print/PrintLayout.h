#pragma once

#include "print/PageSetup.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <functional>

// The grid as the layout sees it. Lengths in points (1/72 inch) at 100 %.
// Rows 0 .. fixedRows - 1 and columns 0 .. fixedColumns - 1 are the grid's
// fixed (header) rows and columns; the rest are data.
struct GridMetrics
{
    int rows = 0;
    int fixedRows = 1;
    int fixedColumns = 1;
    QList<double> columnWidths; // one per grid column
    double rowHeight = 15;      // every row has the same height
    int columns() const { return int(columnWidths.size()); }
};

// One printed page: the grid rows and columns it shows, top to bottom and
// left to right, repeated title rows and columns included.
struct PrintPage
{
    QList<int> rows;
    QList<int> columns;
    int titleRowCount = 0;    // rows.first(titleRowCount) repeat at the top of every page
    int bottomRowCount = 0;   // rows.last(bottomRowCount) repeat at the bottom
    int titleColumnCount = 0; // columns.first(titleColumnCount) repeat at the left
    QRectF grid;              // where the grid block lies on the paper, in points
};

struct PrintLayout
{
    QSizeF paper;       // points, orientation applied
    QRectF body;        // inside the four margins
    double scale = 1;   // zoom as a factor
    double headerY = 0; // top of the header line
    double footerY = 0; // bottom of the footer line
    QList<PrintPage> pages;
    bool cancelled = false;
};

constexpr double kPointsPerCm = 72.0 / 2.54;

// Splits the grid into pages: rows down the pages first, then the next band
// of columns. Every page repeats the fixed row and column (when they are
// printed), the title rows and columns and the bottom title rows; the other
// rows and columns go to the first page with room for them, and a row or
// column larger than a page gets a page of its own. An empty grid still
// gives one page with what it has. progress(done, total) is asked every so
// many rows and ends the layout when it returns false (cancelled set).
PrintLayout LayOutPages(const PageSetup &setup, const GridMetrics &grid,
                        const std::function<bool(int, int)> &progress = {});

// Photo pages: the number of thumbnails per row and per page for a cell of
// cellSize points in body, and where thumbnail `index` of a page lies.
struct ThumbnailLayout
{
    QRectF body;
    QSizeF cell;
    int perRow = 1;
    int rowsPerPage = 1;
    int perPage() const { return perRow * rowsPerPage; }
    int pageCount(int thumbnails) const;
    QRectF cellRect(int indexOnPage) const;
};
ThumbnailLayout LayOutThumbnails(const QRectF &body, const QSizeF &cellSize);
