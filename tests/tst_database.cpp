#include "DbfMaker.h"
#include "MemoryBackend.h"

#include "data/engine/Database.h"
#include "data/engine/PackedTexts.h"
#include "data/engine/sql/SqlError.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora::engine;

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void openRefuses_data();
    void openRefuses();
    void tablesAndFields();
    void wholeTable();
    void loadingQuerySplitsPerField();
    void joinedValueMatchesEagerJoin_data();
    void joinedValueMatchesEagerJoin();
    void filter_data();
    void filter();
    void distinctValues();
    void update();
    void updateRefusesBadValueBeforeWriting();
    void updateRefusedValueOfLaterRecord();
    void updateFailingPartWay();
    void statementErrors_data();
    void statementErrors();
    void shownValueReadsBack_data();
    void shownValueReadsBack();
    void dbfTables_data();
    void dbfTables();
    void dbfLoadingQueryMatchesTable_data();
    void dbfLoadingQueryMatchesTable();
    void dbfUpdateOnCopy();
    void refusedStatementWritesNothing_data();
    void refusedStatementWritesNothing();
    void updateChecksEveryValueFirst();
    void namesDifferingInCase_data();
    void namesDifferingInCase();
    void keyIndexAgreesWithScan();
    void keyIndexSeesOtherWriters_data();
    void keyIndexSeesOtherWriters();
};

static QString dbfData(const QString &file = {})
{
    return qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/") + file;
}

static const QDateTime march9(QDate(2024, 3, 9), QTime(0, 0), Qt::UTC);

// 学生: 学号 (text), 姓名 (text), 班级 (double), 生日 (date), 照片 (text).
struct Roster
{
    std::unique_ptr<Database> db;
    std::shared_ptr<MemoryTableData> students;
};

static Roster roster()
{
    auto backend = std::make_unique<MemoryBackend>();
    Roster r;
    r.students = backend->add(
        QStringLiteral("学生"),
        {memoryField(QStringLiteral("学号"), DaoText), memoryField(QStringLiteral("姓名"), DaoText),
         memoryField(QStringLiteral("班级"), DaoDouble), memoryField(QStringLiteral("生日"), DaoDate),
         memoryField(QStringLiteral("照片"), DaoText)},
        {
            {Value::text("101"), Value::text(QStringLiteral("张三")), Value::real(3), Value::dateTime(march9),
             Value()},
            {Value::text("102"), Value::text("O'Brien"), Value::real(3.5), Value(), Value()},
            {Value::text("103"), Value::text("tab\there"), Value::real(3), Value(), Value()},
            {Value::text("104"), Value(), Value(), Value(), Value()},
        });
    backend->add(QStringLiteral("Sheet1$"), {memoryField("A", DaoText)});
    r.db = Database::fromBackend(std::move(backend));
    return r;
}

void TestDatabase::openRefuses_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("connect");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing file") << "missing.xls"
                                  << "Excel 8.0"
                                  << "file not found: ";
    QTest::newRow("empty workbook")
        << "book.xls"
        << "Excel 8.0"
        << "book.xls cannot be opened as an Excel 97-2003 workbook: the file is empty";
    QTest::newRow("access, not a database") << "db.mdb"
                                            << ""
                                            << "is not an Access database (Jet 3 or Jet 4 .mdb)";
    QTest::newRow("unknown connect string") << "db.mdb"
                                            << "Paradox 5.x"
                                            << "unknown connect string \"Paradox 5.x\"";
}

void TestDatabase::openRefuses()
{
    QFETCH(QString, file);
    QFETCH(QString, connect);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    if (!file.startsWith(QLatin1String("missing"))) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    try {
        Database::open(path, connect);
        QFAIL("opened");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QVERIFY(e.message().contains(path));
    }
}

void TestDatabase::tablesAndFields()
{
    Roster r = roster();
    QCOMPARE(r.db->tableNames(), (QStringList{QStringLiteral("学生"), "Sheet1$"}));
    QCOMPARE(r.db->fields(QStringLiteral("[学生]")).size(), 5);
    QCOMPARE(r.db->fields("sheet1$").at(0).name, QStringLiteral("A"));
    QCOMPARE(r.db->fields("[SHEET1$]").at(0).daoType, qint16(DaoText));
    QVERIFY_THROWS_EXCEPTION(EngineError, r.db->fields("[nope]"));
}

