#pragma once

#include <QRect>
#include <QSize>

// Where the lower parts of the main window go. The top row (live video,
// preview, camera buttons) keeps its place and size; under it the grid frame
// (Frame4) and the settings tabs (SSTab1) take whatever height is left above
// the path line (Text2), which runs along the bottom at the window's width.
// A bigger window gives the grid more rows and more width, never moves the
// top row. At the smallest width the grid frame is as wide as the video
// window above it (at least as wide as its filter row); the tabs stand
// beside it at the right, always as wide, and every pixel beyond goes to the
// grid frame.
//
//     const LowerLayout l = LayOutLower(centralWidget->size(), video->geometry(), topRowBottom);
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
constexpr int lowerMinimum = 264; // the tallest settings page and its tab bar
constexpr int tabsWidth = 518;
// The grid frame's row of filter controls needs this much: a narrower video
// window leaves the frame at this width.
constexpr int frame4MinimumWidth = 449;
} // namespace WindowLayout

// The lower parts for a central area of `central` whose top row ends at
// `topRowBottom`, under the video window at `video` (in the central widget's
// coordinates). Below the minimum size the parts keep their minimum and run
// past the edge.
LowerLayout LayOutLower(QSize central, QRect video, int topRowBottom);

// The smallest central area that shows every part whole.
QSize MinimumCentralSize(QRect video, int topRowBottom, int topRowRight);

// A window's frame rectangle moved and, if need be, made smaller so that it
// lies within `available` (the screen less its panels): what a window that
// grew may take without a part going off the screen.
QRect FitWithin(QRect frame, QRect available);

class QMainWindow;

// Puts the window's central widget into a scroll area (objectName
// "centralScroll"): a window that grew past the screen (a larger video
// window) scrolls its parts rather than hide them off the edge.
void ScrollCentralWidget(QMainWindow *window);

// The largest central area the window's screen can show: its available
// size less the window's frame, menu bar and status bar (at least 200 x 150).
QSize RoomOnScreen(const QMainWindow &window);

// Where the main window stood when it was last closed, kept under
// SettingsStore's window keys: its normal geometry (not the maximised one)
// and whether it was maximised.
void SaveWindowPlacement(const QMainWindow &window);
// Puts the window back there (moved and shrunk into the screen it is on now)
// and maximises it when it was; a first run (nothing stored) leaves it as it is.
void RestoreWindowPlacement(QMainWindow &window);
