#include "MemoryBackend.h"

#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlEvaluator.h"
#include "data/engine/sql/SqlParser.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace lumora::engine;

class TestSqlEvaluator : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
    void letterCase_data();
    void letterCase();
    void expressions_data();
    void expressions();
    void unknownField();
    void convertForField_data();
    void convertForField();
};

static const QDateTime march9(QDate(2024, 3, 9), QTime(0, 0), Qt::UTC);

void TestSqlEvaluator::compare_data()
{
    QTest::addColumn<Value>("a");
    QTest::addColumn<Value>("b");
    QTest::addColumn<int>("expected"); // -1, 0, 1; 9 for Null
    QTest::newRow("texts ignore case") << Value::text("abc") << Value::text("ABC") << 0;
    QTest::newRow("chinese texts") << Value::text(QStringLiteral("一班"))
                                   << Value::text(QStringLiteral("二班")) << -1;
    QTest::newRow("trailing blank counts") << Value::text("a ") << Value::text("a") << 1;
    QTest::newRow("null with text") << Value() << Value::text("") << 9;
    QTest::newRow("null with null") << Value() << Value() << 9;
    QTest::newRow("double with integer") << Value::real(3) << Value::integer(3) << 0;
    QTest::newRow("double fraction") << Value::real(3.5) << Value::integer(3) << 1;
    QTest::newRow("currency with integer, exact") << Value::currency(30000) << Value::integer(3) << 0;
    QTest::newRow("currency with double") << Value::currency(12345) << Value::real(1.2345) << 0;
    QTest::newRow("large integers stay exact")
        << Value::integer(9007199254740993) << Value::integer(9007199254740992) << 1;
    QTest::newRow("true is -1") << Value::boolean(true) << Value::integer(-1) << 0;
    QTest::newRow("true is -1.0") << Value::boolean(true) << Value::real(-1) << 0;
    // An integer against a double is exact: never through the rounded double.
    QTest::newRow("18 digits against their nearest double")
        << Value::integer(110101199001011234) << Value::real(110101199001011232.0) << 1;
    QTest::newRow("2^53 + 1 against 2^53")
        << Value::integer(9007199254740993) << Value::real(9007199254740992.0) << 1;
    QTest::newRow("2^53 + 2, equal as double")
        << Value::integer(9007199254740994) << Value::real(9007199254740994.0) << 0;
    QTest::newRow("int64 max against 2^63")
        << Value::integer(std::numeric_limits<qint64>::max()) << Value::real(9223372036854775808.0) << -1;
    QTest::newRow("int64 min against -2^63")
        << Value::integer(std::numeric_limits<qint64>::min()) << Value::real(-9223372036854775808.0) << 0;
    QTest::newRow("int64 min against below -2^63")
        << Value::integer(std::numeric_limits<qint64>::min()) << Value::real(-1e19) << 1;
    QTest::newRow("integer against a fraction above") << Value::integer(3) << Value::real(3.5) << -1;
    QTest::newRow("negative integer against a fraction above")
        << Value::integer(-4) << Value::real(-3.5) << -1;
    QTest::newRow("integer against the fraction below") << Value::integer(-3) << Value::real(-3.5) << 1;
    QTest::newRow("integer against NaN is Null") << Value::integer(0) << Value::real(std::nan("")) << 9;
    QTest::newRow("dates") << Value::dateTime(march9) << Value::dateTime(march9.addSecs(1)) << -1;
    QTest::newRow("text field, number literal") << Value::text(" 101") << Value::integer(101) << 0;
    QTest::newRow("text field, number literal, numeric order")
        << Value::text("9") << Value::integer(10) << -1;
    QTest::newRow("text that is no number against a number") << Value::text("abc") << Value::integer(3) << 1;
    QTest::newRow("number against a text") << Value::integer(101) << Value::text("101.0") << 0;
    QTest::newRow("date against its text") << Value::dateTime(march9) << Value::text("3/9/2024") << 0;
    QTest::newRow("boolean against its text") << Value::boolean(false) << Value::text("FALSE") << 0;
    QTest::newRow("date against a number compares texts")
        << Value::dateTime(march9) << Value::integer(2024) << 1;
}

