#include "DbfMaker.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace lumora::engine;

// LoadTable and the column pickers, through the real engine on dBase tables.
class TstLoadTable : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void rowQuery_data();
    void rowQuery();
    void threeFieldsTwoRecords();
    void nullInSecondFieldKeepsLaterColumns();
    void tabInAValueStaysInItsCell();
    void doubleColumnGetsCodeFiveOthersKeepTheirs();
    void filterMatchingNothingShowsTheMarker();
    void blankInAFieldNameLoads();
    void missingTableThrowsAndResumesRepaint();
    void rosterFixture();
    void sparseWorkbookShowsItsCorners();
    void pickersRefilledForASecondTable();

private:
    QString makeTable(const QString &name, const DbfMaker &maker);
    QTemporaryDir m_dir;
};

void TstLoadTable::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TstLoadTable::makeTable(const QString &name, const DbfMaker &maker)
{
    const QString path = m_dir.filePath(name + QStringLiteral(".dbf"));
    if (!maker.write(path))
        return {};
    return path;
}

void TstLoadTable::rowQuery_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("statement");

    QTest::newRow("three plain names")
        << QStringList{"A", "B", "C"} << QString() << "select A & Chr(9) & B & Chr(9) & C as Item  from [T]";
    QTest::newRow("one field") << QStringList{"学号"} << QString() << "select 学号 as Item  from [T]";
    QTest::newRow("filter appended verbatim") << QStringList{"A", "B"} << " where A='x'"
                                              << "select A & Chr(9) & B as Item  from [T] where A='x'";
    QTest::newRow("blank in a name is bracketed") << QStringList{"first name", "B"} << QString()
                                                  << "select [first name] & Chr(9) & B as Item  from [T]";
    QTest::newRow("keyword is bracketed")
        << QStringList{"from", "Date"} << QString() << "select [from] & Chr(9) & Date as Item  from [T]";
    QTest::newRow("bracket in a name cannot be written") << QStringList{"a]b"} << QString() << QString();
}

void TstLoadTable::rowQuery()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, where);
    QFETCH(QString, statement);
    QCOMPARE(RowQuery(fields, QStringLiteral("[T]"), where), statement);
    QCOMPARE(FieldQuery(QStringLiteral("[T]")), QStringLiteral("select * from [T]"));
}

