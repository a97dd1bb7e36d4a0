// The print layout's arithmetic: which rows and columns go on which page,
// and where the grid lies on the paper.
#include "print/PrintLayout.h"

#include <QtTest>

#include <cmath>

namespace {

// A setup whose body is exactly `bodyW` x `bodyH` points: a custom paper
// with 1 cm margins (1 cm = kPointsPerCm points).
PageSetup setupWithBody(double bodyW, double bodyH)
{
    PageSetup s;
    s.PaperWidth = float((bodyW / kPointsPerCm) + 2);
    s.PaperHeight = float((bodyH / kPointsPerCm) + 2);
    s.TopMargin = s.BottomMargin = s.LeftMargin = s.RightMargin = 1.0f;
    return s;
}

GridMetrics grid(int dataRows, QList<double> widths, double rowHeight = 10)
{
    GridMetrics g;
    g.rows = dataRows + 1;
    g.columnWidths = std::move(widths);
    g.rowHeight = rowHeight;
    return g;
}

QList<int> range(int first, int last)
{
    QList<int> r;
    for (int i = first; i <= last; ++i)
        r << i;
    return r;
}

} // namespace

class TstPrintLayout : public QObject
{
    Q_OBJECT
private slots:
    void rowsPerPage_data();
    void rowsPerPage();
    void titleAndBottomRowsRepeat();
    void fixedRowAndColumnLeftOut();
    void columnBands_data();
    void columnBands();
    void everyRowAndColumnOnce();
    void centring_data();
    void centring();
    void zoomAndOrientation();
    void emptyGrid();
    void cancelled();
    void thumbnails_data();
    void thumbnails();
};

// Body 100 points high, rows 10 high, the header row on every page: 9 data
// rows fit a page. The float paper size costs a little precision, which
// must not push the ninth row off.
void TstPrintLayout::rowsPerPage_data()
{
    QTest::addColumn<int>("dataRows");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("rowsOnLastPage"); // header included
    QTest::newRow("one row") << 1 << 1 << 2;
    QTest::newRow("page exactly full") << 9 << 1 << 10;
    QTest::newRow("one row over") << 10 << 2 << 2;
    QTest::newRow("two pages exactly") << 18 << 2 << 10;
    QTest::newRow("many") << 1000 << 112 << 2; // 1000 = 111 * 9 + 1
}

void TstPrintLayout::rowsPerPage()
{
    QFETCH(int, dataRows);
    QFETCH(int, pages);
    QFETCH(int, rowsOnLastPage);
    const PrintLayout l = LayOutPages(setupWithBody(500, 100), grid(dataRows, {20, 50, 50}));
    QCOMPARE(l.pages.size(), pages);
    QCOMPARE(l.pages.last().rows.size(), rowsOnLastPage);
    QCOMPARE(l.pages.first().rows.first(), 0); // the header row
    QCOMPARE(l.pages.last().rows.last(), dataRows);
}

void TstPrintLayout::titleAndBottomRowsRepeat()
{
    PageSetup s = setupWithBody(500, 100); // 10 rows of 10
    s.PrintTitleRows = 2;
    s.PrintBottomTitleRows = 1;
    // Header + 2 titles + 1 bottom leave 6 body rows a page; data rows
    // 3 .. 19 are the body (17 rows: 3 pages), 20 is the bottom title.
    const PrintLayout l = LayOutPages(s, grid(20, {20, 50}));
    QCOMPARE(l.pages.size(), 3);
    QCOMPARE(l.pages.at(0).rows, QList<int>({0, 1, 2}) + range(3, 8) + QList<int>{20});
    QCOMPARE(l.pages.at(1).rows, QList<int>({0, 1, 2}) + range(9, 14) + QList<int>{20});
    QCOMPARE(l.pages.at(2).rows, QList<int>({0, 1, 2}) + range(15, 19) + QList<int>{20});
    QCOMPARE(l.pages.at(2).titleRowCount, 3);
    QCOMPARE(l.pages.at(2).bottomRowCount, 1);

    // More title rows than data: every data row is a title row, no page is lost.
    s.PrintTitleRows = 50;
    const PrintLayout all = LayOutPages(s, grid(4, {20, 50}));
    QCOMPARE(all.pages.size(), 1);
    QCOMPARE(all.pages.at(0).rows, range(0, 4));
}

