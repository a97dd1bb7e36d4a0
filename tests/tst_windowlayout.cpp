// The main window fits a school laptop's screen and grows without moving
// its parts.

#include "WindowHarness.h"

#include "app/SettingsStore.h"
#include "app/WindowLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QtTest>

namespace {

// Where a widget stands in the window, for comparing before and after.
QRect inWindow(const QWidget *w)
{
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

// Every visible child (at any depth) that reaches outside its parent, or
// overlaps a sibling it does not contain: what a person would see cut off.
QStringList cutOff(const QWidget *parent)
{
    QStringList faults;
    const QList<QWidget *> children = parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (const QWidget *child : children) {
        if (child->isHidden() || child->isWindow() || child->inherits("QMenu"))
            continue;
        if (!parent->rect().contains(child->geometry()))
            faults << QStringLiteral("%1 outside %2").arg(child->objectName(), parent->objectName());
        faults << cutOff(child);
    }
    return faults;
}

} // namespace

class TstWindowLayout : public QObject
{
    Q_OBJECT
private slots:
    void startsWithinASchoolLaptopScreen();
    void everySettingsPageShowsWhole_data();
    void everySettingsPageShowsWhole();
    void aBiggerWindowGivesTheGridMoreRows();
    void neverSmallerThanItsParts();
    void statusLineShowsTheWholeReason_data();
    void statusLineShowsTheWholeReason();
    void statusLineOutlivesMenuHints();
    void windowComesBackWhereItWas();
};

void TstWindowLayout::startsWithinASchoolLaptopScreen()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // 1366 x 768 less a title bar and a desktop panel.
    QVERIFY2(form.width() <= 1366 && form.height() <= 708,
             qPrintable(QStringLiteral("%1 x %2").arg(form.width()).arg(form.height())));
    QVERIFY(form.statusBar()->isVisible());
    QVERIFY(form.rect().contains(inWindow(form.statusBar())));
    const QStringList faults = cutOff(form.centralWidget());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void TstWindowLayout::everySettingsPageShowsWhole_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("tableMode");
    QTest::newRow("save settings, ordinary mode") << 0 << false;
    QTest::newRow("save settings, table mode") << 0 << true;
    QTest::newRow("photo settings with the caption panel") << 1 << false;
}

void TstWindowLayout::everySettingsPageShowsWhole()
{
    QFETCH(int, page);
    QFETCH(bool, tableMode);
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    form.SetTableModeControls(tableMode);
    h.w<QWidget>("Frame5")->setVisible(page == 1);
    auto *tabs = h.w<QTabWidget>("SSTab1");
    tabs->setCurrentIndex(page);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget *shown = tabs->currentWidget();
    QVERIFY(shown->height() > 100);
    const QStringList faults = cutOff(shown);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void TstWindowLayout::aBiggerWindowGivesTheGridMoreRows()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const char *topRow[] = {"Frame2", "Frame3", "Image1", "Command8"};
    QList<QRect> before;
    for (const char *name : topRow)
        before << inWindow(h.w<QWidget>(name));
    const QRect grid = h.w<QWidget>("Grid1")->geometry();
    const QRect tabs = h.w<QWidget>("SSTab1")->geometry();

    // Both directions go to the grid; the tabs keep their size at the right.
    form.resize(form.width() + 300, form.height() + 200);
    QTRY_COMPARE(h.w<QWidget>("Grid1")->height(), grid.height() + 200);
    QCOMPARE(h.w<QWidget>("Grid1")->width(), grid.width() + 300);
    for (int i = 0; i < before.size(); ++i)
        QCOMPARE(inWindow(h.w<QWidget>(topRow[i])), before.at(i));
    QCOMPARE(h.w<QWidget>("SSTab1")->height(), tabs.height() + 200);
    QCOMPARE(h.w<QWidget>("SSTab1")->width(), tabs.width());
    QCOMPARE(h.w<QWidget>("SSTab1")->pos(), tabs.topLeft() + QPoint(300, 0));
    // The path line runs along the bottom, as wide as the window.
    const QWidget *path = h.w<QWidget>("Text2");
    QCOMPARE(path->geometry().bottom() + 1 + WindowLayout::gap, form.centralWidget()->height());
    QCOMPARE(path->width(), form.centralWidget()->width() - 2 * WindowLayout::margin);
    // The filter row stays under the grid, inside its frame.
    const QWidget *combo2 = h.w<QWidget>("Combo2");
    QVERIFY(combo2->y() > h.w<QWidget>("Grid1")->geometry().bottom());
    QVERIFY(h.w<QWidget>("Frame4")->rect().contains(combo2->geometry()));
}

