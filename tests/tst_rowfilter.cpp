#include "DbfMaker.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/RowFilter.h"
#include "data/engine/Value.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QtTest>

using namespace lumora::engine;

// The filter suffix per column type, and filtering through the engine.
class TstRowFilter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void clause_data();
    void clause();
    void distinctQuery_data();
    void distinctQuery();
    void distinctValuesListBlankOnce();
    void comboOneAllGivesSingleEntry();
    void filterThroughTheEngine_data();
    void filterThroughTheEngine();
    void refusedValueKeepsThePreviousFilter();
    void unknownColumnReportsAndKeepsRunning();

private:
    DataSource m_ds;
    QTemporaryDir m_dir;
};

void TstRowFilter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    DbfMaker t({{"XH", 'C', 10},
                {"XM", 'C', 30},
                {"BJ", 'C', 10},
                {"CJ", 'N', 5, 1},
                {"SR", 'D', 8},
                {"ZC", 'L', 1}});
    t.addWithNulls({QString("101"), QString("张三"), QString("一班"), QString("88.5"), QString("2009-04-19"),
                    QString("T")});
    t.addWithNulls({QString("102"), QString("Mary O'Connor"), QString("二班"), QString("70"),
                    QString("2008-01-02"), QString("F")});
    t.addWithNulls({QString("103"), QString("王五"), QString("一班"), QString("70"), QString("2009-04-19"),
                    QString("T")});
    t.addWithNulls({QString("104"), QString("赵六"), std::nullopt, QString("3"), std::nullopt, QString("F")});
    QVERIFY(t.write(m_dir.filePath(QStringLiteral("学生.dbf"))));
    m_ds.databasePath = m_dir.filePath(QStringLiteral("学生.dbf"));
    m_ds.connectString = QStringLiteral("dBASE IV");
    m_ds.tableName = QStringLiteral("[学生]");
    m_ds.fieldTypes = {DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoBoolean};
}

void TstRowFilter::clause_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("clause");

    QTest::newRow("text") << int(DaoText) << "班级"
                          << "三班" << true << " where 班级='三班'";
    QTest::newRow("text with apostrophe") << int(DaoText) << "XM"
                                          << "O'Brien" << true << " where XM='O''Brien'";
    QTest::newRow("empty text, or the Null shown alike") << int(DaoText) << "XM"
                                                         << "" << true << " where (XM='' or XM is null)";
    QTest::newRow("memo like text") << int(DaoMemo) << "BZ"
                                    << "a'b" << true << " where BZ='a''b'";
    QTest::newRow("double") << int(DaoDouble) << "CJ"
                            << "88.5" << true << " where CJ=88.5";
    QTest::newRow("negative double") << int(DaoDouble) << "CJ"
                                     << "-0.25" << true << " where CJ=-0.25";
    QTest::newRow("double not a number") << int(DaoDouble) << "CJ"
                                         << "abc" << false << "";
    QTest::newRow("double empty: its Null") << int(DaoDouble) << "CJ"
                                            << "" << true << " where (CJ is null)";
    QTest::newRow("double of a blank") << int(DaoDouble) << "CJ"
                                       << " " << false << "";
    QTest::newRow("double with injection") << int(DaoDouble) << "CJ"
                                           << "1 or 1=1" << false << "";
    QTest::newRow("long") << int(DaoLong) << "ID"
                          << "42" << true << " where ID=42";
    QTest::newRow("integer") << int(DaoInteger) << "ID"
                             << "7" << true << " where ID=7";
    QTest::newRow("byte") << int(DaoByte) << "ID"
                          << "7" << true << " where ID=7";
    QTest::newRow("currency") << int(DaoCurrency) << "JE"
                              << "12.5" << true << " where JE=12.5";
    QTest::newRow("single") << int(DaoSingle) << "X"
                            << "1e3" << true << " where X=1e3";
    QTest::newRow("decimal") << int(DaoDecimal) << "X"
                             << "3.14" << true << " where X=3.14";
    QTest::newRow("date") << int(DaoDate) << "SR"
                          << "2009-04-19" << true << " where SR=#2009-04-19#";
    QTest::newRow("date and time") << int(DaoDate) << "SR"
                                   << "2009-04-19 08:30:00" << true << " where SR=#2009-04-19 08:30:00#";
    QTest::newRow("date empty: its Null") << int(DaoDate) << "SR"
                                          << "" << true << " where (SR is null)";
    QTest::newRow("date not a date") << int(DaoDate) << "SR"
                                     << "2009-13-40" << false << "";
    QTest::newRow("date with hash") << int(DaoDate) << "SR"
                                    << "2009-04-19# or #1" << false << "";
    QTest::newRow("boolean true") << int(DaoBoolean) << "ZC"
                                  << "True" << true << " where ZC=True";
    QTest::newRow("boolean false") << int(DaoBoolean) << "ZC"
                                   << "False" << true << " where ZC=False";
    QTest::newRow("boolean other") << int(DaoBoolean) << "ZC"
                                   << "yes" << false << "";
    QTest::newRow("binary refused") << int(DaoLongBinary) << "PIC"
                                    << "00ff" << false << "";
    QTest::newRow("binary empty refused") << int(DaoLongBinary) << "PIC"
                                          << "" << false << "";
    QTest::newRow("guid refused") << int(DaoGuid) << "G"
                                  << "x" << false << "";
    QTest::newRow("blank in column bracketed") << int(DaoText) << "first name"
                                               << "Ann" << true << " where [first name]='Ann'";
    QTest::newRow("keyword column bracketed") << int(DaoText) << "Where"
                                              << "x" << true << " where [Where]='x'";
    QTest::newRow("bracket in column refused") << int(DaoText) << "a]b"
                                               << "x" << false << "";
}

