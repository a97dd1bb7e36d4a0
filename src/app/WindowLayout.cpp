#include "app/WindowLayout.h"

#include "app/SettingsStore.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QtGlobal>

#include <optional>

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
    const int minimumWidth = tabsLeft(video) + tabsWidth + margin;
    // A wider window widens the grid frame; the tabs keep their width at the right.
    const int width = frame4Width(video) + qMax(0, central.width() - minimumWidth);
    const int tabsX = video.x() + width + margin;
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

namespace {
// The stored number, or nothing when the key is missing or holds no whole number.
std::optional<int> storedNumber(const char *key)
{
    bool ok = false;
    const int n = SettingsStore::get(QLatin1String(key), QString()).toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}
} // namespace

void SaveWindowPlacement(const QMainWindow &window)
{
    using K = SettingsStore::WindowKey;
    const QRect normal =
        window.isMaximized() || window.isFullScreen() ? window.normalGeometry() : window.geometry();
    const int values[] = {normal.x(), normal.y(), normal.width(), normal.height(),
                          window.isMaximized() ? 1 : 0};
    for (int k = 0; k < 5; ++k)
        SettingsStore::save(QLatin1String(SettingsStore::windowKey(K(k))), QString::number(values[k]));
}

void RestoreWindowPlacement(QMainWindow &window)
{
    using K = SettingsStore::WindowKey;
    const auto x = storedNumber(SettingsStore::windowKey(K::Left));
    const auto y = storedNumber(SettingsStore::windowKey(K::Top));
    const auto w = storedNumber(SettingsStore::windowKey(K::Width));
    const auto h = storedNumber(SettingsStore::windowKey(K::Height));
    if (x && y && w && h && *w > 0 && *h > 0) {
        QRect stored(*x, *y, *w, *h);
        // Within the screen as it is now (another monitor, a smaller
        // resolution), never smaller than the parts need.
        if (const QScreen *screen = window.screen())
            stored = FitWithin(stored, screen->availableGeometry());
        stored.setSize(stored.size().expandedTo(window.minimumSizeHint()));
        window.setGeometry(stored);
    }
    if (storedNumber(SettingsStore::windowKey(K::Maximised)).value_or(0) == 1)
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}