void TestDatabase::wholeTable()
{
    Roster r = roster();
    for (const QString &name :
         {QStringLiteral("学生"), QStringLiteral("[学生]"), QStringLiteral("select * from [学生]")}) {
        const Recordset rs = r.db->openRecordset(name);
        QCOMPARE(rs.fields().size(), 5);
        QCOMPARE(rs.size(), 4);
        QCOMPARE(rs.value(1, 1), Value::text("O'Brien"));
        QCOMPARE(rs.value(0, 3), Value::dateTime(march9));
        QVERIFY(rs.parts(0, 0).isEmpty());
    }
}

void TestDatabase::loadingQuerySplitsPerField()
{
    Roster r = roster();
    const Recordset rs = r.db->openRecordset(QStringLiteral(
        "select 学号 & Chr(9) & 姓名 & Chr(9) & 班级 & Chr(9) & 生日 & Chr(9) & 照片 as Item  from [学生]"));
    QCOMPARE(rs.fields().size(), 1);
    QCOMPARE(rs.fields().at(0).name, QStringLiteral("Item"));
    QCOMPARE(rs.size(), 4);
    QCOMPARE(rs.value(0, 0).toText(), QStringLiteral("101\t张三\t3\t2024-03-09\t"));
    QCOMPARE(rs.parts(0, 0), (QStringList{"101", QStringLiteral("张三"), "3", "2024-03-09", ""}));
    // The value holding a tab stays one part, so it stays in its own cell.
    QCOMPARE(rs.parts(2, 0), (QStringList{"103", "tab\there", "3", "", ""}));
    QCOMPARE(rs.parts(3, 0), (QStringList{"104", "", "", "", ""}));
    QVERIFY(rs.parts(4, 0).isEmpty());
    QVERIFY(rs.parts(0, 1).isEmpty());
}

void TestDatabase::joinedValueMatchesEagerJoin_data()
{
    QTest::addColumn<QString>("columns");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("firstRow"); // the first record's values, tab-joined
    QTest::newRow("loading query")
        << QStringLiteral("学号 & Chr(9) & 姓名 & Chr(9) & 班级 & Chr(9) & 生日 & Chr(9) & 照片 as Item")
        << QString() << QStringLiteral("101\t张三\t3\t2024-03-09\t");
    QTest::newRow("other separators") << QStringLiteral("学号 & '-' & 姓名 & Chr(9) & 班级 as Item")
                                      << QString() << QStringLiteral("101-张三\t3");
    QTest::newRow("two joins") << QStringLiteral("学号 & Chr(9) & 姓名 as a, 生日 & 照片 as b") << QString()
                               << QStringLiteral("101\t张三\t2024-03-09");
    QTest::newRow("every operand null")
        << QStringLiteral("生日 & 照片 as b") << QString() << QStringLiteral("2024-03-09");
    QTest::newRow("filtered") << QStringLiteral("学号 & Chr(9) & 姓名 as Item")
                              << QStringLiteral(" where 班级=3.5") << QStringLiteral("102\tO'Brien");
    QTest::newRow("nothing matches") << QStringLiteral("学号 & Chr(9) & 姓名 as Item")
                                     << QStringLiteral(" where 班级=9") << QString();
}

// A select whose every column is a join builds its values when they are
// read; one with a plain column beside builds them while it runs. Both
// must give the same values, in whatever order the reader asks.
void TestDatabase::joinedValueMatchesEagerJoin()
{
    QFETCH(QString, columns);
    QFETCH(QString, where);
    QFETCH(QString, firstRow);
    Roster r = roster();
    const Recordset lazy = r.db->openRecordset("select " + columns + " from [学生]" + where);
    const Recordset eager = r.db->openRecordset("select " + columns + ", 学号 from [学生]" + where);
    QCOMPARE(lazy.size(), eager.size());
    QCOMPARE(lazy.fields().size(), eager.fields().size() - 1);
    const int width = int(lazy.fields().size());
    for (qsizetype i = 0; i < lazy.size(); ++i)
        for (int c = 0; c < width; ++c)
            QCOMPARE(lazy.parts(i, c), eager.parts(i, c));
    // Read backwards through a copy first, then forwards through row().
    const Recordset copy = lazy;
    for (qsizetype i = lazy.size() - 1; i >= 0; --i)
        for (int c = width - 1; c >= 0; --c)
            QCOMPARE(copy.value(i, c), eager.value(i, c));
    for (qsizetype i = 0; i < lazy.size(); ++i) {
        QCOMPARE(lazy.row(i).size(), width);
        for (int c = 0; c < width; ++c)
            QCOMPARE(lazy.row(i).at(c), eager.row(i).at(c));
    }
    QStringList first;
    if (!lazy.isEmpty())
        for (int c = 0; c < width; ++c)
            first << lazy.value(0, c).toText();
    QCOMPARE(first.join(QLatin1Char('\t')), firstRow);
    // The last record has only 学号: a join of nothing but Nulls is Null.
    if (columns.startsWith(QLatin1String("生日")))
        QVERIFY(lazy.value(lazy.size() - 1, 0).isNull());
}

