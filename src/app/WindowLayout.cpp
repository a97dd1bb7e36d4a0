#include "app/WindowLayout.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QtGlobal>

using namespace WindowLayout;

namespace {
int frame4Width(QRect video)
{
    return qMax(video.width(), frame4MinimumWidth);
}

int tabsLeft(QRect video)
{
    return video.x() + frame4Width(video) + margin;
}
} // namespace

LowerLayout LayOutLower(QSize central, QRect video, int topRowBottom)
{
    LowerLayout l;
    const int width = frame4Width(video);
    const int tabsX = tabsLeft(video);
    const int minimumWidth = tabsX + tabsWidth + margin;
    const int top = topRowBottom + gap;
    const int pathY = qMax(central.height() - gap - pathLineHeight, top + lowerMinimum + gap);
    const int lowerHeight = pathY - gap - top;
    l.frame4 = QRect(video.x(), top, width, lowerHeight);
    // Inside the frame: the title above, the filter row at the bottom.
    l.grid = QRect(8, 24, width - 16, lowerHeight - 68);
    l.filterRowY = lowerHeight - 36;
    l.tabs = QRect(tabsX, top, tabsWidth, lowerHeight);
    l.pathLine = QRect(margin, pathY, qMax(central.width(), minimumWidth) - 2 * margin, pathLineHeight);
    return l;
}

QSize MinimumCentralSize(QRect video, int topRowBottom, int topRowRight)
{
    return {qMax(tabsLeft(video) + tabsWidth + margin, topRowRight + margin),
            topRowBottom + gap + lowerMinimum + gap + pathLineHeight + gap};
}

QRect FitWithin(QRect frame, QRect available)
{
    if (available.isEmpty())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(qBound(available.left(), fitted.left(), available.right() + 1 - fitted.width()));
    fitted.moveTop(qBound(available.top(), fitted.top(), available.bottom() + 1 - fitted.height()));
    return fitted;
}

void ScrollCentralWidget(QMainWindow *window)
{
    auto *scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("centralScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(window->takeCentralWidget());
    window->setCentralWidget(scroll);
}

QSize RoomOnScreen(const QMainWindow &window)
{
    const QScreen *screen = window.screen();
    if (!screen)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    const int bars = (window.menuBar() ? window.menuBar()->sizeHint().height() : 0) +
                     (window.statusBar() ? window.statusBar()->sizeHint().height() : 0);
    const QSize room =
        screen->availableGeometry().size() - (window.frameGeometry().size() - window.size()) - QSize(0, bars);
    return room.expandedTo(QSize(200, 150));
}
