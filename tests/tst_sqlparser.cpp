#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlKeywords.h"
#include "data/engine/sql/SqlParser.h"

#include <QTest>

using namespace lumora::engine;

class TestSqlParser : public QObject
{
    Q_OBJECT
private slots:
    void statements_data();
    void statements();
    void errors_data();
    void errors();
    void namesReadBack_data();
    void namesReadBack();
};

// The tree in prefix form, e.g. (= f 'x').
static QString dump(const SqlExpr &e)
{
    static const char *cmps[] = {"=", "<>", "<", "<=", ">", ">="};
    QStringList args;
    for (const auto &a : e.args)
        args << dump(*a);
    switch (e.op) {
    case SqlExpr::Op::Literal:
        if (e.value.kind() == Value::Kind::Text)
            return QLatin1Char('\'') + e.value.textValue() + QLatin1Char('\'');
        return e.value.isNull() ? QStringLiteral("null") : e.value.toText();
    case SqlExpr::Op::Field: return e.name;
    case SqlExpr::Op::Concat: return QStringLiteral("(& %1)").arg(args.join(' '));
    case SqlExpr::Op::Chr: return QStringLiteral("(chr %1)").arg(args.join(' '));
    case SqlExpr::Op::Negate: return QStringLiteral("(- %1)").arg(args.join(' '));
    case SqlExpr::Op::Not: return QStringLiteral("(not %1)").arg(args.join(' '));
    case SqlExpr::Op::And: return QStringLiteral("(and %1)").arg(args.join(' '));
    case SqlExpr::Op::Or: return QStringLiteral("(or %1)").arg(args.join(' '));
    case SqlExpr::Op::Compare:
        return QStringLiteral("(%1 %2)").arg(QLatin1String(cmps[int(e.cmp)]), args.join(' '));
    case SqlExpr::Op::IsNull:
        return QStringLiteral("(%1 %2)").arg(e.negated ? "notnull" : "isnull", args.join(' '));
    }
    return {};
}

static QString dump(const SqlStatement &s)
{
    if (const auto *sel = std::get_if<SqlSelect>(&s)) {
        QStringList cols;
        for (const auto &c : sel->columns)
            cols << dump(*c.expr) + (c.alias.isEmpty() ? QString() : QStringLiteral(" as ") + c.alias);
        return QStringLiteral("select%1 %2 from %3%4")
            .arg(sel->distinct ? " distinct" : "", sel->star ? QStringLiteral("*") : cols.join(", "),
                 sel->table.name, sel->where ? QStringLiteral(" where ") + dump(*sel->where) : QString());
    }
    const auto &up = std::get<SqlUpdate>(s);
    QStringList sets;
    for (const auto &a : up.assignments)
        sets << a.fieldName + QStringLiteral("=") + dump(*a.value);
    return QStringLiteral("update %1 set %2%3")
        .arg(up.table.name, sets.join(", "),
             up.where ? QStringLiteral(" where ") + dump(*up.where) : QString());
}

void TestSqlParser::statements_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("tree");
    QTest::newRow("fields of a table")
        << "select * from [学生 名单]" << QStringLiteral("select * from 学生 名单");
    QTest::newRow("loading query, two blanks before from")
        << "select A & Chr(9) & B & Chr(9) & C as Item  from [T]"
        << "select (& A (chr 9) B (chr 9) C) as Item from T";
    QTest::newRow("loading query with filter")
        << QStringLiteral("select 学号 & Chr(9) & 姓名 as Item  from [学生] where 班级='三班'")
        << QStringLiteral("select (& 学号 (chr 9) 姓名) as Item from 学生 where (= 班级 '三班')");
    QTest::newRow("single field loading query") << "select A as Item  from [T]"
                                                << "select A as Item from T";
    QTest::newRow("distinct, keywords in any case") << QStringLiteral("SeLeCt DISTINCT 班级 FROM [学生]")
                                                    << QStringLiteral("select distinct 班级 from 学生");
    QTest::newRow("write-back")
        << QStringLiteral("update [学生] set 照片='101.jpg' where 学号='101' and 班级=3")
        << QStringLiteral("update 学生 set 照片='101.jpg' where (and (= 学号 '101') (= 班级 3))");
    QTest::newRow("date key") << "update T set p='x' where d=#3/9/2024#"
                              << "update T set p='x' where (= d 2024-03-09)";
    QTest::newRow("negative number") << "select * from T where n=-2.5"
                                     << "select * from T where (= n (- 2.5))";
    QTest::newRow("and binds tighter than or") << "select * from T where a=1 or b=2 and c=3"
                                               << "select * from T where (or (= a 1) (and (= b 2) (= c 3)))";
    QTest::newRow("parentheses and not") << "select * from T where not (a=1 or b<>2)"
                                         << "select * from T where (not (or (= a 1) (<> b 2)))";
    QTest::newRow("is null, is not null") << "select * from T where a is null and b is not null"
                                          << "select * from T where (and (isnull a) (notnull b))";
    QTest::newRow("& binds tighter than =") << "select * from T where a & b = 'xy'"
                                            << "select * from T where (= (& a b) 'xy')";
    QTest::newRow("keyword as bracketed name") << "select [from] from [select]"
                                               << "select from from select";
    QTest::newRow("field named like a function") << "select chr from T"
                                                 << "select chr from T";
    QTest::newRow("several columns and trailing semicolon") << "select a, b as x from T;"
                                                            << "select a, b as x from T";
    QTest::newRow("several assignments") << "update T set a=1, b='2'"
                                         << "update T set a=1, b='2'";
    QTest::newRow("null and booleans") << "update T set a=null, b=true, c=False"
                                       << "update T set a=null, b=True, c=False";
}

