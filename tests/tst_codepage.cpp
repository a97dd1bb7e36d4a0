#include "data/engine/text/CodePage.h"

#include <QSet>
#include <QStringDecoder>
#include <QTest>

#include <iconv.h>

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

// What glibc's iconv, a converter independent of ICU, makes of `bytes` in
// `codePage`; a null string when it cannot convert them.
QString iconvDecode(const QByteArray &codePage, QByteArray bytes)
{
    const iconv_t cd = iconv_open("UTF-8", codePage.constData());
    if (cd == iconv_t(-1))
        return {};
    QByteArray out(bytes.size() * 4 + 8, '\0');
    char *in = bytes.data();
    size_t inLeft = size_t(bytes.size());
    char *to = out.data();
    size_t outLeft = size_t(out.size());
    size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
    // Some converters (CP1255) hold a character back in case a combining
    // mark follows; this lets it out.
    if (done != size_t(-1))
        done = iconv(cd, nullptr, nullptr, &to, &outLeft);
    iconv_close(cd);
    if (done == size_t(-1) || inLeft != 0)
        return {};
    return QString::fromUtf8(out.constData(), qsizetype(out.size() - qsizetype(outLeft)));
}

// The language-driver bytes of the dBase, FoxPro and Visual FoxPro formats
// and the Windows code page each names, as the formats' documentation
// lists them (0x00 and 0x57 as this program reads them: GBK).
const QList<QPair<int, int>> documentedDrivers = {
    {0x00, 936},  {0x01, 437},  {0x02, 850},  {0x03, 1252},  {0x04, 10000}, {0x08, 865},   {0x09, 437},
    {0x0A, 850},  {0x0B, 437},  {0x0C, 850},  {0x0D, 437},   {0x0E, 850},   {0x0F, 437},   {0x10, 850},
    {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},   {0x15, 437},   {0x16, 850},   {0x17, 865},
    {0x18, 437},  {0x19, 437},  {0x1A, 850},  {0x1B, 437},   {0x1C, 863},   {0x1D, 850},   {0x1F, 852},
    {0x22, 852},  {0x23, 852},  {0x24, 860},  {0x25, 850},   {0x26, 866},   {0x37, 850},   {0x40, 852},
    {0x4D, 936},  {0x4E, 949},  {0x4F, 950},  {0x50, 874},   {0x56, 932},   {0x57, 936},   {0x58, 1252},
    {0x59, 1252}, {0x5E, 437},  {0x5F, 437},  {0x60, 850},   {0x61, 1252},  {0x62, 1252},  {0x64, 852},
    {0x65, 866},  {0x66, 865},  {0x67, 861},  {0x6A, 737},   {0x6B, 857},   {0x6C, 863},   {0x78, 950},
    {0x79, 949},  {0x7A, 936},  {0x7B, 932},  {0x7C, 874},   {0x7D, 1255},  {0x7E, 1256},  {0x85, 862},
    {0x86, 737},  {0x87, 852},  {0x88, 857},  {0x96, 10007}, {0x97, 10029}, {0x98, 10006}, {0x9B, 1250},
    {0x9C, 850},  {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254},  {0xCB, 1253},  {0xCC, 1257},  {0xF0, 65001},
};

// Whether ICU's text and iconv's mean the same. The two converters differ
// on a few characters without either being wrong: micro sign or Greek mu
// for DOS 0xE6, increment or Greek delta, euro or currency sign on late
// Mac code pages, a private-use Apple logo, and bytes one leaves undefined.
bool sameCharacters(const QString &icu, const QString &iconv)
{
    if (icu == iconv)
        return true;
    if (icu.size() != 1 || iconv.size() != 1)
        return false;
    const char16_t a = icu.at(0).unicode();
    const char16_t b = iconv.at(0).unicode();
    const auto pair = [&](char16_t x, char16_t y) { return (a == x && b == y) || (a == y && b == x); };
    const auto undefined = [](char16_t c) { return c == 0xFFFD || (c >= 0xE000 && c <= 0xF8FF); };
    return pair(0x00B5, 0x03BC) || pair(0x2206, 0x0394) || pair(0x20AC, 0x00A4) || undefined(a) ||
           undefined(b);
}

