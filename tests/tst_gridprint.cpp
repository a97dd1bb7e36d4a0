// The print engine's painting: pages of a grid painted into images and
// printed to PDF files, which poppler's pdftotext and pdfinfo read back.
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "print/GridPrintEngine.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList names(int count)
{
    static const QStringList family = {QStringLiteral("聂"), QStringLiteral("阮"), QStringLiteral("庄"),
                                       QStringLiteral("宁"), QStringLiteral("胡")};
    QStringList result;
    for (int i = 0; i < count; ++i)
        result << family.at(i % family.size()) + QStringLiteral("同学%1").arg(i + 1);
    result[1] = QStringLiteral("Mary O'Connor");
    return result;
}

// A grid showing a roster of its own.
struct ShownGrid : TableGrid
{
    RosterModel roster;
    ShownGrid() { showRoster(&roster, nullptr); }
    ~ShownGrid() override { showRoster(nullptr, nullptr); }
};

// A grid as a roster load leaves it: header row, one row per person (number,
// name, class) and the trailing empty row.
void fill(ShownGrid &grid, const QStringList &people)
{
    grid.roster.setRows(1);
    grid.roster.setCols(4);
    grid.roster.setCellText(0, 1, QStringLiteral("学号"));
    grid.roster.setCellText(0, 2, QStringLiteral("姓名"));
    grid.roster.setCellText(0, 3, QStringLiteral("班级"));
    for (int i = 0; i < people.size(); ++i)
        grid.roster.appendRow({QString::number(2024000001 + i), people.at(i), QStringLiteral("高二(1)班")});
    grid.roster.appendRow({});
    grid.setGridColumnWidth(1, 100);
    grid.setGridColumnWidth(2, 160);
    grid.setGridColumnWidth(3, 100);
}

// An image of the paper at 144 dots per inch, white.
QImage paperImage(const QSizeF &paper)
{
    QImage image((paper * 2).toSize(), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(144 / 0.0254));
    image.setDotsPerMeterY(qRound(144 / 0.0254));
    image.fill(Qt::white);
    return image;
}

QImage paintPage(GridPrintEngine &engine, int page = 0)
{
    QImage image = paperImage(engine.layout().paper);
    QPainter painter(&image);
    BeginPaperPainting(painter, engine.layout().paper);
    PaintGridPage(painter, engine.layout(), page, engine.pageSetup(), engine.source());
    return image;
}

// Non-white pixels' bounding box within a rectangle of the image.
QRect inkIn(const QImage &image, const QRect &area)
{
    QRect box;
    const QRect a = area.intersected(image.rect());
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Points on the paper to pixels of paperImage.
QRect toPixels(const QRectF &points)
{
    return QRectF(points.topLeft() * 2, points.size() * 2).toAlignedRect();
}

QString run(const QString &tool, const QStringList &args)
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(tool, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TstGridPrint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pdfHoldsEveryName();
    void pageRange();
    void headerAlignment_data();
    void headerAlignment();
    void colourAndBlackAndWhite();
    void gridLines_data();
    void gridLines();
    void longTextStaysInItsCell();
    void photoPage();
    void trailingRowNotPrinted();
    void paperChangedAtThePrinter();

private:
    QTemporaryDir m_dir;
};

void TstGridPrint::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QFAIL("pdftotext is missing: scripts/deps.sh installs poppler-utils");
    QVERIFY(m_dir.isValid());
}

void TstGridPrint::pdfHoldsEveryName()
{
    ShownGrid grid;
    const QStringList people = names(120);
    fill(grid, people);
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    engine.pageSetup().DocumentName = QStringLiteral("Lumora文档");
    engine.pageSetup().PrintTitleRows = 1;
    QVERIFY(engine.layOut());
    QVERIFY(engine.pageCount() > 2);

    const QString pdf = m_dir.filePath(QStringLiteral("roster.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    engine.setUpPrinter(printer);
    QCOMPARE(engine.print(&printer), engine.pageCount());
    QVERIFY(QFile::exists(pdf));

    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(engine.pageCount()))),
             qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Lumora文档\\n"))), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("595 x 842 pts (A4)")), qPrintable(info));

    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    for (const QString &name : people)
        QVERIFY2(text.contains(name), qPrintable(name));
    // The header row and the title row stand on every page.
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QCOMPARE(pages.size(), engine.pageCount());
    for (const QString &page : pages) {
        QVERIFY(page.contains(QStringLiteral("姓名")));
        QVERIFY(page.contains(people.first()));
    }
}

