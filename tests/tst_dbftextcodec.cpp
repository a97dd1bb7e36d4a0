#include "data/engine/dbf/DbfTextCodec.h"

#include <QStringDecoder>
#include <QTest>

using namespace lumora::engine;

namespace {

// What ICU alone makes of `bytes`: a character cut off at the end becomes
// U+FFFD, as the codec promises. The line feed after the bytes is never part
// of a character, so ICU reports a cut-off lead byte instead of dropping it.
QString icuDecode(const QByteArray &codePage, const QByteArray &bytes)
{
    QStringDecoder decoder(codePage.constData());
    QString text = decoder.decode(bytes + '\n');
    text.chop(1);
    return text;
}

} // namespace

class TestDbfTextCodec : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void everyPairMatchesIcu_data();
    void everyPairMatchesIcu();
    void roundTrips_data();
    void roundTrips();
};

void TestDbfTextCodec::decodes_data()
{
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray("GBK") << QByteArray() << QString();
    QTest::newRow("ascii") << QByteArray("GBK") << QByteArray("2024-03 ab") << QStringLiteral("2024-03 ab");
    QTest::newRow("GBK two characters") << QByteArray("GBK") << QByteArray("\xB2\xE2\xCA\xD4") << QStringLiteral("测试");
    QTest::newRow("GBK between ascii") << QByteArray("GBK") << QByteArray("A\xB2\xE2(1)") << QStringLiteral("A测(1)");
    QTest::newRow("GBK tab inside") << QByteArray("GBK") << QByteArray("\xD5\xC5\t\xC8\xFD") << QStringLiteral("张\t三");
    QTest::newRow("GBK cut at the end") << QByteArray("GBK") << QByteArray("\xB2\xE2\xCA")
                                        << QStringLiteral("测") + QChar::ReplacementCharacter;
    QTest::newRow("GBK lone lead byte") << QByteArray("GBK") << QByteArray("\xB2") << QString(QChar::ReplacementCharacter);
    QTest::newRow("GBK lead before a blank") << QByteArray("GBK") << QByteArray("\xB2 x")
                                             << icuDecode("GBK", "\xB2 x");
    QTest::newRow("GBK byte 0x80") << QByteArray("GBK") << QByteArray("a\x80z") << icuDecode("GBK", "a\x80z");
    QTest::newRow("GBK byte 0xFF") << QByteArray("GBK") << QByteArray("a\xFFz") << icuDecode("GBK", "a\xFFz");
    QTest::newRow("GBK unassigned pair") << QByteArray("GBK") << QByteArray("\xA2\xA1\xB2\xE2")
                                         << icuDecode("GBK", "\xA2\xA1\xB2\xE2");
    QTest::newRow("GB18030 four bytes") << QByteArray("GB18030") << QByteArray("\x81\x30\x81\x30")
                                        << QString(QChar(0x80));
    QTest::newRow("Big5") << QByteArray("Big5") << QByteArray("\xA4\xA4\xA4\xE5") << QStringLiteral("中文");
    QTest::newRow("Shift_JIS half-width kana") << QByteArray("Shift_JIS") << QByteArray("\xB1\xB2" "a")
                                               << QStringLiteral("ｱｲa");
    QTest::newRow("Shift_JIS kanji") << QByteArray("Shift_JIS") << QByteArray("\x93\xFA\x96\x7B")
                                     << QStringLiteral("日本");
    QTest::newRow("UTF-8") << QByteArray("UTF-8") << QByteArray("\xE6\xB5\x8B") << QStringLiteral("测");
    QTest::newRow("windows-1251") << QByteArray("windows-1251") << QByteArray("\xC0\xE1") << QStringLiteral("Аб");
}

void TestDbfTextCodec::decodes()
{
    QFETCH(QByteArray, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const DbfTextCodec codec(codePage);
    QCOMPARE(codec.name(), codePage);
    QCOMPARE(codec.decode(bytes), expected);
    // Twice: the second decode must not depend on state the first left.
    QCOMPARE(codec.decode(bytes), expected);
}

void TestDbfTextCodec::everyPairMatchesIcu_data()
{
    QTest::addColumn<QByteArray>("codePage");
    for (const char *name : {"GBK", "Big5", "Shift_JIS", "windows-949"})
        QTest::newRow(name) << QByteArray(name);
}

// Every two-byte sequence with a high first byte, between ASCII letters,
// decodes exactly as ICU decodes it.
void TestDbfTextCodec::everyPairMatchesIcu()
{
    QFETCH(QByteArray, codePage);
    const DbfTextCodec codec(codePage);
    QCOMPARE(codec.name(), codePage);
    int mismatches = 0;
    QByteArray first;
    for (int lead = 0x80; lead <= 0xFF; ++lead)
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            if (trail == '\n')
                continue;
            const QByteArray bytes = QByteArray("x") + char(lead) + char(trail) + "y";
            if (codec.decode(bytes) != icuDecode(codePage, bytes) && mismatches++ == 0)
                first = bytes.toHex(' ');
        }
    QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 mismatches, first %2").arg(mismatches).arg(first)));
}

void TestDbfTextCodec::roundTrips_data()
{
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QString>("text");
    QTest::newRow("GBK name") << QByteArray("GBK") << QStringLiteral("欧阳小明");
    QTest::newRow("GBK address") << QByteArray("GBK") << QStringLiteral("北京市海淀区学院路12号");
    QTest::newRow("Big5") << QByteArray("Big5") << QStringLiteral("臺北市");
}

void TestDbfTextCodec::roundTrips()
{
    QFETCH(QByteArray, codePage);
    QFETCH(QString, text);
    const DbfTextCodec codec(codePage);
    const std::optional<QByteArray> bytes = codec.encode(text);
    QVERIFY(bytes);
    QCOMPARE(codec.decode(*bytes), text);
    // A character the code page lacks is refused, not replaced.
    QVERIFY(!codec.encode(text + QStringLiteral("😀")));
}

QTEST_GUILESS_MAIN(TestDbfTextCodec)
#include "tst_dbftextcodec.moc"
