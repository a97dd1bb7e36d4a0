#include "naming/NumericText.h"

#include <QTest>

class TestNumericText : public QObject
{
    Q_OBJECT
private slots:
    void numericValue_data();
    void numericValue();
    void nextNumberText_data();
    void nextNumberText();
};

void TestNumericText::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << "10001" << 10001.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("leading blanks") << "  42" << 42.0;
    QTest::newRow("blanks inside") << "1 0 0\t0 1" << 10001.0;
    QTest::newRow("stops at a letter") << "12ab34" << 12.0;
    QTest::newRow("negative") << "-7" << -7.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("fraction") << "2.5" << 2.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("exponent without digits ignored") << "3e" << 3.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("overflow reads as nothing") << "1e999" << 0.0;
    QTest::newRow("full-width digits are not digits") << "１２" << 0.0;
}

void TestNumericText::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::numericValue(text), value);
}

void TestNumericText::nextNumberText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("next");
    QTest::newRow("10001") << "10001"
                           << "10002";
    QTest::newRow("letters start at 1") << "abc"
                                        << "1";
    QTest::newRow("empty starts at 1") << ""
                                       << "1";
    QTest::newRow("trailing letters dropped") << "99号"
                                              << "100";
    QTest::newRow("leading zeros dropped") << "007"
                                           << "8";
    QTest::newRow("blanks dropped") << " 1 9"
                                    << "20";
    QTest::newRow("minus one") << "-1"
                               << "0";
    QTest::newRow("fraction") << "1.5"
                              << "2.5";
    QTest::newRow("large, no exponent") << "123456789012"
                                        << "123456789013";
}

void TestNumericText::nextNumberText()
{
    QFETCH(QString, text);
    QFETCH(QString, next);
    QCOMPARE(::nextNumberText(text), next);
}

QTEST_GUILESS_MAIN(TestNumericText)
#include "tst_numerictext.moc"
