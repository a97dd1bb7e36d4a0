#pragma once

#include <QRect>
#include <QSize>

// Where the lower parts of the main window go. The top row (live video,
// preview, camera buttons) keeps its place and size; under it the grid frame
// (Frame4) and the settings tabs (SSTab1) take whatever height is left above
// the path line (Text2), which runs along the bottom at the window's width.
// A bigger window gives the grid more rows, never moves the top row.
//
//     const LowerLayout l = LayOutLower(centralWidget->size(), topRowBottom);
//     ui->Frame4->setGeometry(l.frame4);
struct LowerLayout
{
    QRect frame4;       // the grid frame, in the central widget
    QRect grid;         // Grid1, inside the frame
    int filterRowY = 0; // top of the row under the grid (打开表, 筛选, the two lists), inside the frame
    QRect tabs;         // SSTab1
    QRect pathLine;     // Text2
};

namespace WindowLayout {
constexpr int margin = 8; // around the parts, left and right
constexpr int gap = 6;    // between the rows
constexpr int pathLineHeight = 24;
constexpr int lowerMinimum = 256; // the tallest settings page and its tab bar
constexpr int frame4Width = 449;
constexpr int tabsX = 465;
constexpr int tabsWidth = 518;
constexpr int minimumWidth = tabsX + tabsWidth + margin;
} // namespace WindowLayout

// The lower parts for a central area of `central` whose top row ends at
// `topRowBottom` (in the central widget's coordinates). Below the minimum
// size the parts keep their minimum and run past the edge.
LowerLayout LayOutLower(QSize central, int topRowBottom);

// The smallest central area that shows every part whole.
QSize MinimumCentralSize(int topRowBottom, int topRowRight);
