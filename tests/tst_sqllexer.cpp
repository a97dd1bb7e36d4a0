#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlLexer.h"

#include <QStringDecoder>
#include <QTest>

using namespace lumora::engine;

class TestSqlLexer : public QObject
{
    Q_OBJECT
private slots:
    void tokens_data();
    void tokens();
    void errors_data();
    void errors();
    void dates_data();
    void dates();
    void numbers_data();
    void numbers();
    void utf8AgreesWithQt();
};

// Tokens written compactly: kind letter and text, e.g. "N:select".
static QStringList describe(const QList<SqlToken> &tokens)
{
    QStringList out;
    for (const SqlToken &t : tokens) {
        switch (t.kind) {
        case SqlToken::Kind::End: out << QStringLiteral("end@%1").arg(t.offset); break;
        case SqlToken::Kind::Name: out << QStringLiteral("N:") + t.text; break;
        case SqlToken::Kind::QuotedName: out << QStringLiteral("Q:") + t.text; break;
        case SqlToken::Kind::Symbol: out << QStringLiteral("S:") + t.text; break;
        case SqlToken::Kind::Literal: out << QStringLiteral("L:") + t.value.toText(); break;
        }
    }
    return out;
}

void TestSqlLexer::tokens_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QStringList>("tokens");
    QTest::newRow("loading query") << "select A & Chr(9) & B as Item  from [T]"
                                   << QStringList{"N:select", "N:A",    "S:&", "N:Chr", "S:(",
                                                  "L:9",      "S:)",    "S:&", "N:B",   "N:as",
                                                  "N:Item",   "N:from", "Q:T", "end@39"};
    QTest::newRow("chinese names") << QStringLiteral("班级='三班'")
                                   << QStringList{QStringLiteral("N:班级"), "S:=", QStringLiteral("L:三班"),
                                                  "end@7"};
    QTest::newRow("bracketed with blanks and marks")
        << "[19 MB 01 BEZAHLT ???] [Sheet1$]" << QStringList{"Q:19 MB 01 BEZAHLT ???", "Q:Sheet1$", "end@32"};
    QTest::newRow("doubled bracket inside a name")
        << "[a]]b] [x]]]" << QStringList{"Q:a]b", "Q:x]", "end@12"};
    QTest::newRow("bracket then bracket") << "[a][b]" << QStringList{"Q:a", "Q:b", "end@6"};
    QTest::newRow("doubled apostrophe") << "'O''Brien'" << QStringList{"L:O'Brien", "end@10"};
    QTest::newRow("double-quoted text") << "\"say \"\"hi\"\"\"" << QStringList{"L:say \"hi\"", "end@12"};
    QTest::newRow("apostrophe inside double quotes") << "\"O'Brien\"" << QStringList{"L:O'Brien", "end@9"};
    QTest::newRow("empty text") << "''" << QStringList{"L:", "end@2"};
    QTest::newRow("operators") << "<><=>=<>=&"
                               << QStringList{"S:<>", "S:<=", "S:>=", "S:<>", "S:=", "S:&", "end@10"};
    QTest::newRow("decimal and unary minus") << "-3.5" << QStringList{"S:-", "L:3.5", "end@4"};
    QTest::newRow("exponent") << "1e+21 2.5E-8" << QStringList{"L:1e+21", "L:2.5e-08", "end@12"};
    QTest::newRow("date literal") << "#3/9/2024#" << QStringList{"L:2024-03-09", "end@10"};
    QTest::newRow("name with digits and underscore") << "f_1x" << QStringList{"N:f_1x", "end@4"};
    QTest::newRow("blanks only") << "  \t " << QStringList{"end@4"};
}

void TestSqlLexer::tokens()
{
    QFETCH(QString, statement);
    QFETCH(QStringList, tokens);
    QCOMPARE(describe(SqlLexer::tokenize(statement)), tokens);
}

void TestSqlLexer::errors_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("message");
    QTest::newRow("unterminated text") << "x = 'abc" << 5 << "unterminated text literal";
    QTest::newRow("doubled quote at end") << "x = 'abc''" << 5 << "unterminated text literal";
    QTest::newRow("unterminated bracket") << "from [T" << 6 << "unterminated name";
    QTest::newRow("empty bracket") << "[]" << 1 << "empty name";
    QTest::newRow("doubled bracket at the end") << "from [a]]" << 6 << "unterminated name";
    QTest::newRow("unterminated date") << "d=#2024-01-01" << 3 << "unterminated date literal";
    QTest::newRow("impossible date") << "d=#2/30/2024#" << 3 << "is not a date";
    QTest::newRow("stray character") << "a ? b" << 3 << "unexpected character";
    QTest::newRow("number glued to a name") << "12abc" << 1 << "malformed number";
    QTest::newRow("integer too large for double")
        << QString(400, QLatin1Char('9')) << 1 << "number out of range";
}