void TestSqlEvaluator::compare()
{
    QFETCH(Value, a);
    QFETCH(Value, b);
    QFETCH(int, expected);
    QCOMPARE(SqlEvaluator::compare(a, b).value_or(9), expected);
    if (expected != 9) // the order is the same read from either side
        QCOMPARE(SqlEvaluator::compare(b, a).value_or(9), -expected);
}

void TestSqlEvaluator::letterCase_data()
{
    QTest::addColumn<Value>("a");
    QTest::addColumn<Value>("b");
    QTest::addColumn<bool>("caseOfData"); // whether the letter case is the table's own
    QTest::newRow("texts") << Value::text("O'Brien") << Value::text("o'brien") << true;
    QTest::newRow("chinese and latin")
        << Value::text(QStringLiteral("高二A班")) << Value::text(QStringLiteral("高二a班")) << true;
    QTest::newRow("boolean against its rendering") << Value::boolean(true) << Value::text("TRUE") << false;
    QTest::newRow("binary against its hex") << Value::binary("\xab") << Value::text("AB") << false;
}

// A table that compares texts exactly tells "ABC" from "abc" in "=" and
// in "select distinct"; one that ignores case does not.
void TestSqlEvaluator::letterCase()
{
    QFETCH(Value, a);
    QFETCH(Value, b);
    QFETCH(bool, caseOfData);
    QCOMPARE(SqlEvaluator::compare(a, b, Qt::CaseInsensitive), std::optional<int>(0));
    QCOMPARE(SqlEvaluator::compare(a, b, Qt::CaseSensitive).value_or(0) != 0, caseOfData);
    if (caseOfData) {
        QCOMPARE(SqlEvaluator::distinctKey(a, Qt::CaseInsensitive),
                 SqlEvaluator::distinctKey(b, Qt::CaseInsensitive));
        QVERIFY(SqlEvaluator::distinctKey(a, Qt::CaseSensitive) !=
                SqlEvaluator::distinctKey(b, Qt::CaseSensitive));
    }
}

// One record: t='Ab', n=3.5, z=Null, d=2024-03-09.
static std::shared_ptr<MemoryTableData> sample(MemoryBackend &backend)
{
    return backend.add("T",
                       {memoryField("t", DaoText), memoryField("n", DaoDouble), memoryField("z", DaoText),
                        memoryField("d", DaoDate)},
                       {{Value::text("Ab"), Value::real(3.5), Value(), Value::dateTime(march9)}});
}

void TestSqlEvaluator::expressions_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("result"); // toText of the value, "<null>" for Null
    QTest::newRow("field") << "t"
                           << "Ab";
    QTest::newRow("join with tabs") << "t & Chr(9) & n & Chr(9) & d"
                                    << "Ab\t3.5\t2024-03-09";
    QTest::newRow("null joins as empty text") << "t & z"
                                              << "Ab";
    QTest::newRow("null & null stays null") << "z & z"
                                            << "<null>";
    QTest::newRow("null & empty text is text") << "z & ''"
                                               << "";
    QTest::newRow("equal ignoring case") << "t = 'aB'"
                                         << "True";
    QTest::newRow("double by value") << "n = 3.5"
                                     << "True";
    QTest::newRow("double against text literal") << "n = '3.5'"
                                                 << "True";
    QTest::newRow("date by value") << "d = #2024-03-09#"
                                   << "True";
    QTest::newRow("date month first") << "d = #3/9/2024#"
                                      << "True";
    QTest::newRow("ordering") << "n < 4 and n >= 3.5 and n <> 2"
                              << "True";
    QTest::newRow("compare with null is null") << "z = 'x'"
                                               << "<null>";
    QTest::newRow("false and null is false") << "t = 'x' and z = 'x'"
                                             << "False";
    QTest::newRow("true or null is true") << "t = 'ab' or z = 'x'"
                                          << "True";
    QTest::newRow("not null is null") << "not (z = 'x')"
                                      << "<null>";
    QTest::newRow("is null") << "z is null and t is not null"
                             << "True";
    QTest::newRow("unary minus") << "-n"
                                 << "-3.5";
    QTest::newRow("minus of a numeric text") << "-'2'"
                                             << "-2";
    QTest::newRow("chr of a letter") << "Chr(65)"
                                     << "A";
}