void TstPrintLayout::fixedRowAndColumnLeftOut()
{
    PageSetup s = setupWithBody(500, 100);
    s.PrintFixedRow = false;
    s.PrintFixedColumn = false;
    const PrintLayout l = LayOutPages(s, grid(10, {20, 50, 50}));
    QCOMPARE(l.pages.size(), 1); // 10 rows fit without the header
    QCOMPARE(l.pages.at(0).rows, range(1, 10));
    QCOMPARE(l.pages.at(0).columns, QList<int>({1, 2}));
}

void TstPrintLayout::columnBands_data()
{
    QTest::addColumn<QList<double>>("widths");
    QTest::addColumn<int>("titleColumns");
    QTest::addColumn<QList<QList<int>>>("bands");
    // Body 100 wide; the fixed column (20) repeats on every page.
    QTest::newRow("fits") << QList<double>{20, 30, 40} << 0 << QList<QList<int>>{{0, 1, 2}};
    QTest::newRow("exactly full") << QList<double>{20, 40, 40} << 0 << QList<QList<int>>{{0, 1, 2}};
    QTest::newRow("one over") << QList<double>{20, 40, 41} << 0 << QList<QList<int>>{{0, 1}, {0, 2}};
    QTest::newRow("too wide alone") << QList<double>{20, 300, 10} << 0 << QList<QList<int>>{{0, 1}, {0, 2}};
    QTest::newRow("title column repeats")
        << QList<double>{20, 30, 40, 40} << 1 << QList<QList<int>>{{0, 1, 2}, {0, 1, 3}};
}

void TstPrintLayout::columnBands()
{
    QFETCH(QList<double>, widths);
    QFETCH(int, titleColumns);
    QFETCH(QList<QList<int>>, bands);
    PageSetup s = setupWithBody(100, 500);
    s.PrintTitleColumns = titleColumns;
    const PrintLayout l = LayOutPages(s, grid(3, widths));
    QCOMPARE(l.pages.size(), bands.size());
    for (int i = 0; i < bands.size(); ++i)
        QCOMPARE(l.pages.at(i).columns, bands.at(i));
}

// Over many grids and setups: each body row stands on exactly one page of
// each column band, in order; each body column in exactly one band; a page
// never holds more than fits unless a single row or column is too large.
void TstPrintLayout::everyRowAndColumnOnce()
{
    for (int rows : {0, 1, 7, 33, 250})
        for (int zoom : {10, 73, 100, 400})
            for (int titles : {0, 2})
                for (int orientation : {1, 2}) {
                    PageSetup s;
                    s.Zoom = zoom;
                    s.Orientation = orientation;
                    s.PrintTitleRows = titles;
                    s.PrintTitleColumns = titles / 2;
                    s.PrintBottomTitleRows = titles / 2;
                    QList<double> widths{30};
                    for (int c = 0; c < 9; ++c)
                        widths << 40 + 37 * (c % 4);
                    const GridMetrics g = grid(rows, widths, 15);
                    const PrintLayout l = LayOutPages(s, g);
                    const QString where = QStringLiteral("rows %1 zoom %2 titles %3 orientation %4")
                                              .arg(rows)
                                              .arg(zoom)
                                              .arg(titles)
                                              .arg(orientation);
                    QVERIFY2(!l.pages.isEmpty(), qPrintable(where));
                    QHash<int, int> rowSeen;    // body row -> times
                    QHash<int, int> columnSeen; // body column -> bands
                    QList<int> lastBand;
                    for (const PrintPage &p : l.pages) {
                        const QList<int> body =
                            p.rows.mid(p.titleRowCount, p.rows.size() - p.titleRowCount - p.bottomRowCount);
                        for (int i = 1; i < body.size(); ++i)
                            QVERIFY2(body.at(i) == body.at(i - 1) + 1, qPrintable(where));
                        for (int r : body)
                            ++rowSeen[r];
                        const QList<int> band = p.columns.mid(p.titleColumnCount);
                        if (band != lastBand)
                            for (int c : band)
                                ++columnSeen[c];
                        lastBand = band;
                        if (body.size() > 1)
                            QVERIFY2(p.grid.height() <= l.body.height() + 1e-6, qPrintable(where));
                        if (band.size() > 1)
                            QVERIFY2(p.grid.width() <= l.body.width() + 1e-6, qPrintable(where));
                    }
                    const int columnBands =
                        int(std::count_if(l.pages.begin(), l.pages.end(), [&](const PrintPage &p) {
                            return p.rows == l.pages.first().rows;
                        }));
                    const int bodyFirst = 1 + std::min(titles, rows);
                    const int bodyEnd = rows + 1 - std::min(titles / 2, std::max(0, rows - titles));
                    for (int r = bodyFirst; r < bodyEnd; ++r)
                        QVERIFY2(rowSeen.value(r) == columnBands,
                                 qPrintable(where + QStringLiteral(" row %1").arg(r)));
                    QCOMPARE(rowSeen.size(), std::max(0, bodyEnd - bodyFirst));
                    for (int c = 1 + titles / 2; c < widths.size(); ++c)
                        QVERIFY2(columnSeen.value(c) == 1,
                                 qPrintable(where + QStringLiteral(" column %1").arg(c)));
                }
}