void TestDatabase::filter_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("text column") << QStringLiteral(" where 姓名='张三'") << QStringList{"101"};
    QTest::newRow("doubled apostrophe") << QStringLiteral(" where 姓名='O''Brien'") << QStringList{"102"};
    QTest::newRow("double column") << QStringLiteral(" where 班级=3") << QStringList{"101", "103"};
    QTest::newRow("double fraction") << QStringLiteral(" where 班级=3.5") << QStringList{"102"};
    QTest::newRow("date column") << QStringLiteral(" where 生日=#2024-03-09#") << QStringList{"101"};
    QTest::newRow("nothing matches") << QStringLiteral(" where 班级=9") << QStringList{};
    QTest::newRow("two keys") << QStringLiteral(" where 学号='103' and 班级=3") << QStringList{"103"};
}

void TestDatabase::filter()
{
    QFETCH(QString, where);
    QFETCH(QStringList, keys);
    Roster r = roster();
    const Recordset rs =
        r.db->openRecordset(QStringLiteral("select 学号 & Chr(9) & 姓名 as Item  from [学生]") + where);
    QStringList got;
    for (qsizetype i = 0; i < rs.size(); ++i)
        got << rs.parts(i, 0).value(0);
    QCOMPARE(got, keys);
}

void TestDatabase::distinctValues()
{
    auto backend = std::make_unique<MemoryBackend>();
    backend->add("T", {memoryField(QStringLiteral("班级"), DaoText)},
                 {{Value::text(QStringLiteral("一班"))},
                  {Value()},
                  {Value::text(QStringLiteral("二班"))},
                  {Value::text(QStringLiteral("一班"))},
                  {Value::text("Abc")},
                  {Value::text("aBC")},
                  {Value()}});
    auto db = Database::fromBackend(std::move(backend));
    const Recordset rs = db->openRecordset(QStringLiteral("select distinct 班级 from [T]"));
    QStringList got;
    for (qsizetype i = 0; i < rs.size(); ++i)
        got << (rs.value(i, 0).isNull() ? QStringLiteral("<null>") : rs.value(i, 0).toText());
    // First-seen order and spelling; letter case ignored as "=" ignores it.
    QCOMPARE(got, (QStringList{QStringLiteral("一班"), "<null>", QStringLiteral("二班"), "Abc"}));
}

void TestDatabase::update()
{
    Roster r = roster();
    QCOMPARE(r.db->execute(QStringLiteral("update [学生] set 照片='101.jpg' where 学号='101' and 班级=3")),
             1);
    QCOMPARE(r.students->rows.at(0).at(4), Value::text("101.jpg"));
    QCOMPARE(r.students->rows.at(2).at(4), Value());
    QCOMPARE(r.db->execute(QStringLiteral("UPDATE [学生] SET 班级='4' WHERE 班级=3")), 2);
    QCOMPARE(r.students->rows.at(2).at(2), Value::real(4));
    QCOMPARE(r.db->execute(QStringLiteral("update [学生] set 照片='x' where 学号='999'")), 0);
    QCOMPARE(r.db->execute(QStringLiteral("update [学生] set 生日='2024-03-10' where 姓名='O''Brien'")), 1);
    QCOMPARE(r.students->rows.at(1).at(3), Value::dateTime(march9.addDays(1)));
    // A later statement on the same database sees what was written.
    QCOMPARE(r.db->openRecordset(QStringLiteral("select 照片 from [学生] where 照片='101.jpg'")).size(), 1);
}

void TestDatabase::updateRefusesBadValueBeforeWriting()
{
    Roster r = roster();
    try {
        r.db->execute(QStringLiteral("update [学生] set 班级='三班'"));
        QFAIL("no error");
    } catch (const EngineError &e) {
        QCOMPARE(e.message(), QStringLiteral("\"三班\" is not a number for the field \"班级\""));
    }
    QCOMPARE(r.students->updates, 0);
}