void TstLoadTable::threeFieldsTwoRecords()
{
    DbfMaker t({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}});
    t.add(QStringList{"101", "张三", "一班"});
    t.add(QStringList{"102", "李四", "二班"});
    const QString path = makeTable(QStringLiteral("three"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    TableGrid view;
    view.showRoster(&grid, nullptr);
    const TableLoad load = LoadTable(*db, QStringLiteral("[three]"), QString(), grid);

    QCOMPARE(grid.cols(), 4);
    QCOMPARE(grid.rows(), 4);
    QCOMPARE(grid.cellText(0, 1), QStringLiteral("XH"));
    QCOMPARE(grid.cellText(0, 3), QStringLiteral("BJ"));
    QCOMPARE(grid.cellText(1, 2), QStringLiteral("张三"));
    QCOMPARE(grid.cellText(2, 3), QStringLiteral("二班"));
    for (int c = 1; c <= 3; ++c)
        QCOMPARE(grid.cellText(3, c), QString());
    QCOMPARE(load.records, 2);
    QCOMPARE(load.caption, QStringLiteral("数据表[2]"));
    QCOMPARE(grid.rowHeaderAttribute(1), QLatin1Char('U'));
    QCOMPARE(grid.rowHeaderAttribute(2), QLatin1Char('U'));
    QCOMPARE(grid.rowHeaderAttribute(3), QChar());
    QCOMPARE(grid.columnCode(1), 3);
    for (int c = 1; c <= 3; ++c)
        QCOMPARE(view.gridColumnWidth(c), 50);
    QVERIFY(view.updatesEnabled());
    QVERIFY(!grid.inBulk());
    QCOMPARE(grid.rowCount(), 3);
}

void TstLoadTable::nullInSecondFieldKeepsLaterColumns()
{
    DbfMaker t({{"A", 'C', 5}, {"B", 'N', 5}, {"C", 'C', 5}});
    t.addWithNulls({QString("x"), std::nullopt, QString("z")});
    const QString path = makeTable(QStringLiteral("nulls"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    LoadTable(*db, QStringLiteral("[nulls]"), QString(), grid);
    QCOMPARE(grid.cellText(1, 1), QStringLiteral("x"));
    QCOMPARE(grid.cellText(1, 2), QString());
    QCOMPARE(grid.cellText(1, 3), QStringLiteral("z"));
}

void TstLoadTable::tabInAValueStaysInItsCell()
{
    DbfMaker t({{"A", 'C', 5}, {"B", 'C', 5}, {"C", 'C', 5}});
    t.add(QStringList{"a", "b\tc", "d"});
    const QString path = makeTable(QStringLiteral("tabs"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    LoadTable(*db, QStringLiteral("[tabs]"), QString(), grid);
    QCOMPARE(grid.cellText(1, 2), QStringLiteral("b\tc"));
    QCOMPARE(grid.cellText(1, 3), QStringLiteral("d"));
}

void TstLoadTable::doubleColumnGetsCodeFiveOthersKeepTheirs()
{
    DbfMaker t({{"NAME", 'C', 10}, {"SCORE", 'N', 6, 1}, {"CLASS", 'C', 10}});
    t.add(QStringList{"a", "20.5", "x"});
    const QString path = makeTable(QStringLiteral("scores"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    grid.setCols(4);
    grid.setColumnCode(3, 7);
    LoadTable(*db, QStringLiteral("[scores]"), QString(), grid);
    QCOMPARE(grid.columnCode(2), 5);
    QCOMPARE(grid.columnCode(3), 7);
    QCOMPARE(grid.cellText(1, 2), QStringLiteral("20.5"));
}

void TstLoadTable::filterMatchingNothingShowsTheMarker()
{
    DbfMaker t({{"A", 'C', 5}});
    t.add(QStringList{"x"});
    const QString path = makeTable(QStringLiteral("marker"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    const TableLoad load =
        LoadTable(*db, QStringLiteral("[marker]"), QStringLiteral(" where A='nobody'"), grid);
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(grid.cellText(1, 1), QStringLiteral(" [没有记录]"));
    QCOMPARE(load.records, 0);
    QVERIFY(load.caption.isEmpty());
    QVERIFY(!grid.inBulk());
    QCOMPARE(grid.rowCount(), 1);
}

void TstLoadTable::blankInAFieldNameLoads()
{
    DbfMaker t({{"NO", 'C', 5}, {"MY NAME", 'C', 10}});
    t.add(QStringList{"1", "Ann"});
    const QString path = makeTable(QStringLiteral("blanks"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    LoadTable(*db, QStringLiteral("[blanks]"), QString(), grid);
    QCOMPARE(grid.cellText(0, 2), QStringLiteral("MY NAME"));
    QCOMPARE(grid.cellText(1, 2), QStringLiteral("Ann"));
}

void TstLoadTable::missingTableThrowsAndResumesRepaint()
{
    DbfMaker t({{"A", 'C', 5}});
    const QString path = makeTable(QStringLiteral("present"), t);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    RosterModel grid;
    QVERIFY_THROWS_EXCEPTION(EngineError, LoadTable(*db, QStringLiteral("[absent]"), QString(), grid));
    QVERIFY_THROWS_EXCEPTION(EngineError,
                             LoadTable(*db, QStringLiteral("[present]"), QStringLiteral(" where"), grid));
    QVERIFY(!grid.inBulk());
}

void TstLoadTable::rosterFixture()
{
    const QString data = qEnvironmentVariable("LUMORA_TEST_DATA");
    const QString source = data + QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf");
    QVERIFY2(QFile::exists(source), qPrintable(source));
    const QString copy = m_dir.filePath(QStringLiteral("roster.dbf"));
    QVERIFY(QFile::copy(source, copy));
    DataSource ds;
    ds.databasePath = copy;
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    auto db = OpenDatabase(ds);
    RosterModel grid;
    const TableLoad load = LoadTable(*db, ds, grid);
    QCOMPARE(load.caption, QStringLiteral("数据表[30]"));
    QCOMPARE(grid.rows(), 32);
    QCOMPARE(grid.cols(), 7);
    QCOMPARE(grid.cellText(0, 1), QStringLiteral("N__"));
    QCOMPARE(grid.cellText(1, 1), QStringLiteral("2024000001"));
    QCOMPARE(grid.cellText(1, 2), QStringLiteral("聂姬"));
    QCOMPARE(grid.cellText(3, 2), QStringLiteral("Mary O'Connor（玛丽）"));
    QCOMPARE(grid.cellText(1, 4), QStringLiteral("20.5"));
    QCOMPARE(grid.cellText(1, 5), QStringLiteral("2009-04-19"));
    QCOMPARE(grid.cellText(7, 3), QString());
    QCOMPARE(grid.columnCode(4), 5);
}

// A workbook whose four cells sit at A1, IV1, A65536 and IV65536: the grid
// shows 65,535 records of 256 fields, the two values of the last record in
// its first and last column, and the view scrolls to that corner.
void TstLoadTable::sparseWorkbookShowsItsCorners()
{
    const QString file = qEnvironmentVariable("LUMORA_TEST_DATA") +
                         QStringLiteral("/generated/sparse/corners_libreoffice.xls");
    auto db = Database::open(file, QStringLiteral("Excel 8.0"));
    RosterModel roster;
    TableGrid grid;
    grid.showRoster(&roster, nullptr);
    grid.resize(600, 400);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const TableLoad load = LoadTable(*db, QStringLiteral("[corners$]"), QString(), roster);
    QCOMPARE(load.records, 65535);
    QCOMPARE(roster.rows(), 65537);
    QCOMPARE(roster.cols(), 257);
    QCOMPARE(roster.cellText(0, 256), QStringLiteral("IV1"));
    QCOMPARE(roster.cellText(65535, 1), QStringLiteral("A65536"));
    QCOMPARE(roster.cellText(65535, 256), QStringLiteral("IV65536"));
    for (const int row : {1, 2, 32768, 65534, 65536})
        for (const int column : {1, 2, 128, 255, 256})
            QCOMPARE(roster.cellText(row, column), QString());
    QCoreApplication::processEvents(); // the view lays out the loaded rows
    grid.setActiveCell(65535, 256);
    QCOMPARE(grid.activeRow(), 65535);
    QCOMPARE(grid.activeColumn(), 256);
    const QModelIndex corner = grid.model()->index(65534, 255);
    QVERIFY2(grid.viewport()->rect().contains(grid.visualRect(corner)),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(grid.visualRect(corner).x())
                            .arg(grid.visualRect(corner).y())
                            .arg(grid.viewport()->width())
                            .arg(grid.viewport()->height())));
    QVERIFY(!grid.grab().isNull());
}

void TstLoadTable::pickersRefilledForASecondTable()
{
    QComboBox boxes[9];
    QList<QSignalSpy *> spies;
    QList<int> countsSeen(9, -1);
    for (int i = 0; i < 9; ++i) {
        spies << new QSignalSpy(&boxes[i], &QComboBox::currentIndexChanged);
        connect(&boxes[i], &QComboBox::currentIndexChanged, this,
                [&boxes, &countsSeen, i] { countsSeen[i] = boxes[i].count(); });
    }
    RosterModel grid;
    for (const QStringList &header : {QStringList{"A", "B", "C"}, QStringList{"X", "Y"}}) {
        grid.setCols(int(header.size()) + 1);
        for (int c = 1; c <= header.size(); ++c)
            grid.setCellText(0, c, header.at(c - 1));
        for (QSignalSpy *spy : spies)
            spy->clear();
        RefreshColumnPickers(grid, &boxes[0], &boxes[1], &boxes[2], &boxes[3], &boxes[4], &boxes[5],
                             &boxes[6], &boxes[7], &boxes[8]);
        QCOMPARE(boxes[0].count(), header.size() + 1);
        QCOMPARE(boxes[0].itemText(0), QStringLiteral("全部"));
        QCOMPARE(boxes[0].itemText(1), header.at(0));
        for (int i = 1; i < 9; ++i) {
            QCOMPARE(boxes[i].count(), header.size());
            QCOMPARE(boxes[i].itemText(0), header.at(0));
        }
        // Combo1, Comkb1, Comkb2, Comfname1, Comfname2, Comzd: first entry,
        // their handlers raised once with the list complete.
        for (int i : {0, 2, 3, 4, 5, 6}) {
            QCOMPARE(boxes[i].currentIndex(), 0);
            QCOMPARE(spies[i]->count(), 1);
            QCOMPARE(countsSeen[i], boxes[i].count());
        }
        for (int i : {1, 7, 8}) {
            QCOMPARE(boxes[i].currentIndex(), -1);
            QCOMPARE(spies[i]->count(), 0);
        }
    }
    qDeleteAll(spies);
}

QTEST_MAIN(TstLoadTable)
#include "tst_loadtable.moc"