void TstPrintLayout::centring_data()
{
    QTest::addColumn<bool>("horizontally");
    QTest::addColumn<bool>("vertically");
    QTest::addColumn<QPointF>("origin"); // relative to the body's top left
    // Body 200 x 100; the grid is 20 + 60 = 80 wide and 3 rows of 10 high.
    QTest::newRow("neither") << false << false << QPointF(0, 0);
    QTest::newRow("across") << true << false << QPointF(60, 0);
    QTest::newRow("down") << false << true << QPointF(0, 35);
    QTest::newRow("both") << true << true << QPointF(60, 35);
}

void TstPrintLayout::centring()
{
    QFETCH(bool, horizontally);
    QFETCH(bool, vertically);
    QFETCH(QPointF, origin);
    PageSetup s = setupWithBody(200, 100);
    s.CenterHorizontally = horizontally;
    s.CenterVertically = vertically;
    const PrintLayout l = LayOutPages(s, grid(2, {20, 60}));
    QCOMPARE(l.pages.size(), 1);
    const QPointF at = l.pages.at(0).grid.topLeft() - l.body.topLeft();
    QVERIFY2(std::abs(at.x() - origin.x()) < 1e-3 && std::abs(at.y() - origin.y()) < 1e-3,
             qPrintable(QStringLiteral("%1, %2").arg(at.x()).arg(at.y())));
    QCOMPARE(l.pages.at(0).grid.size(), QSizeF(80, 30));
}

void TstPrintLayout::zoomAndOrientation()
{
    PageSetup s; // A4, 2 cm at the sides, 2.5 cm top and bottom
    const PrintLayout upright = LayOutPages(s, grid(10, {20}));
    QVERIFY(std::abs(upright.paper.width() - 21.0 * kPointsPerCm) < 1e-3);
    QVERIFY(std::abs(upright.paper.height() - 29.7 * kPointsPerCm) < 1e-3);
    QVERIFY(std::abs(upright.body.left() - 2.0 * kPointsPerCm) < 1e-3);
    QVERIFY(std::abs(upright.headerY - 1.5 * kPointsPerCm) < 1e-3);
    QVERIFY(std::abs(upright.footerY - (29.7 - 1.5) * kPointsPerCm) < 1e-3);
    s.Orientation = 2;
    const PrintLayout side = LayOutPages(s, grid(10, {20}));
    QCOMPARE(side.paper, upright.paper.transposed());

    // Half size: twice the rows on a page; the grid's place is scaled.
    PageSetup z = setupWithBody(500, 100);
    z.Zoom = 50;
    const PrintLayout half = LayOutPages(z, grid(40, {20, 50}));
    QCOMPARE(half.pages.size(), 3); // 19 data rows a page
    QCOMPARE(half.pages.at(0).rows.size(), 20);
    QCOMPARE(half.pages.at(0).grid.size(), QSizeF(35, 100));
}