QByteArray iconvName(int codePage)
{
    switch (codePage) {
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 65001: return "UTF-8";
    default: return "CP" + QByteArray::number(codePage);
    }
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void everyPairMatchesIcu_data();
    void everyPairMatchesIcu();
    void languageDriverNamesItsCodePage_data();
    void languageDriverNamesItsCodePage();
    void otherLanguageDriversAreUnknown();
    void roundTrips_data();
    void roundTrips();
};

void TestCodePage::decodes_data()
{
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray("GBK") << QByteArray() << QString();
    QTest::newRow("ascii") << QByteArray("GBK") << QByteArray("2024-03 ab") << QStringLiteral("2024-03 ab");
    QTest::newRow("GBK two characters")
        << QByteArray("GBK") << QByteArray("\xB2\xE2\xCA\xD4") << QStringLiteral("测试");
    QTest::newRow("GBK between ascii")
        << QByteArray("GBK") << QByteArray("A\xB2\xE2(1)") << QStringLiteral("A测(1)");
    QTest::newRow("GBK tab inside") << QByteArray("GBK") << QByteArray("\xD5\xC5\t\xC8\xFD")
                                    << QStringLiteral("张\t三");
    QTest::newRow("GBK cut at the end") << QByteArray("GBK") << QByteArray("\xB2\xE2\xCA")
                                        << QStringLiteral("测") + QChar::ReplacementCharacter;
    QTest::newRow("GBK lone lead byte")
        << QByteArray("GBK") << QByteArray("\xB2") << QString(QChar::ReplacementCharacter);
    QTest::newRow("GBK lead before a blank")
        << QByteArray("GBK") << QByteArray("\xB2 x") << icuDecode("GBK", "\xB2 x");
    QTest::newRow("GBK byte 0x80") << QByteArray("GBK") << QByteArray("a\x80z") << icuDecode("GBK", "a\x80z");
    QTest::newRow("GBK byte 0xFF") << QByteArray("GBK") << QByteArray("a\xFFz") << icuDecode("GBK", "a\xFFz");
    QTest::newRow("GBK unassigned pair")
        << QByteArray("GBK") << QByteArray("\xA2\xA1\xB2\xE2") << icuDecode("GBK", "\xA2\xA1\xB2\xE2");
    QTest::newRow("GB18030 four bytes")
        << QByteArray("GB18030") << QByteArray("\x81\x30\x81\x30") << QString(QChar(0x80));
    QTest::newRow("Big5") << QByteArray("Big5") << QByteArray("\xA4\xA4\xA4\xE5") << QStringLiteral("中文");
    QTest::newRow("Shift_JIS half-width kana") << QByteArray("Shift_JIS")
                                               << QByteArray("\xB1\xB2"
                                                             "a")
                                               << QStringLiteral("ｱｲa");
    QTest::newRow("Shift_JIS kanji") << QByteArray("Shift_JIS") << QByteArray("\x93\xFA\x96\x7B")
                                     << QStringLiteral("日本");
    QTest::newRow("UTF-8") << QByteArray("UTF-8") << QByteArray("\xE6\xB5\x8B") << QStringLiteral("测");
    QTest::newRow("windows-1251") << QByteArray("windows-1251") << QByteArray("\xC0\xE1")
                                  << QStringLiteral("Аб");
}