void TestDatabase::updateRefusedValueOfLaterRecord()
{
    Roster r = roster();
    r.students->refused = QStringLiteral("103.jpg");
    QVERIFY_THROWS_EXCEPTION(EngineError,
                             r.db->execute(QStringLiteral("update [学生] set 照片=学号 & '.jpg'")));
    QCOMPARE(r.students->updates, 0);
    QCOMPARE(r.students->rows.at(0).at(4), Value());
}

void TestDatabase::updateFailingPartWay()
{
    Roster r = roster();
    r.students->failAfter = 2;
    try {
        r.db->execute(QStringLiteral("update [学生] set 照片='p'"));
        QFAIL("no error");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains("the file is locked (2 of 4 records were updated"),
                 qPrintable(e.message()));
    }
    QCOMPARE(r.students->rows.at(1).at(4), Value::text("p"));
    QCOMPARE(r.students->rows.at(2).at(4), Value());
}

void TestDatabase::statementErrors_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("isUpdate");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown table") << "select * from [学 生]" << false
                                   << "unknown table \"学 生\" at character 15";
    QTest::newRow("unknown field in list") << "select 学号 & Chr(9) & 班 as Item  from [学生]" << false
                                           << "unknown field \"班\" at character 22";
    QTest::newRow("unknown field in where")
        << "select * from [学生] where x=1" << false << "unknown field \"x\" at character 26";
    QTest::newRow("unknown target field")
        << "update [学生] set 相片='a'" << true << "unknown field \"相片\" at character 17";
    QTest::newRow("unknown table in update")
        << "update [x] set a=1" << true << "unknown table \"x\" at character 8";
    QTest::newRow("select given to execute")
        << "select * from [学生]" << true << "expected an update statement";
    QTest::newRow("update given as recordset") << "update [学生] set 照片='a'" << false << "unknown table";
    QTest::newRow("text in a where") << "select * from [学生] where 姓名" << false << "is not a condition";
}

void TestDatabase::statementErrors()
{
    QFETCH(QString, statement);
    QFETCH(bool, isUpdate);
    QFETCH(QString, message);
    Roster r = roster();
    try {
        if (isUpdate)
            r.db->execute(statement);
        else
            r.db->openRecordset(statement);
        QFAIL("no error");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
    }
    QCOMPARE(r.students->updates, 0);
}

// Every kind of value, shown as text (the grid's cells, the filter list),
// must find its record again through a statement literal built from that
// text, as the filter and the write-back build them.
void TestDatabase::shownValueReadsBack_data()
{
    QTest::addColumn<Value>("value");
    QTest::addColumn<int>("type");
    QTest::newRow("text") << Value::text(QStringLiteral("三班")) << int(DaoText);
    QTest::newRow("text with apostrophe") << Value::text("O'Brien") << int(DaoText);
    QTest::newRow("text with double quote") << Value::text("say \"hi\"") << int(DaoText);
    QTest::newRow("whole double") << Value::real(3) << int(DaoDouble);
    QTest::newRow("fraction") << Value::real(3.5) << int(DaoDouble);
    QTest::newRow("shortest decimal") << Value::real(0.1) << int(DaoDouble);
    QTest::newRow("negative") << Value::real(-0.25) << int(DaoDouble);
    QTest::newRow("huge") << Value::real(1.5e300) << int(DaoDouble);
    QTest::newRow("tiny") << Value::real(2.5e-10) << int(DaoDouble);
    QTest::newRow("integer") << Value::integer(-42) << int(DaoLong);
    QTest::newRow("currency") << Value::currency(-12345) << int(DaoCurrency);
    QTest::newRow("date") << Value::dateTime(march9) << int(DaoDate);
    QTest::newRow("date and time") << Value::dateTime(march9.addSecs(7 * 3600 + 5 * 60 + 1)) << int(DaoDate);
    QTest::newRow("boolean") << Value::boolean(true) << int(DaoBoolean);
}

