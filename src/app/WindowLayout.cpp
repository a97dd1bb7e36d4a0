#include "app/WindowLayout.h"

#include <QtGlobal>

using namespace WindowLayout;

LowerLayout LayOutLower(QSize central, int topRowBottom)
{
    LowerLayout l;
    const int top = topRowBottom + gap;
    const int pathY = qMax(central.height() - gap - pathLineHeight, top + lowerMinimum + gap);
    const int lowerHeight = pathY - gap - top;
    l.frame4 = QRect(margin, top, frame4Width, lowerHeight);
    // Inside the frame: the title above, the filter row at the bottom.
    l.grid = QRect(8, 24, frame4Width - 16, lowerHeight - 68);
    l.filterRowY = lowerHeight - 36;
    l.tabs = QRect(tabsX, top, tabsWidth, lowerHeight);
    l.pathLine = QRect(margin, pathY, qMax(central.width(), minimumWidth) - 2 * margin, pathLineHeight);
    return l;
}

QSize MinimumCentralSize(int topRowBottom, int topRowRight)
{
    return {qMax(minimumWidth, topRowRight + margin),
            topRowBottom + gap + lowerMinimum + gap + pathLineHeight + gap};
}