void TstGridPrint::pageRange()
{
    ShownGrid grid;
    const QStringList people = names(200);
    fill(grid, people);
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    QVERIFY(engine.layOut());
    QVERIFY(engine.pageCount() >= 4);
    const QString pdf = m_dir.filePath(QStringLiteral("range.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    engine.setUpPrinter(printer);
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(2, 3);
    QCOMPARE(engine.print(&printer), 2);
    const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    const QList<int> second = engine.layout().pages.at(1).rows;
    QVERIFY(text.contains(grid.roster.cellText(second.at(1), 2)));
    QVERIFY(text.contains(grid.roster.cellText(second.at(1), 1)));
    QVERIFY(!text.contains(grid.roster.cellText(1, 1)));                      // page 1 only
    QVERIFY(!text.contains(grid.roster.cellText(grid.roster.rows() - 2, 1))); // the last page
}

void TstGridPrint::headerAlignment_data()
{
    QTest::addColumn<int>("alignment");
    QTest::newRow("left") << 0;
    QTest::newRow("centre") << 1;
    QTest::newRow("right") << 2;
}

void TstGridPrint::headerAlignment()
{
    QFETCH(int, alignment);
    ShownGrid grid;
    fill(grid, names(3));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    PageSetup &s = engine.pageSetup();
    s.Header = QStringLiteral("HEADLINE");
    s.HeaderAlignment = alignment;
    s.Footer = QStringLiteral("FOOT");
    s.FooterAlignment = 2 - alignment;
    QVERIFY(engine.layOut());
    const QImage image = paintPage(engine);
    const PrintLayout &l = engine.layout();
    // Between the paper's edge and the grid, which starts at the body's top.
    const QRect header = inkIn(image, toPixels(QRectF(0, 0, l.paper.width(), l.body.top() - 2)));
    const QRect footer = inkIn(image, toPixels(QRectF(0, l.body.bottom() + 2, l.paper.width(),
                                                      l.paper.height() - l.body.bottom() - 2)));
    QVERIFY(!header.isEmpty());
    QVERIFY(!footer.isEmpty());
    const QRect body = toPixels(l.body);
    const auto placeOf = [&body](const QRect &ink) {
        const int leftGap = ink.left() - body.left();
        const int rightGap = body.right() - ink.right();
        return leftGap < 6 ? 0 : rightGap < 6 ? 2 : std::abs(leftGap - rightGap) < 6 ? 1 : -1;
    };
    QCOMPARE(placeOf(header), alignment);
    QCOMPARE(placeOf(footer), 2 - alignment);
    // The header's top stands at the header margin.
    QVERIFY(std::abs(header.top() - l.headerY * 2) < 12);
}

void TstGridPrint::colourAndBlackAndWhite()
{
    ShownGrid grid;
    fill(grid, names(5));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    QVERIFY(engine.layOut());
    const QRgb fixed = QColor(231, 235, 247).rgb();
    const auto count = [](const QImage &image, QRgb colour) {
        qsizetype n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == colour;
        return n;
    };
    QVERIFY(count(paintPage(engine), fixed) > 1000);
    engine.pageSetup().BlackAndWhite = true;
    const QImage mono = paintPage(engine);
    QCOMPARE(count(mono, fixed), 0);
    for (int y = 0; y < mono.height(); y += 3)
        for (int x = 0; x < mono.width(); x += 3) {
            const QRgb p = mono.pixel(x, y);
            QVERIFY(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
        }
}

void TstGridPrint::gridLines_data()
{
    QTest::addColumn<bool>("lines");
    QTest::newRow("with") << true;
    QTest::newRow("without") << false;
}

void TstGridPrint::gridLines()
{
    QFETCH(bool, lines);
    ShownGrid grid;
    fill(grid, names(5));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    engine.pageSetup().PrintGridlines = lines;
    engine.pageSetup().BlackAndWhite = true;
    QVERIFY(engine.layOut());
    const QImage image = paintPage(engine);
    const QRectF g = engine.layout().pages.at(0).grid;
    // The grid's left edge, half way down the third row; the space between
    // the first two rows, in the middle of the name column.
    const int rowHeight = int(g.height() * 2 / engine.layout().pages.at(0).rows.size());
    const QRect leftEdge(int(g.left() * 2) - 1, int(g.top() * 2) + rowHeight * 2 + rowHeight / 2, 3, 1);
    QCOMPARE(!inkIn(image, leftEdge).isEmpty(), lines);
    const int nameColumnMiddle = int((g.left() + (30 + 100 + 80) * 0.75) * 2);
    const QRect between(nameColumnMiddle, int(g.top() * 2) + rowHeight - 1, 1, 3);
    QCOMPARE(!inkIn(image, between).isEmpty(), lines);
}

void TstGridPrint::longTextStaysInItsCell()
{
    ShownGrid grid;
    fill(grid, {QStringLiteral("很长很长很长很长很长很长很长很长很长很长很长很长的名字WWWWWWWWWWWWWWWW")});
    grid.setGridColumnWidth(2, 40);
    grid.setGridColumnWidth(3, 200);
    grid.roster.setCellText(1, 3, QString());
    grid.roster.setCellText(0, 3, QString());
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    engine.pageSetup().PrintGridlines = false;
    engine.pageSetup().BlackAndWhite = true;
    QVERIFY(engine.layOut());
    const QImage image = paintPage(engine);
    const QRectF g = engine.layout().pages.at(0).grid;
    const double nameRight = g.left() + (30 + 100 + 40) * 0.75;
    const QRect beyond = toPixels(QRectF(nameRight, g.top(), 150 * 0.75 - 1, g.height()));
    QCOMPARE(inkIn(image, beyond.adjusted(2, 0, 0, 0)), QRect());
    QVERIFY(!inkIn(image, toPixels(QRectF(nameRight - 30, g.top(), 29, g.height()))).isEmpty());
}

void TstGridPrint::photoPage()
{
    ShownGrid grid;
    const QStringList people = names(3);
    fill(grid, people);
    QImage red(150, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString photo = m_dir.filePath(QStringLiteral("1.jpg"));
    QVERIFY(red.save(photo));
    GridPrintEngine engine(&grid, nullptr, nullptr, [&](int row) {
        return RowPhoto{grid.roster.cellText(row, 2),
                        row == 1 ? photo : m_dir.filePath(QStringLiteral("none.jpg"))};
    });
    QVERIFY(engine.layOut());
    engine.setPhotoPages(true);
    QCOMPARE(engine.pageCount(), 1);

    const QString pdf = m_dir.filePath(QStringLiteral("photos.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    engine.setUpPrinter(printer);
    QCOMPARE(engine.print(&printer), 1);
    const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    for (const QString &name : people)
        QVERIFY2(text.contains(name), qPrintable(text));
    QCOMPARE(text.count(kNoPhotoText), 2);

    // The photo itself: red in the first cell, none in the second.
    QImage image = paperImage(engine.layout().paper);
    {
        QPainter painter(&image);
        BeginPaperPainting(painter, engine.layout().paper);
        const ThumbnailLayout t = LayOutThumbnails(engine.layout().body, PhotoCellSize());
        PaintPhotoPage(painter, t, {{people.at(0), photo}, {people.at(1), QString()}}, engine.pageSetup(),
                       grid.font());
        const QPoint first = toPixels(t.cellRect(0)).center();
        const QPoint second = toPixels(t.cellRect(1)).center();
        painter.end();
        const QRgb p = image.pixel(first.x(), first.y() - 40);
        QVERIFY2(qRed(p) > 200 && qGreen(p) < 60, qPrintable(QString::number(p, 16)));
        QCOMPARE(qRed(image.pixel(second.x() + 30, second.y() - 60)), 255);
    }
}

void TstGridPrint::trailingRowNotPrinted()
{
    ShownGrid grid;
    fill(grid, names(4));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    QCOMPARE(engine.source().metrics.rows, 5); // header + 4
    grid.roster.setCellText(grid.roster.rows() - 1, 3, QStringLiteral("x"));
    QCOMPARE(engine.source().metrics.rows, 6);
}

// Turning the paper in the preview or choosing another in the print dialog
// lays the pages out for that paper; the page setup stays as it was.
void TstGridPrint::paperChangedAtThePrinter()
{
    ShownGrid grid;
    fill(grid, names(150));
    GridPrintEngine engine(&grid, nullptr, nullptr, {});
    QVERIFY(engine.layOut());
    const qsizetype upright = engine.layout().pages.size();
    PageSetup turned = engine.pageSetup();
    turned.Orientation = 2;
    const qsizetype expected = LayOutPages(turned, engine.source().metrics).pages.size();
    QVERIFY(expected > upright);

    const QString pdf = m_dir.filePath(QStringLiteral("turned.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    engine.setUpPrinter(printer);
    printer.setPageOrientation(QPageLayout::Landscape);
    QCOMPARE(engine.print(&printer), int(expected));
    QCOMPARE(engine.pageSetup().Orientation, 1);
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QStringLiteral("842 x 595 pts")), qPrintable(info));
    const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.contains(grid.roster.cellText(150, 1)));
}

QTEST_MAIN(TstGridPrint)
#include "tst_gridprint.moc"