void TestDatabase::shownValueReadsBack()
{
    QFETCH(Value, value);
    QFETCH(int, type);
    auto backend = std::make_unique<MemoryBackend>();
    // A near neighbour of the value in the other record catches a loose match.
    const Value other =
        value.kind() == Value::Kind::Text       ? Value::text(value.textValue() + "x")
        : value.kind() == Value::Kind::DateTime ? Value::dateTime(value.toDateTime().addSecs(1))
        : value.kind() == Value::Kind::Boolean  ? Value::boolean(false)
        : value.kind() == Value::Kind::Currency ? Value::currency(value.toInteger() + 1)
        : value.kind() == Value::Kind::Integer  ? Value::integer(value.toInteger() + 1)
                                                : Value::real(std::nextafter(value.toDouble(), 0.0));
    backend->add("T", {memoryField("f", qint16(type)), memoryField("k", DaoText)},
                 {{other, Value::text("other")}, {value, Value::text("it")}});
    auto db = Database::fromBackend(std::move(backend));

    // The text the grid shows, read back from the loading query.
    const Recordset shown = db->openRecordset("select f & Chr(9) & k as Item  from [T]");
    const QString text = shown.parts(1, 0).at(0);
    QCOMPARE(text, value.toText());

    QString quoted = text;
    quoted.replace('\'', "''");
    QStringList literals{'\'' + quoted + '\''};
    if (type == DaoDouble || type == DaoLong || type == DaoCurrency)
        literals << text;
    if (type == DaoDate)
        literals << '#' + text + '#';
    for (const QString &literal : literals) {
        const Recordset rs = db->openRecordset("select k from [T] where f=" + literal);
        QCOMPARE(rs.size(), 1);
        QCOMPARE(rs.value(0, 0), Value::text("it"));
    }
    // And the same text written into the field stores the same value.
    QCOMPARE(db->execute("update [T] set f=" + literals.last() + " where k='other'"), 1);
    QCOMPARE(db->openRecordset("select k from [T] where f=" + literals.last()).size(), 2);
}

// Facts the independent readers saw in the fixtures (tests/data/MANIFEST.tsv).
void TestDatabase::dbfTables_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("connect");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("firstValue");
    QTest::newRow("GBK text by its language driver")
        << "dbasers_cp936.dbf"
        << "dBASE IV" << 1 << 1 << "select TEST from [DBASERS_CP936]" << QStringLiteral("测试中文");
    QTest::newRow("dBase III, name occurring twice")
        << "infused_dbase_03.dbf"
        << "dbase" << 14 << 31 << "select Point_ID & Chr(9) & Type as Item  from [infused_dbase_03]"
        << "0507121\tCMP";
    QTest::newRow("Visual FoxPro integer key")
        << "infused_dbase_31.dbf"
        << "FOXPro3.0" << 77 << 10 << "select PRODUCTNAM from [infused_dbase_31] where PRODUCTID=1"
        << "Chai";
    QTest::newRow("Visual FoxPro filter on text")
        << "infused_dbase_31.dbf"
        << "foxpro" << 77 << 10 << "select PRODUCTID from [infused_dbase_31] where PRODUCTNAM='Chai'"
        << "1";
    QTest::newRow("dBase IV with memo")
        << "infused_dbase_8b.dbf"
        << "dBASE IV" << 10 << 6 << "select distinct LOGICAL from [infused_dbase_8b]"
        << "True";
}

void TestDatabase::dbfTables()
{
    QFETCH(QString, file);
    QFETCH(QString, connect);
    QFETCH(int, records);
    QFETCH(int, fieldCount);
    QFETCH(QString, statement);
    QFETCH(QString, firstValue);
    auto db = Database::open(dbfData(file), connect);
    const QString table = QFileInfo(file).completeBaseName();
    QVERIFY(db->tableNames().contains(table));
    QCOMPARE(db->fields('[' + table + ']').size(), fieldCount);
    QCOMPARE(db->openRecordset(table).size(), records);
    const Recordset rs = db->openRecordset(statement);
    QVERIFY(!rs.isEmpty());
    QCOMPARE(rs.value(0, 0).toText(), firstValue.replace("\\t", "\t"));
}

void TestDatabase::dbfLoadingQueryMatchesTable_data()
{
    QTest::addColumn<QString>("table");
    auto db = Database::open(dbfData("dbasers_cp936.dbf"), "dBASE IV");
    for (const QString &t : db->tableNames())
        QTest::newRow(qPrintable(t)) << t;
}