void TestCodePage::decodes()
{
    QFETCH(QByteArray, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const CodePage codec(codePage);
    QCOMPARE(codec.name(), codePage);
    QCOMPARE(codec.decode(bytes), expected);
    // Twice: the second decode must not depend on state the first left.
    QCOMPARE(codec.decode(bytes), expected);
}

void TestCodePage::everyPairMatchesIcu_data()
{
    QTest::addColumn<QByteArray>("codePage");
    for (const char *name : {"GBK", "Big5", "Shift_JIS", "windows-949"})
        QTest::newRow(name) << QByteArray(name);
}

// Every two-byte sequence with a high first byte, between ASCII letters,
// decodes exactly as ICU decodes it.
void TestCodePage::everyPairMatchesIcu()
{
    QFETCH(QByteArray, codePage);
    const CodePage codec(codePage);
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
    QVERIFY2(mismatches == 0,
             qPrintable(QStringLiteral("%1 mismatches, first %2").arg(mismatches).arg(first)));
}

void TestCodePage::languageDriverNamesItsCodePage_data()
{
    QTest::addColumn<int>("driver");
    QTest::addColumn<int>("codePage");
    for (const auto &[driver, codePage] : documentedDrivers)
        QTest::addRow("0x%02X cp%d", driver, codePage) << driver << codePage;
}

// Each byte's codec decodes the high half of its code page as iconv does:
// every single byte 0x80-0xFF, or for a double-byte code page a block of
// pairs, or for UTF-8 a few sequences. A byte mapped to a neighbouring
// code page (865 for 866, 850 for 437) decodes some byte differently.
void TestCodePage::languageDriverNamesItsCodePage()
{
    QFETCH(int, driver);
    QFETCH(int, codePage);
    const QByteArray name = CodePage::nameForLanguageDriver(quint8(driver));
    QVERIFY2(!name.isEmpty(), "no code page");
    const CodePage codec(name);
    QCOMPARE(codec.name(), name);

    QList<QByteArray> samples;
    if (codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950) {
        for (int lead = 0xB0; lead <= 0xC8; ++lead)
            for (int trail = 0xA1; trail <= 0xFE; trail += 3)
                samples.append(QByteArray() + char(lead) + char(trail));
    } else if (codePage == 65001) {
        samples = {"\xC3\xA9", "\xE6\xB5\x8B", "\xF0\x9F\x98\x80", "\xD0\x96"};
    } else {
        for (int b = 0x80; b <= 0xFF; ++b)
            samples.append(QByteArray(1, char(b)));
    }
    if (codePage == 10006) {
        // glibc has no Mac Greek; Apple's mapping table gives these.
        QCOMPARE(codec.decode("\x80\xA1\xA2\xA3\xA4\xC1"), QStringLiteral("ÄΓΔΘΛΝ"));
        return;
    }
    int compared = 0;
    for (const QByteArray &bytes : std::as_const(samples)) {
        const QString expected = iconvDecode(iconvName(codePage), bytes);
        if (expected.isNull())
            continue; // a byte the code page leaves undefined
        ++compared;
        const QString actual = codec.decode(bytes);
        QVERIFY2(sameCharacters(actual, expected),
                 qPrintable(QStringLiteral("%1: %2 instead of %3")
                                .arg(QString::fromLatin1(bytes.toHex(' ')), actual, expected)));
    }
    QVERIFY2(compared >= samples.size() / 2, qPrintable(QString::number(compared)));
}

// Every byte the formats do not define names no code page, so the table
// says it guessed instead of reading in a code page picked by accident.
void TestCodePage::otherLanguageDriversAreUnknown()
{
    QSet<int> documented;
    for (const auto &entry : documentedDrivers)
        documented.insert(entry.first);
    for (int driver = 0; driver <= 0xFF; ++driver)
        if (!documented.contains(driver))
            QVERIFY2(CodePage::nameForLanguageDriver(quint8(driver)).isEmpty(),
                     qPrintable(QStringLiteral("0x%1").arg(driver, 2, 16, QLatin1Char('0'))));
}

void TestCodePage::roundTrips_data()
{
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QString>("text");
    QTest::newRow("GBK name") << QByteArray("GBK") << QStringLiteral("欧阳小明");
    QTest::newRow("GBK address") << QByteArray("GBK") << QStringLiteral("北京市海淀区学院路12号");
    QTest::newRow("Big5") << QByteArray("Big5") << QStringLiteral("臺北市");
}

void TestCodePage::roundTrips()
{
    QFETCH(QByteArray, codePage);
    QFETCH(QString, text);
    const CodePage codec(codePage);
    const std::optional<QByteArray> bytes = codec.encode(text);
    QVERIFY(bytes);
    QCOMPARE(codec.decode(*bytes), text);
    // A character the code page lacks is refused, not replaced.
    QVERIFY(!codec.encode(text + QStringLiteral("😀")));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
