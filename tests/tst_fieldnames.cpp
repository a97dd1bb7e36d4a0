#include "data/engine/FieldNames.h"
#include "data/engine/dbf/DbfTable.h"

#include <QSet>
#include <QTest>

using namespace lumora::engine;

// A table's fields each get a name of their own.
class TestFieldNames : public QObject
{
    Q_OBJECT
private slots:
    void unique_data();
    void unique();
    void fixtureWithRepeatedName();
};

void TestFieldNames::unique_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no repeats kept as spelled")
        << QStringList{"XH", "xm", "班级"} << QStringList{"XH", "xm", "班级"};
    QTest::newRow("second of a name")
        << QStringList{"Point_ID", "Type", "Point_ID"} << QStringList{"Point_ID", "Type", "Point_ID_2"};
    QTest::newRow("repeat differing in case") << QStringList{"NAME", "name"} << QStringList{"NAME", "name_2"};
    QTest::newRow("three of a name") << QStringList{"A", "A", "A"} << QStringList{"A", "A_2", "A_3"};
    QTest::newRow("suffix spelled by a later field")
        << QStringList{"A", "A", "a_2"} << QStringList{"A", "A_3", "a_2"};
    QTest::newRow("suffix spelled by an earlier field")
        << QStringList{"A_2", "A", "A"} << QStringList{"A_2", "A", "A_3"};
    QTest::newRow("empty list") << QStringList{} << QStringList{};
}

void TestFieldNames::unique()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    const QStringList got = uniqueFieldNames(names);
    QCOMPARE(got, expected);
    QSet<QString> folded;
    for (const QString &n : got)
        folded.insert(n.toCaseFolded());
    QCOMPARE(folded.size(), got.size());
}

// infused_dbase_03.dbf spells Point_ID twice (C12 first, N9 last).
void TestFieldNames::fixtureWithRepeatedName()
{
    const auto table =
        DbfTable::open(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/infused_dbase_03.dbf"),
                       QStringLiteral("infused_dbase_03"));
    const QList<FieldInfo> &fields = table->fields();
    QCOMPARE(fields.first().name, QStringLiteral("Point_ID"));
    QCOMPARE(fields.first().daoType, qint16(DaoText));
    QCOMPARE(fields.last().name, QStringLiteral("Point_ID_2"));
    QCOMPARE(fields.last().daoType, qint16(DaoDouble));
}

QTEST_GUILESS_MAIN(TestFieldNames)
#include "tst_fieldnames.moc"