// The grid's loading query gives, per record, exactly the table's values
// as text, one part per field, on every fixture table.
void TestDatabase::dbfLoadingQueryMatchesTable()
{
    QFETCH(QString, table);
    auto db = Database::open(dbfData(), "dBASE IV");
    const QList<FieldInfo> fields = db->fields('[' + table + ']');
    QStringList names;
    for (const FieldInfo &f : fields)
        names << f.name;
    const Recordset plain = db->openRecordset('[' + table + ']');
    const Recordset joined =
        db->openRecordset("select " + names.join(" & Chr(9) & ") + " as Item  from [" + table + ']');
    QCOMPARE(joined.size(), plain.size());
    // The grid's typed read gives every field's text as the table holds it.
    const TableTexts texts = db->readTexts('[' + table + ']', QString());
    QCOMPARE(texts.rows.size(), plain.size());
    for (qsizetype r = 0; r < plain.size(); ++r) {
        QStringList expected;
        for (int f = 0; f < fields.size(); ++f)
            expected << plain.value(r, f).toText();
        QStringList got = PackedTexts::list(texts.rows.at(r));
        got.resize(fields.size());
        QCOMPARE(got, expected);
    }
    if (fields.size() == 1) { // no join, so no parts: the value is the cell
        for (qsizetype r = 0; r < plain.size(); ++r)
            QCOMPARE(joined.value(r, 0), plain.value(r, 0));
        return;
    }
    for (qsizetype r = 0; r < plain.size(); ++r) {
        QStringList expected;
        for (int f = 0; f < fields.size(); ++f)
            // Field names are unique: a name the file spells twice is
            // suffixed, and each column reads its own field.
            expected << plain.value(r, names.indexOf(fields.at(f).name)).toText();
        QCOMPARE(joined.parts(r, 0), expected);
    }
}

void TestDatabase::dbfUpdateOnCopy()
{
    QTemporaryDir dir;
    const QString copy = dir.filePath("roster_zh_30_lo_cp936.dbf");
    QVERIFY(QFile::copy(dbfData("roster_zh_30_lo_cp936.dbf"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    {
        auto db = Database::open(copy, "dBASE IV");
        QCOMPARE(
            db->execute("update [roster_zh_30_lo_cp936] set N__6='y' where N__='2024000001' and N__4=20.5"),
            1);
        QVERIFY_THROWS_EXCEPTION(EngineError, db->execute("update [roster_zh_30_lo_cp936] set N__4='x'"));
    }
    auto db = Database::open(copy, "dBASE IV");
    const Recordset rs =
        db->openRecordset("select N__ & Chr(9) & N__6 as Item  from [roster_zh_30_lo_cp936] where N__6='y'");
    QCOMPARE(rs.size(), 1);
    QCOMPARE(rs.parts(0, 0), (QStringList{"2024000001", "y"}));
    QCOMPARE(db->openRecordset("roster_zh_30_lo_cp936").size(), 30);
}

static QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestDatabase::refusedStatementWritesNothing_data()
{
    QTest::addColumn<QString>("memoFrom"); // the fixture whose memo file lies beside the table, or none
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("changed"); // records changed, or -1 when the statement is refused
    // t: 学号 C10, 照片 C12, 姓名 C4; three records, 姓名 "ab", "abc", "abcd".
    QTest::newRow("second value one byte too long")
        << QString() << "update [t] set 照片='ok.jpg', 学号='12345678901' where 姓名='ab'" << -1;
    QTest::newRow("second value exactly as long")
        << QString() << "update [t] set 照片='ok.jpg', 学号='1234567890' where 姓名='ab'" << 1;
    QTest::newRow("last record's value too long")
        << QString() << "update [t] set 照片='ok.jpg', 姓名=姓名 & 'z'" << -1;
    QTest::newRow("every record's value fits")
        << QString() << "update [t] set 照片='ok.jpg', 姓名=姓名 & 'z' where 姓名<>'abcd'" << 2;
    QTest::newRow("character outside GBK") << QString() << "update [t] set 照片='ok.jpg', 姓名='😀'" << -1;
}

// A statement that one value of one record cannot take changes no byte of
// the table, whichever value and record it is.
void TestDatabase::refusedStatementWritesNothing()
{
    QFETCH(QString, memoFrom);
    QFETCH(QString, statement);
    QFETCH(int, changed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    DbfMaker table({{QStringLiteral("学号"), 'C', 10},
                    {QStringLiteral("照片"), 'C', 12},
                    {QStringLiteral("姓名"), 'C', 4}});
    table.add({"101", "", "ab"});
    table.add({"102", "", "abc"});
    table.add({"103", "", "abcd"});
    QVERIFY(table.write(path));
    const QByteArray before = fileBytes(path);
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    if (changed < 0) {
        QVERIFY_THROWS_EXCEPTION(EngineError, db->execute(statement));
        QCOMPARE(fileBytes(path), before);
    } else {
        QCOMPARE(db->execute(statement), changed);
        QVERIFY(fileBytes(path) != before);
    }
}

// Memo values are checked with the others: a memo file that is missing,
// or a character a dBase III memo cannot hold, refuses the whole statement.
void TestDatabase::updateChecksEveryValueFirst()
{
    QTemporaryDir dir;
    // dBase IV table without its .dbt: MEMO cannot be written.
    const QString noMemo = dir.filePath(QStringLiteral("nomemo.dbf"));
    QVERIFY(QFile::copy(dbfData("infused_dbase_8b.dbf"), noMemo));
    QFile::setPermissions(noMemo, QFile::ReadOwner | QFile::WriteOwner);
    // dBase III table with its .dbt: DESC ends at 0x1A.
    const QString withMemo = dir.filePath(QStringLiteral("memo83.dbf"));
    QVERIFY(QFile::copy(dbfData("infused_dbase_83.dbf"), withMemo));
    QVERIFY(QFile::copy(dbfData("infused_dbase_83.dbt"), dir.filePath(QStringLiteral("memo83.dbt"))));
    for (const QString &f : {withMemo, dir.filePath(QStringLiteral("memo83.dbt"))})
        QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray beforeNoMemo = fileBytes(noMemo);
    const QByteArray before83 = fileBytes(withMemo);
    const QByteArray beforeDbt = fileBytes(dir.filePath(QStringLiteral("memo83.dbt")));

    auto db = Database::open(noMemo, QStringLiteral("dBASE IV"));
    try {
        db->execute(QStringLiteral("update [nomemo] set CHARACTER='ok', MEMO='new memo'"));
        QFAIL("a memo was written without its memo file");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(QStringLiteral("memo file of table nomemo is missing")),
                 qPrintable(e.message()));
    }
    QCOMPARE(fileBytes(noMemo), beforeNoMemo);
    try {
        db->execute(QStringLiteral("update [memo83] set CODE='ok', DESC='a' & Chr(26) & 'b' where ID=87"));
        QFAIL("a dBase III memo took 0x1A");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(QStringLiteral("0x1A")), qPrintable(e.message()));
    }
    QCOMPARE(fileBytes(withMemo), before83);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("memo83.dbt"))), beforeDbt);
}

