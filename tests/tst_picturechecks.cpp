// The rules of the picture page's boxes: what the operator is told and
// whether the box is reset, for each text, at and around every bound.

#include "app/PictureChecks.h"
#include "app/WindowLayout.h"

#include <QtTest>

class TstPictureChecks : public QObject
{
    Q_OBJECT
private slots:
    void digitsOnly_data();
    void digitsOnly();
    void captionPosition_data();
    void captionPosition();
    void cropSize_data();
    void cropSize();
    void backgroundSize_data();
    void backgroundSize();
    void lastSize_data();
    void lastSize();
    void fitWithin_data();
    void fitWithin();
};

void TstPictureChecks::digitsOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("messages");
    QTest::newRow("three letters, then the zero value") << "abc" << 4;
    QTest::newRow("digits then a letter") << "12a" << 1;
    QTest::newRow("leading zero") << "0150" << 0;
    QTest::newRow("plain number") << "200" << 0;
    QTest::newRow("one") << "1" << 0;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("zeros") << "00" << 1;
    QTest::newRow("blank before") << " 150" << 1;
    QTest::newRow("fraction") << "150.5" << 1;
    QTest::newRow("minus") << "-150" << 1;
    QTest::newRow("letter first, digits after") << "a50" << 2;
    QTest::newRow("full-width digits") << "１５０" << 4;
}

void TstPictureChecks::digitsOnly()
{
    QFETCH(QString, text);
    QFETCH(int, messages);
    const BoxCheck check = DigitsOnlyCheck(text);
    QCOMPARE(check.messages, QStringList(messages, PictureText::NotDigits));
    QCOMPARE(check.reset, messages > 0);
}

void TstPictureChecks::captionPosition_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("side");
    QTest::addColumn<int>("digitMessages");
    QTest::addColumn<bool>("positionMessage");
    // Crop 150 wide (Texleft) and 200 high (Textop).
    QTest::newRow("left 149 of 150") << "149"
                                     << "150" << 0 << false;
    QTest::newRow("left 150 of 150") << "150"
                                     << "150" << 0 << true;
    QTest::newRow("top 199 of 200") << "199"
                                    << "200" << 0 << false;
    QTest::newRow("top 200 of 200") << "200"
                                    << "200" << 0 << true;
    QTest::newRow("one") << "1"
                         << "200" << 0 << false;
    QTest::newRow("zero") << "0"
                          << "200" << 0 << true;
    QTest::newRow("empty") << ""
                           << "200" << 0 << true;
    QTest::newRow("a letter") << "a"
                              << "200" << 1 << true;
    QTest::newRow("digits and a letter, inside") << "12a"
                                                 << "200" << 1 << false;
    QTest::newRow("crop side no number") << "10"
                                         << "abc" << 0 << true;
    QTest::newRow("crop side 2 leaves only 1") << "1"
                                               << "2" << 0 << false;
    QTest::newRow("crop side 1 leaves nothing") << "1"
                                                << "1" << 0 << true;
}

void TstPictureChecks::captionPosition()
{
    QFETCH(QString, text);
    QFETCH(QString, side);
    QFETCH(int, digitMessages);
    QFETCH(bool, positionMessage);
    QStringList expected(digitMessages, PictureText::NotDigits);
    if (positionMessage)
        expected << PictureText::PositionOut;
    const BoxCheck check = CaptionPositionCheck(text, side);
    QCOMPARE(check.messages, expected);
    QCOMPARE(check.reset, !expected.isEmpty());
}

void TstPictureChecks::cropSize_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("50 x 30") << "50"
                             << "30" << true;
    QTest::newRow("49 x 30") << "49"
                             << "30" << false;
    QTest::newRow("50 x 29") << "50"
                             << "29" << false;
    QTest::newRow("300 x 225") << "300"
                               << "225" << true;
    QTest::newRow("no upper bound") << "100000"
                                    << "100000" << true;
    QTest::newRow("empty height") << ""
                                  << "150" << false;
    QTest::newRow("empty width") << "200"
                                 << "" << false;
}

void TstPictureChecks::cropSize()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(bool, accepted);
    QCOMPARE(CropSizeAccepted(height, width), accepted);
}

void TstPictureChecks::backgroundSize_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("smallest") << "300"
                              << "260" << QString();
    QTest::newRow("largest") << "800"
                             << "800" << QString();
    QTest::newRow("height 299") << "299"
                                << "260" << PictureText::HeightOut;
    QTest::newRow("height 801") << "801"
                                << "260" << PictureText::HeightOut;
    QTest::newRow("width 259") << "300"
                               << "259" << PictureText::WidthOut;
    QTest::newRow("width 801") << "300"
                               << "801" << PictureText::WidthOut;
    QTest::newRow("height looked at first") << "299"
                                            << "900" << PictureText::HeightOut;
    QTest::newRow("height no number") << "abc"
                                      << "300" << PictureText::HeightOut;
    QTest::newRow("width empty") << "345"
                                 << "" << PictureText::WidthOut;
}

void TstPictureChecks::backgroundSize()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(QString, refusal);
    QCOMPARE(BackgroundSizeRefusal(height, width), refusal);
}

void TstPictureChecks::lastSize_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<bool>("usable");
    QTest::newRow("none stored") << "0"
                                 << "0" << false;
    QTest::newRow("height 0") << "0"
                              << "449" << false;
    QTest::newRow("width 0") << "345"
                             << "0" << false;
    QTest::newRow("both") << "345"
                          << "449" << true;
    QTest::newRow("out of range is still read") << "5"
                                                << "5" << true;
}

void TstPictureChecks::lastSize()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(bool, usable);
    QCOMPARE(LastSizeUsable(height, width), usable);
}

void TstPictureChecks::fitWithin_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("fitted");
    const QRect screen(0, 0, 1366, 740);
    QTest::newRow("fits: unchanged") << QRect(10, 10, 1000, 700) << screen << QRect(10, 10, 1000, 700);
    QTest::newRow("exactly the screen") << QRect(0, 0, 1366, 740) << screen << screen;
    QTest::newRow("runs off the right: moved left")
        << QRect(500, 0, 1000, 700) << screen << QRect(366, 0, 1000, 700);
    QTest::newRow("taller than the screen") << QRect(0, 20, 1200, 1100) << screen << QRect(0, 0, 1200, 740);
    QTest::newRow("larger both ways") << QRect(-50, -50, 2000, 2000) << screen << screen;
    QTest::newRow("screen with a panel on top")
        << QRect(0, 0, 800, 600) << QRect(0, 28, 1366, 740) << QRect(0, 28, 800, 600);
    QTest::newRow("second screen") << QRect(0, 0, 800, 600) << QRect(1366, 0, 1024, 768)
                                   << QRect(1366, 0, 800, 600);
}

void TstPictureChecks::fitWithin()
{
    QFETCH(QRect, frame);
    QFETCH(QRect, available);
    QFETCH(QRect, fitted);
    const QRect got = FitWithin(frame, available);
    QCOMPARE(got, fitted);
    QVERIFY(available.contains(got));
}

QTEST_GUILESS_MAIN(TstPictureChecks)
#include "tst_picturechecks.moc"