void TestSqlLexer::errors()
{
    QFETCH(QString, statement);
    QFETCH(int, position);
    QFETCH(QString, message);
    try {
        SqlLexer::tokenize(statement);
        QFAIL("no error");
    } catch (const SqlError &e) {
        QCOMPARE(e.position(), position);
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QVERIFY(e.message().endsWith(QStringLiteral("at character %1").arg(position)));
    }
}

void TestSqlLexer::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime none;
    QTest::newRow("month first") << "3/9/2024" << QDateTime(QDate(2024, 3, 9), QTime(0, 0), Qt::UTC);
    QTest::newRow("month first with time")
        << "12/31/1999 23:59" << QDateTime(QDate(1999, 12, 31), QTime(23, 59), Qt::UTC);
    QTest::newRow("iso") << "2024-03-09" << QDateTime(QDate(2024, 3, 9), QTime(0, 0), Qt::UTC);
    QTest::newRow("iso with seconds")
        << " 2024-03-09 07:05:01 " << QDateTime(QDate(2024, 3, 9), QTime(7, 5, 1), Qt::UTC);
    QTest::newRow("leap day") << "2/29/2024" << QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC);
    QTest::newRow("no leap day") << "2/29/2023" << none;
    QTest::newRow("day first is not read") << "13/1/2024" << none;
    QTest::newRow("two-digit year") << "3/9/24" << none;
    QTest::newRow("hour 24") << "2024-03-09 24:00" << none;
    QTest::newRow("trailing junk") << "2024-03-09x" << none;
    QTest::newRow("empty") << "" << none;
}

void TestSqlLexer::dates()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const auto d = SqlLexer::readDate(text);
    QCOMPARE(d.value_or(QDateTime()), expected);
}

void TestSqlLexer::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("rendered");
    QTest::newRow("integer") << " 101 "
                             << "Integer"
                             << "101";
    QTest::newRow("negative") << "-42"
                              << "Integer"
                              << "-42";
    QTest::newRow("plus") << "+7"
                          << "Integer"
                          << "7";
    QTest::newRow("fraction") << "3.5"
                              << "Double"
                              << "3.5";
    QTest::newRow("leading dot") << ".25"
                                 << "Double"
                                 << "0.25";
    QTest::newRow("past int64 becomes double") << "9223372036854775808"
                                               << "Double"
                                               << "9223372036854775808";
    QTest::newRow("exponent") << "1e-8"
                              << "Double"
                              << "1e-08";
    QTest::newRow("text") << "abc"
                          << "none"
                          << "";
    QTest::newRow("half an exponent") << "1e"
                                      << "none"
                                      << "";
    QTest::newRow("two dots") << "1.2.3"
                              << "none"
                              << "";
    QTest::newRow("inner blank") << "1 2"
                                 << "none"
                                 << "";
    QTest::newRow("sign only") << "-"
                               << "none"
                               << "";
    QTest::newRow("overflow") << "1e999"
                              << "none"
                              << "";
}

void TestSqlLexer::numbers()
{
    QFETCH(QString, text);
    QFETCH(QString, kind);
    QFETCH(QString, rendered);
    const auto n = SqlLexer::readNumber(text);
    if (kind == QLatin1String("none")) {
        QVERIFY(!n);
        return;
    }
    QVERIFY(n);
    QCOMPARE(n->kind() == Value::Kind::Integer ? QStringLiteral("Integer") : QStringLiteral("Double"), kind);
    QCOMPARE(n->toText(), rendered);
}

QTEST_GUILESS_MAIN(TestSqlLexer)
// Every sequence of one or two bytes, and every lead and second byte
// followed by each kind of byte (continuation or not, at both ends of
// its range) up to four bytes, is taken exactly when Qt's own decoder
// decodes it without a fault.
void TestSqlLexer::utf8AgreesWithQt()
{
    const auto agree = [](const QByteArray &bytes) {
        QStringDecoder strict(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = strict.decode(bytes);
        bool taken = true;
        try {
            SqlLexer::decodeUtf8(bytes);
        } catch (const SqlError &) {
            taken = false;
        }
        return taken == !strict.hasError();
    };
    const QByteArray tails("\x00\x7f\x80\xbf\xc0\xff", 6);
    for (int a = 0; a < 256; ++a) {
        QVERIFY(agree(QByteArray(1, char(a))));
        for (int b = 0; b < 256; ++b) {
            const QByteArray two = QByteArray(1, char(a)) + char(b);
            QVERIFY2(agree(two), two.toHex().constData());
            for (int c = 0; c < tails.size() && a >= 0xE0; ++c)
                for (int d = -1; d < (a >= 0xF0 ? tails.size() : 0); ++d) {
                    const QByteArray more = two + tails[c] + (d < 0 ? QByteArray() : QByteArray(1, tails[d]));
                    QVERIFY2(agree(more), more.toHex().constData());
                }
        }
    }
}

#include "tst_sqllexer.moc"