void TestSqlParser::statements()
{
    QFETCH(QString, statement);
    QFETCH(QString, tree);
    QCOMPARE(dump(SqlParser::parse(statement)), tree);
}

void TestSqlParser::errors_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "" << 1 << "unexpected end of statement, expected \"select\" or \"update\"";
    QTest::newRow("delete is not ours") << "delete from T" << 1 << "unexpected \"delete\"";
    QTest::newRow("missing from") << "select a b" << 10 << "unexpected \"b\", expected \"from\"";
    QTest::newRow("missing table") << "select * from" << 14
                                   << "unexpected end of statement, expected a table name";
    QTest::newRow("reserved word as table") << "select * from where" << 15 << "expected a table name";
    QTest::newRow("dangling and") << "select * from T where a=1 and" << 30
                                  << "expected a value or a field name";
    QTest::newRow("apostrophe in value breaks the quoting")
        << "select * from T where n='O'Brien'" << 33 << "unterminated text literal";
    QTest::newRow("unclosed parenthesis") << "select * from T where (a=1" << 27 << "expected \")\"";
    QTest::newRow("unknown function") << "select Len(a) from T" << 8 << "unknown function \"Len\"";
    QTest::newRow("update without set") << "update T where a=1" << 10 << "expected \"set\"";
    QTest::newRow("assignment without =") << "update T set a 1" << 16 << "expected \"=\"";
    QTest::newRow("is without null") << "select * from T where a is 1" << 28 << "expected \"null\"";
    QTest::newRow("empty number filter value") << "select * from T where n=" << 25 << "expected a value";
    QTest::newRow("lexer error passes through")
        << "select * from T where n='x" << 25 << "unterminated text literal";
    QTest::newRow("U+FFFD to be written") << "update T set a='x' & '张\uFFFD' where b='\uFFFD'" << 22
                                          << "\"张\uFFFD\" is not written: it holds U+FFFD";
    QTest::newRow("half a character to be written")
        << "update T set a=Chr(65) & '" + QString(QChar(0xDC00)) + "'" << 26 << "half of a character";
    QTest::newRow("long text quoted in part")
        << "select * from T where a=1 '" + QString(60, QLatin1Char('x')) + "'" << 27
        << "unexpected \"'" + QString(39, QLatin1Char('x')) + "…\"";
    QTest::newRow("long name quoted in part") << "select a from T " + QString(60, QLatin1Char('y')) << 17
                                              << "unexpected \"" + QString(40, QLatin1Char('y')) + "…\"";
    QTest::newRow("nesting bomb") << "select " + QString(5000, QLatin1Char('(')) + "1" << 208
                                  << "nested too deeply";
    QTest::newRow("minus bomb") << "select " + QString(5000, QLatin1Char('-')) + "1" << 207
                                << "nested too deeply";
}

void TestSqlParser::errors()
{
    QFETCH(QString, statement);
    QFETCH(int, position);
    QFETCH(QString, message);
    try {
        SqlParser::parse(statement);
        QFAIL("no error");
    } catch (const SqlError &e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QCOMPARE(e.position(), position);
    }
}

// A name written as the handlers write it (bare when isBareName() allows,
// else in brackets) reads back as that name wherever a statement puts it:
// so every word the parser takes as a keyword must be one the name rule
// brackets, in any letter case.
void TestSqlParser::namesReadBack_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &word : keywords()) {
        QTest::newRow(qPrintable(word)) << word;
        QTest::newRow(qPrintable(word.toLower())) << word.toLower();
        QTest::newRow(qPrintable(word.left(1) + word.mid(1).toLower()))
            << word.left(1) + word.mid(1).toLower();
    }
    for (const char *name : {"chr", "CHR", "selection", "fromage", "isnull", "XM_1", "_x", "x1", "1st", "a b",
                             "x.y", "x-y", "a&b", "#1", "it's"})
        QTest::newRow(name) << QString::fromLatin1(name);
    for (const QString &name : {QStringLiteral("学号"), QStringLiteral("姓 名"), QStringLiteral("Ünïcode"),
                                QStringLiteral("名\u3000单"), QStringLiteral("①")})
        QTest::newRow(qPrintable(name)) << name;
}

void TestSqlParser::namesReadBack()
{
    QFETCH(QString, name);
    const QString n = isBareName(name) ? name : QLatin1Char('[') + name + QLatin1Char(']');
    const auto tree = [](const QString &statement) {
        try {
            return dump(SqlParser::parse(statement));
        } catch (const SqlError &e) {
            return e.message();
        }
    };
    QCOMPARE(tree(QStringLiteral("select %1, %1 & 'x' as %1 from %1 where %1 = 1 or %1 is null").arg(n)),
             QStringLiteral("select %1, (& %1 'x') as %1 from %1 where (or (= %1 1) (isnull %1))").arg(name));
    QCOMPARE(tree(QStringLiteral("update %1 set %1 = %1 where not %1 <> 'x'").arg(n)),
             QStringLiteral("update %1 set %1=%1 where (not (<> %1 'x'))").arg(name));
}

QTEST_GUILESS_MAIN(TestSqlParser)
#include "tst_sqlparser.moc"