void TstPrintLayout::emptyGrid()
{
    const PrintLayout l = LayOutPages(PageSetup(), grid(0, {30, 80, 80}));
    QCOMPARE(l.pages.size(), 1);
    QCOMPARE(l.pages.at(0).rows, QList<int>{0});
    QCOMPARE(l.pages.at(0).columns, QList<int>({0, 1, 2}));

    GridMetrics nothing;
    nothing.rows = 0;
    QCOMPARE(LayOutPages(PageSetup(), nothing).pages.size(), 1);
}

void TstPrintLayout::cancelled()
{
    int asked = 0;
    const PrintLayout l = LayOutPages(setupWithBody(500, 100), grid(5000, {20, 50}),
                                      [&asked](int, int) { return ++asked < 3; });
    QVERIFY(l.cancelled);
    QVERIFY(l.pages.isEmpty());
    QCOMPARE(asked, 3);

    QList<std::pair<int, int>> reports;
    LayOutPages(setupWithBody(500, 100), grid(5000, {20, 50}), [&reports](int done, int total) {
        reports << std::pair{done, total};
        return true;
    });
    QCOMPARE(reports.last(), std::pair(556, 556)); // 5000 rows, 9 a page
}

void TstPrintLayout::thumbnails_data()
{
    QTest::addColumn<QSizeF>("body");
    QTest::addColumn<int>("photos");
    QTest::addColumn<int>("perRow");
    QTest::addColumn<int>("perPage");
    QTest::addColumn<int>("pages");
    const QSizeF cell(100, 150);
    QTest::newRow("none") << QSizeF(500, 600) << 0 << 5 << 20 << 1;
    QTest::newRow("page exactly full") << QSizeF(500, 600) << 20 << 5 << 20 << 1;
    QTest::newRow("one more") << QSizeF(500, 600) << 21 << 5 << 20 << 2;
    QTest::newRow("a hair short") << QSizeF(499.9, 600) << 20 << 4 << 16 << 2;
    QTest::newRow("cell larger than body") << QSizeF(50, 50) << 3 << 1 << 1 << 3;
    QTest::newRow("spare room both ways") << QSizeF(450, 700) << 17 << 4 << 16 << 2;
}

void TstPrintLayout::thumbnails()
{
    QFETCH(QSizeF, body);
    QFETCH(int, photos);
    QFETCH(int, perRow);
    QFETCH(int, perPage);
    QFETCH(int, pages);
    const ThumbnailLayout t = LayOutThumbnails(QRectF(QPointF(30, 40), body), QSizeF(100, 150));
    QCOMPARE(t.perRow, perRow);
    QCOMPARE(t.perPage(), perPage);
    QCOMPARE(t.pageCount(photos), pages);
    // Cells stay inside the body (when one fits) and do not overlap.
    for (int i = 0; i < t.perPage(); ++i) {
        const QRectF cell = t.cellRect(i);
        if (body.width() >= 100 && body.height() >= 150)
            QVERIFY(t.body.adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(cell));
        for (int j = 0; j < i; ++j)
            QVERIFY(!cell.intersected(t.cellRect(j)).isValid() || cell.intersected(t.cellRect(j)).isEmpty());
    }
    // The spare room goes between the cells: the last column and the last
    // row end where the body does.
    if (t.perRow > 1 && body.width() >= 100)
        QCOMPARE(t.cellRect(t.perRow - 1).right(), t.body.right());
    if (t.rowsPerPage > 1 && body.height() >= 150)
        QCOMPARE(t.cellRect(t.perPage() - 1).bottom(), t.body.bottom());
}

QTEST_GUILESS_MAIN(TstPrintLayout)
#include "tst_printlayout.moc"