void TestSqlEvaluator::expressions()
{
    QFETCH(QString, expression);
    QFETCH(QString, result);
    MemoryBackend backend;
    sample(backend);
    auto table = backend.openTable("T");
    SqlStatement s = SqlParser::parse("select " + expression + " from T");
    SqlExpr &e = *std::get<SqlSelect>(s).columns.at(0).expr;
    SqlEvaluator::bind(e, table->fields());
    const Value v = SqlEvaluator::evaluate(e, *table, 0);
    QCOMPARE(v.isNull() ? QStringLiteral("<null>") : v.toText(), result);
}

void TestSqlEvaluator::unknownField()
{
    MemoryBackend backend;
    sample(backend);
    SqlStatement s = SqlParser::parse(QStringLiteral("select t & 班级 from T"));
    try {
        SqlEvaluator::bind(*std::get<SqlSelect>(s).columns.at(0).expr, backend.openTable("T")->fields());
        QFAIL("no error");
    } catch (const SqlError &e) {
        QCOMPARE(e.message(), QStringLiteral("unknown field \"班级\" at character 12"));
    }
}

void TestSqlEvaluator::convertForField_data()
{
    QTest::addColumn<Value>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<Value>("expected"); // Null with refused=true means an error
    QTest::addColumn<bool>("refused");
    QTest::newRow("text to text") << Value::text("101.jpg") << int(DaoText) << Value::text("101.jpg")
                                  << false;
    QTest::newRow("number to text") << Value::real(3.5) << int(DaoMemo) << Value::text("3.5") << false;
    QTest::newRow("numeric text to double")
        << Value::text("3.5") << int(DaoDouble) << Value::real(3.5) << false;
    QTest::newRow("no number for a double") << Value::text("101.jpg") << int(DaoDouble) << Value() << true;
    QTest::newRow("empty text for a double") << Value::text("") << int(DaoDouble) << Value() << true;
    QTest::newRow("18-digit text to double stays exact")
        << Value::text("110101199001011234") << int(DaoDouble) << Value::integer(110101199001011234) << false;
    QTest::newRow("2^53 + 1 to double stays exact")
        << Value::integer(9007199254740993) << int(DaoDouble) << Value::integer(9007199254740993) << false;
    QTest::newRow("2^53 to double is a double")
        << Value::integer(9007199254740992) << int(DaoDouble) << Value::real(9007199254740992.0) << false;
    QTest::newRow("whole double to long") << Value::real(7) << int(DaoLong) << Value::integer(7) << false;
    QTest::newRow("fraction for a long") << Value::real(7.5) << int(DaoLong) << Value() << true;
    QTest::newRow("currency from text")
        << Value::text("1.2345") << int(DaoCurrency) << Value::currency(12345) << false;
    QTest::newRow("date from text") << Value::text("2024-03-09") << int(DaoDate) << Value::dateTime(march9)
                                    << false;
    QTest::newRow("no date") << Value::text("2024-13-01") << int(DaoDate) << Value() << true;
    QTest::newRow("number for a date") << Value::integer(3) << int(DaoDate) << Value() << true;
    QTest::newRow("boolean from text")
        << Value::text("true") << int(DaoBoolean) << Value::boolean(true) << false;
    QTest::newRow("text for binary") << Value::text("ab") << int(DaoLongBinary) << Value() << true;
    QTest::newRow("Chr(0) in a text")
        << Value::text(QStringLiteral("a") + QChar(0)) << int(DaoText) << Value() << true;
    QTest::newRow("Chr(0) in a memo") << Value::text(QString(QChar(0))) << int(DaoMemo) << Value() << true;
    QTest::newRow("null stays null") << Value() << int(DaoDouble) << Value() << false;
}

void TestSqlEvaluator::convertForField()
{
    QFETCH(Value, value);
    QFETCH(int, type);
    QFETCH(Value, expected);
    QFETCH(bool, refused);
    const FieldInfo field = memoryField("f", qint16(type));
    try {
        const Value v = SqlEvaluator::convertForField(value, field);
        QVERIFY2(!refused, qPrintable(v.toText()));
        QCOMPARE(v, expected);
    } catch (const EngineError &e) {
        QVERIFY2(refused, qPrintable(e.message()));
        QVERIFY(e.message().contains("\"f\""));
    }
}

QTEST_GUILESS_MAIN(TestSqlEvaluator)
#include "tst_sqlevaluator.moc"
