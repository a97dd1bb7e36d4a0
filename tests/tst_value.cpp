#include "data/engine/Value.h"

#include <QTest>

using lumora::engine::Value;

class TestValue : public QObject
{
    Q_OBJECT
private slots:
    void toText_data();
    void toText();
};

void TestValue::toText_data()
{
    QTest::addColumn<Value>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("null") << Value::null() << QString();
    QTest::newRow("whole double") << Value::real(3) << "3";
    QTest::newRow("fraction") << Value::real(3.5) << "3.5";
    QTest::newRow("negative zero") << Value::real(-0.0) << "0";
    QTest::newRow("shortest, not 17 digits") << Value::real(0.1) << "0.1";
    QTest::newRow("large integer-valued double") << Value::real(123456789012.0) << "123456789012";
    QTest::newRow("integer") << Value::integer(-42) << "-42";
    QTest::newRow("currency whole") << Value::currency(30000) << "3";
    QTest::newRow("currency fraction") << Value::currency(-12345) << "-1.2345";
    QTest::newRow("true") << Value::boolean(true) << "True";
    QTest::newRow("date") << Value::date(QDate(2024, 3, 9)) << "2024-03-09";
    QTest::newRow("date and time") << Value::dateTime(QDateTime(QDate(2024, 3, 9), QTime(7, 5, 1)))
                                   << "2024-03-09 07:05:01";
    QTest::newRow("first year") << Value::date(QDate(1, 1, 1)) << "0001-01-01";
    QTest::newRow("last second") << Value::dateTime(QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)))
                                 << "9999-12-31 23:59:59";
    QTest::newRow("midnight plus a second")
        << Value::dateTime(QDateTime(QDate(2009, 10, 28), QTime(0, 0, 1))) << "2009-10-28 00:00:01";
    QTest::newRow("text") << Value::text(QStringLiteral("张三")) << QStringLiteral("张三");
}

void TestValue::toText()
{
    QFETCH(Value, value);
    QFETCH(QString, text);
    QCOMPARE(value.toText(), text);
}

QTEST_GUILESS_MAIN(TestValue)
#include "tst_value.moc"
