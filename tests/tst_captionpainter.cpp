// The caption painter: every mark it makes lies in its box, the box is cut
// at the photo's edge, Chinese shows as glyphs, edges are anti-aliased; and
// the live video shows the line where the saved photo will have it.

#include "capture/CaptionPainter.h"
#include "capture/CropGeometry.h"
#include "capture/VideoView.h"

#include <QFontDatabase>
#include <QImage>
#include <QSet>
#include <QtTest>

namespace {

QImage filled(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The pixels that differ between two pictures of one size.
QList<QPoint> changed(const QImage &a, const QImage &b)
{
    QList<QPoint> points;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                points << QPoint(x, y);
    return points;
}

} // namespace

class TstCaptionPainter : public QObject
{
    Q_OBJECT
private slots:
    void chineseFontInstalled();
    void marksStayInTheBox_data();
    void marksStayInTheBox();
    void chineseShowsAsGlyphs();
    void edgesAreAntiAliased();
    void emptyCaptionDrawsNothing();
    void liveVideoShowsItWhereItLands();
};

void TstCaptionPainter::chineseFontInstalled()
{
    QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
    QVERIFY(!CaptionPainter::chineseFamily().isEmpty());
}

void TstCaptionPainter::marksStayInTheBox_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<double>("points");
    QTest::addColumn<QSize>("photo");
    QTest::newRow("inside") << "张三 2013A7" << QPoint(10, 165) << 9.0 << QSize(150, 200);
    QTest::newRow("past the right edge")
        << "初三（二）班 张三丰 李四 王五" << QPoint(60, 20) << 14.0 << QSize(150, 200);
    QTest::newRow("past the bottom edge") << "底边Ag" << QPoint(5, 195) << 12.0 << QSize(150, 200);
    QTest::newRow("a line break stays one line")
        << "第一行\n第二行\t完" << QPoint(1, 1) << 9.0 << QSize(225, 300);
    QTest::newRow("large") << "大字" << QPoint(10, 10) << 48.0 << QSize(225, 300);
    QTest::newRow("fractional size") << "10.5 点" << QPoint(3, 50) << 10.5 << QSize(150, 200);
}

void TstCaptionPainter::marksStayInTheBox()
{
    QFETCH(QString, text);
    QFETCH(QPoint, offset);
    QFETCH(double, points);
    QFETCH(QSize, photo);
    const Caption caption{text, offset, points, Qt::yellow, {}};
    const QImage before = filled(photo, QColor(30, 60, 90));
    QImage after = before;
    CaptionPainter::paint(after, caption);
    const QRect box = CaptionPainter::box(caption, photo);
    const QList<QPoint> marks = changed(before, after);
    QVERIFY(!marks.isEmpty());
    for (const QPoint &p : marks)
        QVERIFY2(box.contains(p),
                 qPrintable(QStringLiteral("(%1, %2) outside the box").arg(p.x()).arg(p.y())));
    // One line: nothing below the line box, whatever the text holds.
    const QFontMetrics metrics(CaptionPainter::font(caption));
    QVERIFY(box.bottom() <= offset.y() + metrics.height() + 2);
    QVERIFY(box.top() >= offset.y() - 2);
    QVERIFY(QRect(QPoint(0, 0), photo).contains(box));
}

void TstCaptionPainter::chineseShowsAsGlyphs()
{
    // Without a Chinese font every character is drawn as the same empty box.
    QList<QImage> drawn;
    for (const QString &name : {QStringLiteral("张"), QStringLiteral("李"), QStringLiteral("王")}) {
        QImage image = filled({60, 40}, Qt::white);
        CaptionPainter::paint(image, {name, {4, 4}, 18, Qt::black, {}});
        drawn << image;
    }
    QVERIFY(drawn[0] != drawn[1]);
    QVERIFY(drawn[1] != drawn[2]);
    QVERIFY(drawn[0] != drawn[2]);
}

void TstCaptionPainter::edgesAreAntiAliased()
{
    const QImage before = filled({150, 60}, Qt::black);
    QImage after = before;
    CaptionPainter::paint(after, {QStringLiteral("照片 Photo"), {5, 10}, 14, Qt::white, {}});
    QSet<int> greys;
    for (const QPoint &p : changed(before, after))
        greys.insert(qGray(after.pixel(p)));
    // Between black and white: more than the two of a hard-edged glyph.
    greys.remove(0);
    greys.remove(255);
    QVERIFY2(greys.size() > 10, qPrintable(QString::number(greys.size())));
}

void TstCaptionPainter::emptyCaptionDrawsNothing()
{
    const QImage before = filled({150, 200}, Qt::gray);
    for (const Caption &c : {Caption{}, Caption{QStringLiteral("x"), {10, 10}, 0, Qt::red, {}}}) {
        QImage after = before;
        CaptionPainter::paint(after, c);
        QCOMPARE(after, before);
        QVERIFY(CaptionPainter::box(c, before.size()).isEmpty());
    }
}

void TstCaptionPainter::liveVideoShowsItWhereItLands()
{
    VideoView view;
    view.resize(449, 345);
    view.setLiveFrame(filled({640, 480}, QColor(40, 120, 200)));
    view.setCropSize({150, 200});
    const QImage plain = view.grab().toImage();
    const Caption caption{QStringLiteral("初三（二）班"), {10, 165}, 12, Qt::white, {}};
    view.setCaption(caption);
    const QImage shown = view.grab().toImage();
    QCOMPARE(shown.size(), plain.size());

    // The photo's box, mapped onto the guide rectangle over the video.
    const QRect guide = view.guideRect();
    const QRect box = CaptionPainter::box(caption, {150, 200});
    const double sx = double(guide.width()) / 150, sy = double(guide.height()) / 200;
    const QRect onScreen =
        QRectF(guide.x() + box.x() * sx, guide.y() + box.y() * sy, box.width() * sx, box.height() * sy)
            .toAlignedRect()
            .adjusted(-1, -1, 1, 1);
    const QList<QPoint> marks = changed(plain, shown);
    QVERIFY(marks.size() > 20);
    for (const QPoint &p : marks)
        QVERIFY2(onScreen.contains(p), qPrintable(QStringLiteral("(%1, %2) outside").arg(p.x()).arg(p.y())));
}

QTEST_MAIN(TstCaptionPainter)
#include "tst_captionpainter.moc"
