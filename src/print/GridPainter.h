#pragma once

#include "print/PrintLayout.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QPainter;

// What the painter reads of the grid.
struct GridPrintSource
{
    GridMetrics metrics;
    std::function<QString(int row, int column)> text;
    std::function<bool(int column)> rightAligned; // numbers stand to the right
    QFont font;                                   // the grid's font; its point size is used
    QColor fixedColour{231, 235, 247};            // back colour of the fixed row and column
};

// A photo page entry: the name under the thumbnail and the photo's file
// (empty or missing: the row has no photo).
struct RowPhoto
{
    QString label;
    QString path;
};

// Makes the painter draw in points on a paper of paperSize points filling
// the device (a printer page in full-page mode or an image).
void BeginPaperPainting(QPainter &painter, const QSizeF &paperSize);

// A font of `points` points in the painter's point coordinates, whatever
// the device's resolution.
QFont PaperFont(const QFont &font, double points, const QPainter &painter);

// Draws page `index` of the layout: the header and footer lines, the cells
// with their texts (clipped to their cells, elided when too long), the
// fixed cells' colour unless in black and white, and the grid lines.
void PaintGridPage(QPainter &painter, const PrintLayout &layout, int index, const PageSetup &setup,
                   const GridPrintSource &source);

// Size of a thumbnail cell on a photo page, in points: a 3 x 4 cm photo and
// a name line below it, with room around.
QSizeF PhotoCellSize();

// Draws one photo page: `photos` are the rows of this page, in order. A row
// whose photo file cannot be read gets a crossed box saying "无照片".
void PaintPhotoPage(QPainter &painter, const ThumbnailLayout &layout, const QList<RowPhoto> &photos,
                    const PageSetup &setup, const QFont &font);

inline const QString kNoPhotoText = QStringLiteral("无照片");
