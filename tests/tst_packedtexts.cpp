#include "data/engine/PackedTexts.h"

#include <QTest>

using lumora::engine::PackedTexts;

class TestPackedTexts : public QObject
{
    Q_OBJECT
private slots:
    void emptyListIsNull();
    void roundTrip();
    void firstTextsOnly();
    void longTexts();
    void replaced();
};

void TestPackedTexts::emptyListIsNull()
{
    const QString packed = PackedTexts::pack({});
    QVERIFY(packed.isNull());
    QCOMPARE(PackedTexts::count(packed), 0);
    QVERIFY(PackedTexts::at(packed, 0).isEmpty());
    QVERIFY(PackedTexts::list(packed).isEmpty());
}

void TestPackedTexts::roundTrip()
{
    const QStringList texts = {QStringLiteral("2024000001"), QString(), QStringLiteral("张三"),
                               QStringLiteral("a\tb"), QString()};
    const QString packed = PackedTexts::pack(texts);
    QCOMPARE(PackedTexts::count(packed), 5);
    for (qsizetype i = 0; i < texts.size(); ++i)
        QCOMPARE(PackedTexts::at(packed, i).toString(), texts.at(i));
    QVERIFY(PackedTexts::at(packed, 5).isEmpty());
    QVERIFY(PackedTexts::at(packed, -1).isEmpty());
    QCOMPARE(PackedTexts::list(packed), texts);
    QCOMPARE(PackedTexts::list(packed, 2, 2), QStringList(texts.mid(2, 2)));
    QCOMPARE(PackedTexts::list(packed, 4, 9), QStringList{QString()});
}

void TestPackedTexts::firstTextsOnly()
{
    const QString packed =
        PackedTexts::pack({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 2);
    QCOMPARE(PackedTexts::list(packed), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

void TestPackedTexts::longTexts()
{
    // Ends past 65,535 characters take both halves of their 32 bits.
    const QStringList texts = {QString(70000, QLatin1Char('x')), QStringLiteral("y"),
                               QString(65536, QLatin1Char('z'))};
    const QString packed = PackedTexts::pack(texts);
    QCOMPARE(PackedTexts::list(packed), texts);
}

void TestPackedTexts::replaced()
{
    const QString packed = PackedTexts::pack({QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(PackedTexts::list(PackedTexts::replaced(packed, 1, QStringLiteral("新"))),
             (QStringList{QStringLiteral("a"), QStringLiteral("新")}));
    QCOMPARE(PackedTexts::list(PackedTexts::replaced(packed, 3, QStringLiteral("d"))),
             (QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(), QStringLiteral("d")}));
    QCOMPARE(PackedTexts::list(PackedTexts::replaced(QString(), 0, QStringLiteral("e"))),
             QStringList{QStringLiteral("e")});
}

QTEST_GUILESS_MAIN(TestPackedTexts)
#include "tst_packedtexts.moc"