void TestDatabase::namesDifferingInCase_data()
{
    QTest::addColumn<QStringList>("files"); // each table holds its own file name
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file"); // the file the name reaches, or empty when refused
    const QStringList pair{"ab.dbf", "AB.DBF"};
    QTest::newRow("exact lower-case name") << pair << "ab"
                                           << "ab.dbf";
    QTest::newRow("exact upper-case name") << pair << "AB"
                                           << "AB.DBF";
    QTest::newRow("mixed case, two candidates") << pair << "Ab" << QString();
    QTest::newRow("mixed case, one candidate") << QStringList{"ab.dbf", "cd.DBF"} << "Ab"
                                               << "ab.dbf";
    QTest::newRow("same name, extensions in two cases")
        << QStringList{"ab.dbf", "ab.DBF"} << "ab" << QString();
}

// A statement reaches exactly one file: the one spelt as it names it, else
// the only one differing in letter case; never another, and an update
// through a refused name changes no file.
void TestDatabase::namesDifferingInCase()
{
    QFETCH(QStringList, files);
    QFETCH(QString, name);
    QFETCH(QString, file);
    QTemporaryDir dir;
    QMap<QString, QByteArray> before;
    for (const QString &f : files) {
        DbfMaker table({{QStringLiteral("F"), 'C', 12}});
        table.add({f});
        QVERIFY(table.write(dir.filePath(f)));
        before[f] = fileBytes(dir.filePath(f));
    }
    auto db = Database::open(dir.filePath(files.first()), QStringLiteral("dBASE IV"));
    const QString select = QStringLiteral("select F from [%1]").arg(name);
    const QString update = QStringLiteral("update [%1] set F='changed'").arg(name);
    if (file.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(EngineError, db->openRecordset(select));
        try {
            db->execute(update);
            QFAIL("an ambiguous name was taken");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("ambiguous")), qPrintable(e.message()));
        }
        for (const QString &f : files)
            QCOMPARE(fileBytes(dir.filePath(f)), before[f]);
        return;
    }
    // Another spelling asked first must not stand in for this one.
    for (const QString &t : db->tableNames())
        if (t != name)
            db->openRecordset(QStringLiteral("select F from [%1]").arg(t));
    QCOMPARE(db->openRecordset(select).value(0, 0).toText(), file);
    QCOMPARE(db->execute(update), 1);
    for (const QString &f : files)
        QCOMPARE(fileBytes(dir.filePath(f)) == before[f], f != file);
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"