void TstRowFilter::clause()
{
    QFETCH(int, type);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(bool, ok);
    QFETCH(QString, clause);
    const FilterClause built = BuildFilterClause(2, column, value, {DaoText, qint16(type)});
    QCOMPARE(built.ok, ok);
    QCOMPARE(built.clause, clause);
    QCOMPARE(built.error.isEmpty(), ok);
}

void TstRowFilter::distinctQuery_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("statement");
    QTest::newRow("plain") << "班级"
                           << "select distinct 班级 from [学生]";
    QTest::newRow("blank") << "my class"
                           << "select distinct [my class] from [学生]";
    QTest::newRow("unwritable") << "a]"
                                << "";
}

void TstRowFilter::distinctQuery()
{
    QFETCH(QString, column);
    QFETCH(QString, statement);
    QCOMPARE(DistinctQuery(column, QStringLiteral("[学生]")), statement);
}

void TstRowFilter::distinctValuesListBlankOnce()
{
    // A blank date is Null; a blank character field is empty text: both
    // are listed as the one blank entry.
    QCOMPARE(DistinctValues(m_ds, QStringLiteral("SR")), (QStringList{"2009-04-19", "2008-01-02", ""}));
    QCOMPARE(DistinctValues(m_ds, QStringLiteral("BJ")), (QStringList{"一班", "二班", ""}));
    QCOMPARE(DistinctValues(m_ds, QStringLiteral("CJ")), (QStringList{"88.5", "70", "3"}));

    QComboBox combo1, combo2;
    combo1.addItems(
        {QStringLiteral("全部"), QStringLiteral("XH"), QStringLiteral("XM"), QStringLiteral("BJ")});
    combo1.setCurrentIndex(3);
    QVERIFY(!RefillFilterValues(m_ds, combo1, combo2));
    QCOMPARE(combo2.count(), 3);
    QCOMPARE(combo2.currentIndex(), -1);

    combo1.addItem(QStringLiteral("NOSUCH"));
    combo1.setCurrentIndex(4);
    const std::optional<DataError> error = RefillFilterValues(m_ds, combo1, combo2);
    QVERIFY(error);
    QVERIFY(!error->text().isEmpty());
    QCOMPARE(combo2.count(), 3); // keeps what it had
}

void TstRowFilter::comboOneAllGivesSingleEntry()
{
    QComboBox combo1, combo2;
    combo1.addItems({QStringLiteral("全部"), QStringLiteral("XH")});
    combo2.addItems({QStringLiteral("a"), QStringLiteral("b")});
    combo1.setCurrentIndex(0);
    QVERIFY(!RefillFilterValues(m_ds, combo1, combo2));
    QCOMPARE(combo2.count(), 1);
    QCOMPARE(combo2.itemText(0), QStringLiteral("全部"));
}

void TstRowFilter::filterThroughTheEngine_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("firstKey");

    QTest::newRow("all") << 0 << "全部"
                         << "全部"
                         << "数据表[4]"
                         << "101";
    QTest::newRow("text") << 3 << "BJ"
                          << "一班"
                          << "数据表[2]"
                          << "101";
    QTest::newRow("apostrophe") << 2 << "XM"
                                << "Mary O'Connor"
                                << "数据表[1]"
                                << "102";
    QTest::newRow("double") << 4 << "CJ"
                            << "70"
                            << "数据表[2]"
                            << "102";
    QTest::newRow("date") << 5 << "SR"
                          << "2009-04-19"
                          << "数据表[2]"
                          << "101";
    QTest::newRow("boolean") << 6 << "ZC"
                             << "False"
                             << "数据表[2]"
                             << "102";
    QTest::newRow("blank date: the Null") << 5 << "SR"
                                          << ""
                                          << "数据表[1]"
                                          << "104";
    QTest::newRow("nothing matches") << 3 << "BJ"
                                     << "九班"
                                     << "数据表[0]"
                                     << " [没有记录]";
}

void TstRowFilter::filterThroughTheEngine()
{
    QFETCH(int, index);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, caption);
    QFETCH(QString, firstKey);
    DataSource ds = m_ds;
    RosterModel grid;
    const FilterLoad load = ApplyFilter(ds, grid, index, column, value);
    QCOMPARE(load.caption, caption);
    QVERIFY2(!load.error, qPrintable(load.error ? load.error->text() : QString()));
    QCOMPARE(grid.cellText(1, 1), firstKey);
}

void TstRowFilter::refusedValueKeepsThePreviousFilter()
{
    DataSource ds = m_ds;
    RosterModel grid;
    ApplyFilter(ds, grid, 3, QStringLiteral("BJ"), QStringLiteral("一班"));
    const QString previous = ds.whereClause;
    QCOMPARE(previous, QStringLiteral(" where BJ='一班'"));
    const FilterLoad refused = ApplyFilter(ds, grid, 4, QStringLiteral("CJ"), QStringLiteral("abc"));
    QCOMPARE(refused.caption, QStringLiteral("数据表[2]"));
    QVERIFY(refused.error && !refused.error->text().isEmpty());
    QCOMPARE(ds.whereClause, previous);
}

void TstRowFilter::unknownColumnReportsAndKeepsRunning()
{
    DataSource ds = m_ds;
    ds.fieldTypes << DaoText;
    RosterModel grid;
    const FilterLoad load = ApplyFilter(ds, grid, 7, QStringLiteral("NOSUCH"), QStringLiteral("x"));
    QVERIFY(load.error && !load.error->text().isEmpty());
    QVERIFY(!grid.inBulk());
}

QTEST_MAIN(TstRowFilter)
#include "tst_rowfilter.moc"
