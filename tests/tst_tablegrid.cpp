#include "data/RosterModel.h"
#include "data/TableGrid.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QtTest>

namespace {
// A grid showing a roster of its own.
struct ShownGrid : TableGrid
{
    RosterModel roster;
    ShownGrid() { showRoster(&roster, nullptr); }
    ~ShownGrid() override { showRoster(nullptr, nullptr); }
};
} // namespace

// The roster and its grid in grid coordinates: header row 0, row-header column 0.
class TstTableGrid : public QObject
{
    Q_OBJECT
private slots:
    void appendRowPutsPartsFromColumnOne_data();
    void appendRowPutsPartsFromColumnOne();
    void cellsOutsideTheGridReadEmpty_data();
    void cellsOutsideTheGridReadEmpty();
    void bulkLoadKeepsColumnWidths();
    void bulkLoadReachesTheViewOnResume();
    void activeCellRaisesRowChangeEvenOnTheSameRow();
    void rowHeaderAttributeAndCodes();
};

void TstTableGrid::appendRowPutsPartsFromColumnOne_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QStringList>("cells"); // columns 1..cols-1 of the new row

    QTest::newRow("exact") << 4 << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c"};
    QTest::newRow("short row leaves the rest empty") << 4 << QStringList{"a"} << QStringList{"a", "", ""};
    QTest::newRow("extra parts are dropped") << 3 << QStringList{"a", "b", "c"} << QStringList{"a", "b"};
    QTest::newRow("tab inside a part stays") << 3 << QStringList{"x\ty", "z"} << QStringList{"x\ty", "z"};
    QTest::newRow("empty row") << 3 << QStringList{} << QStringList{"", ""};
}

void TstTableGrid::appendRowPutsPartsFromColumnOne()
{
    QFETCH(int, cols);
    QFETCH(QStringList, parts);
    QFETCH(QStringList, cells);
    ShownGrid grid;
    grid.roster.setCols(cols);
    grid.roster.setRows(1);
    grid.roster.appendRow(parts, true);
    QCOMPARE(grid.roster.rows(), 2);
    QStringList got;
    for (int c = 1; c < grid.roster.cols(); ++c)
        got << grid.roster.cellText(1, c);
    QCOMPARE(got, cells);
    QCOMPARE(grid.roster.rowCount(), 1);
}

void TstTableGrid::cellsOutsideTheGridReadEmpty_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("negative row") << -1 << 1;
    QTest::newRow("negative column") << 1 << -1;
    QTest::newRow("row past the end") << 3 << 1;
    QTest::newRow("column past the end") << 1 << 3;
}

void TstTableGrid::cellsOutsideTheGridReadEmpty()
{
    QFETCH(int, row);
    QFETCH(int, column);
    ShownGrid grid;
    grid.roster.setCols(3);
    grid.roster.setRows(3);
    grid.roster.setCellText(row, column, QStringLiteral("x")); // ignored, no crash
    QCOMPARE(grid.roster.cellText(row, column), QString());
    QCOMPARE(grid.roster.rows(), 3);
    QCOMPARE(grid.roster.cols(), 3);
}

void TstTableGrid::bulkLoadKeepsColumnWidths()
{
    ShownGrid grid;
    grid.roster.setCols(3);
    grid.roster.beginBulk();
    grid.roster.setCols(12);
    for (int c = 1; c < 12; ++c)
        grid.setGridColumnWidth(c, 50 + c);
    grid.roster.appendRow({QStringLiteral("a")}, false);
    grid.roster.endBulk();
    QCOMPARE(grid.roster.columnCount(), 11);
    for (int c = 1; c < 12; ++c)
        QCOMPARE(grid.gridColumnWidth(c), 50 + c);
}

void TstTableGrid::bulkLoadReachesTheViewOnResume()
{
    ShownGrid grid;
    grid.roster.setCols(3);
    grid.roster.setRows(1);
    QSignalSpy reset(&grid.roster, &QAbstractItemModel::modelReset);
    grid.roster.beginBulk();
    for (int i = 0; i < 1000; ++i)
        grid.roster.appendRow({QString::number(i), QStringLiteral("x")}, false);
    grid.roster.setCellText(0, 1, QStringLiteral("学号"));
    grid.roster.endBulk();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(grid.roster.rowCount(), 1000);
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("学号"));
    QCOMPARE(grid.model()->data(grid.model()->index(999, 0)).toString(), QStringLiteral("999"));
    QVERIFY(grid.updatesEnabled());
}

void TstTableGrid::activeCellRaisesRowChangeEvenOnTheSameRow()
{
    ShownGrid grid;
    grid.roster.setCols(3);
    grid.roster.setRows(5);
    QSignalSpy rows(&grid, &TableGrid::rowChanged);
    grid.setActiveCell(2, 1);
    grid.setActiveCell(2, 2);
    grid.setActiveCell(0, 0);  // the header cannot hold the cursor
    grid.setActiveCell(99, 1); // nor a row past the end
    QCOMPARE(rows.count(), 4);
    QCOMPARE(rows.at(0).at(0).toInt(), 2);
    QCOMPARE(rows.at(1).at(0).toInt(), 2);
    QCOMPARE(rows.at(2).at(0).toInt(), 1);
    QCOMPARE(rows.at(3).at(0).toInt(), 4);
    QCOMPARE(grid.activeRow(), 4);
}

void TstTableGrid::rowHeaderAttributeAndCodes()
{
    ShownGrid grid;
    grid.roster.setCols(3);
    grid.roster.setRows(3);
    grid.roster.setRowHeaderAttribute(2, QLatin1Char('U'));
    grid.roster.setRowHeaderAttribute(9, QLatin1Char('U')); // ignored
    QCOMPARE(grid.roster.rowHeaderAttribute(2), QLatin1Char('U'));
    QCOMPARE(grid.roster.rowHeaderAttribute(1), QChar());
    grid.roster.setColumnCode(2, 5);
    const QModelIndex number = grid.model()->index(0, 1);
    QCOMPARE(grid.model()->data(number, Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    const QModelIndex text = grid.model()->index(0, 0);
    QCOMPARE(grid.model()->data(text, Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
}

QTEST_MAIN(TstTableGrid)
#include "tst_tablegrid.moc"