// An update picks its records by key through an index; a select looks at
// every record. Both must find the same records for every letter-case
// variant of the characters whose case mappings are irregular (Kelvin
// sign, final sigma, dotted I, title-case digraphs, the supplementary
// planes), where an index that folds case otherwise than "=" would miss or
// add a record.
void TestDatabase::keyIndexAgreesWithScan()
{
    QList<char32_t> odd;
    for (char32_t c = 0x41; c <= 0x1E943; ++c) {
        if (QChar::category(c) == QChar::Other_Surrogate)
            continue;
        const char32_t f = QChar::toCaseFolded(c), l = QChar::toLower(c), u = QChar::toUpper(c);
        if (f != l || QChar::toLower(u) != l || QChar::toTitleCase(c) != u || (c < 0x80 && c % 7 == 0))
            odd << c;
    }
    QVERIFY(odd.size() > 100);
    const auto text = [](char32_t c) { return QString::fromUcs4(&c, 1); };
    QList<QList<Value>> rows;
    QStringList probes;
    for (char32_t c : odd)
        for (char32_t v :
             {c, QChar::toCaseFolded(c), QChar::toLower(c), QChar::toUpper(c), QChar::toTitleCase(c)})
            if (!probes.contains(text(v) + QLatin1Char('x'))) {
                probes << text(v) + QLatin1Char('x');
                rows.append({Value::text(text(v) + QLatin1Char('x')), Value()});
            }
    auto backend = std::make_unique<MemoryBackend>();
    backend->add(QStringLiteral("T"), {memoryField("K", DaoText), memoryField("P", DaoText)}, rows);
    auto db = Database::fromBackend(std::move(backend));
    for (const QString &probe : std::as_const(probes)) {
        const QString where = QStringLiteral(" where K='%1'").arg(probe);
        const qsizetype scanned = db->openRecordset(QStringLiteral("select K from [T]") + where).size();
        // Never written: only how many records the update would take is asked.
        const UpdateResult indexed =
            db->executeIfMatches(QStringLiteral("update [T] set P='y'") + where, 1 << 30);
        QVERIFY(!indexed.written);
        QVERIFY2(indexed.matched() == scanned, qPrintable(probe));
    }
}

void TestDatabase::keyIndexSeesOtherWriters_data()
{
    QTest::addColumn<QString>("other");     // what another program does between two writes
    QTest::addColumn<qsizetype>("matched"); // records the second write's key then picks
    QTest::newRow("nothing") << QString() << qsizetype(1);
    QTest::newRow("gives another record the key") << "update [t] set K='k1' where K='k3'" << qsizetype(2);
    QTest::newRow("takes the key away") << "update [t] set K='gone' where K='k1'" << qsizetype(0);
    QTest::newRow("blanks another record's key") << "update [t] set K=Null where K='k2'" << qsizetype(1);
}

// The index an update made is not trusted once the key field changed in
// the file: another program's write that moves a key decides the next
// update exactly as a look at every record would.
void TestDatabase::keyIndexSeesOtherWriters()
{
    QFETCH(QString, other);
    QFETCH(qsizetype, matched);
    QTemporaryDir dir;
    DbfMaker table({{QStringLiteral("K"), 'C', 10}, {QStringLiteral("P"), 'C', 20}});
    for (const char *key : {"k1", "k2", "k3", "k4"})
        table.add({QString::fromLatin1(key), QString()});
    QVERIFY(table.write(dir.filePath("t.dbf")));
    auto db = Database::open(dir.filePath("t.dbf"), QStringLiteral("dBASE IV"));
    QCOMPARE(db->executeIfMatches("update [t] set P='first' where K='k1'", 1).records, QList<qsizetype>{0});
    if (!other.isEmpty())
        QCOMPARE(Database::open(dir.filePath("t.dbf"), QStringLiteral("dBASE IV"))->execute(other), 1);
    const UpdateResult second = db->executeIfMatches("update [t] set P='second' where K='k1'", 1);
    QCOMPARE(second.matched(), matched);
    QCOMPARE(second.written, matched == 1);
}