void TstWindowLayout::neverSmallerThanItsParts()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize start = form.size();
    form.resize(400, 300);
    QTRY_COMPARE(form.size(), start);
    const QStringList faults = cutOff(form.centralWidget());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void TstWindowLayout::statusLineShowsTheWholeReason_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("end");      // how the line shown ends: "" whole, "…" cut, else these words
    QTest::addColumn<QStringList>("kept"); // words shown whole, wherever
    QTest::newRow("short") << QStringLiteral("照片已保存：/tmp/a.jpg") << QString() << QStringList();
    QTest::newRow("longer than the line")
        << QStringLiteral("照片已保存：/home/secretary/Pictures/初三（二）班/2024000001 张三.jpg；")
                   .repeated(6) +
               QStringLiteral("关键字段匹配到 2 条记录，文件名未写入数据表")
        << QStringLiteral("…") << QStringList();
    // The folders in the middle of the paths give way, the advice stays.
    QTest::newRow("a lock and its advice")
        << QStringLiteral(
               "照片已保存：/home/secretary/Pictures/2024年秋季/初三（二）班/2024000001 张三.jpg；"
               "文件名未写入数据表：数据表被其他程序锁定：/home/secretary/Documents/名单/2024年秋季/"
               "高一学生名单.xls（存在锁定文件 .~lock.高一学生名单.xls#），请在那个程序中关闭它后再试")
        << QStringLiteral("，请在那个程序中关闭它后再试")
        << QStringList{QStringLiteral("照片已保存：/"),
                       QStringLiteral("/2024000001 张三.jpg；文件名未写入数据表"),
                       QStringLiteral("数据表被其他程序锁定：/"), QStringLiteral("/高一学生名单.xls（"),
                       QStringLiteral("…")};
    QTest::newRow("with a line break") << QStringLiteral("第一行\n第二行") << QString() << QStringList();
}

void TstWindowLayout::statusLineShowsTheWholeReason()
{
    QFETCH(QString, message);
    QFETCH(QString, end);
    QFETCH(QStringList, kept);
    const bool cut = !end.isEmpty();
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.setStatus(message);
    QCOMPARE(form.statusText(), message);
    const auto *line = h.w<QLabel>("statusLine");
    QVERIFY(line->isVisible());
    // The line shows what fits, inside the window ...
    QVERIFY(form.rect().contains(inWindow(line)));
    QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->contentsRect().width());
    QVERIFY2(cut ? line->text().endsWith(end) : line->text() == QString(message).replace(u'\n', u' '),
             qPrintable(line->text()));
    for (const QString &words : std::as_const(kept))
        QVERIFY2(line->text().contains(words), qPrintable(words + QStringLiteral(" in ") + line->text()));
    QVERIFY(!line->text().contains(QLatin1Char('\n')));
    // ... and the whole reason is one hover away.
    QCOMPARE(line->toolTip(), cut ? message : QString());
    // A wider window shows more of it.
    const int shown = line->text().size();
    form.resize(form.width() + 300, form.height());
    QTRY_VERIFY(line->text().size() >= shown);
}

void TstWindowLayout::statusLineOutlivesMenuHints()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    form.setStatus(QStringLiteral("文件名未写入数据表：主键“学号”为空"));
    // Hovering a menu item sends its status tip to the window, and an
    // empty one when the pointer leaves.
    for (const QString &hint : {QStringLiteral("打开一个数据表"), QString()}) {
        QStatusTipEvent tip{hint};
        QCoreApplication::sendEvent(&form, &tip);
        QVERIFY(h.w<QLabel>("statusLine")->isVisible());
    }
    QCOMPARE(h.w<QLabel>("statusLine")->text(), QStringLiteral("文件名未写入数据表：主键“学号”为空"));
    QCOMPARE(form.statusText(), QStringLiteral("文件名未写入数据表：主键“学号”为空"));
}

// Where the window stood at the last close, maximised or not, it stands at
// the next start, and the grid has the room.
void TstWindowLayout::windowComesBackWhereItWas()
{
    clearStore();
    const auto stored = [](SettingsStore::WindowKey key) {
        return SettingsStore::get(QLatin1String(SettingsStore::windowKey(key)), QStringLiteral("none"));
    };
    QRect normal;
    QSize smallest;
    {
        WindowHarness h;
        Form1 &form = h.build();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        smallest = h.w<QWidget>("Grid1")->size();
        form.setGeometry(QRect(QPoint(40, 30), form.size() + QSize(200, 30)));
        QTRY_COMPARE(h.w<QWidget>("Grid1")->size(), smallest + QSize(200, 30));
        normal = form.geometry();
        form.close();
        QCOMPARE(stored(SettingsStore::WindowKey::Width), QString::number(normal.width()));
        QCOMPARE(stored(SettingsStore::WindowKey::Maximised), QStringLiteral("0"));
    }
    QSize maximisedGrid;
    {
        WindowHarness h;
        Form1 &form = h.build();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.geometry(), normal);
        form.showMaximized();
        QTRY_VERIFY(form.isMaximized());
        QTRY_VERIFY(h.w<QWidget>("Grid1")->height() > smallest.height() + 30);
        maximisedGrid = h.w<QWidget>("Grid1")->size();
        form.close();
        QCOMPARE(stored(SettingsStore::WindowKey::Maximised), QStringLiteral("1"));
        // The size to go back to is the normal one.
        QCOMPARE(stored(SettingsStore::WindowKey::Width), QString::number(normal.width()));
    }
    {
        WindowHarness h;
        Form1 &form = h.build();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(form.isMaximized());
        QTRY_COMPARE(h.w<QWidget>("Grid1")->size(), maximisedGrid);
        QVERIFY(maximisedGrid.width() > smallest.width() + 200);
        form.showNormal();
        QTRY_COMPARE(form.geometry(), normal);
        form.close();
    }
    // Stored beyond a screen that has since become smaller: back on it.
    SettingsStore::save(QLatin1String(SettingsStore::windowKey(SettingsStore::WindowKey::Left)),
                        QStringLiteral("3000"));
    SettingsStore::save(QLatin1String(SettingsStore::windowKey(SettingsStore::WindowKey::Maximised)),
                        QStringLiteral("0"));
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.screen()->availableGeometry().contains(form.geometry()));
}

QTEST_MAIN(TstWindowLayout)
#include "tst_windowlayout.moc"
