// 页面设置 and 预览打印 through the main window: the page-setup window on
// the grid's page setup, and the preview of the roster's pages.
#include "WindowHarness.h"
#include "data/TableGrid.h"
#include "print/GridPrintEngine.h"
#include "print/frmPageSetup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

GridPrintEngine *engineOf(WindowHarness &h)
{
    auto *engine = h.form->findChild<GridPrintEngine *>();
    if (!engine)
        qFatal("the window has no print engine");
    return engine;
}

// What a preview showed: its page count, or -1 when none came up.
struct PreviewSeen
{
    int pages = -1;
    int photoPages = -1;
    QString title;
};

// Makes the next modal dialog of the engine be looked at instead of run.
void watchPreview(GridPrintEngine *engine, PreviewSeen &seen, bool togglePhotos = false)
{
    engine->runModal = [&seen, togglePhotos](QDialog &dialog) {
        auto *preview = qobject_cast<QPrintPreviewDialog *>(&dialog);
        if (!preview)
            return;
        auto *widget = preview->findChild<QPrintPreviewWidget *>();
        widget->updatePreview();
        seen.pages = widget->pageCount();
        seen.title = preview->printer()->docName();
        if (togglePhotos) {
            auto *photos = preview->findChild<QAction *>(QStringLiteral("photoPages"));
            if (!photos)
                return;
            photos->trigger();
            seen.photoPages = widget->pageCount();
        }
    };
}

QString pdfText(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TstPrintMenu : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }
    void pageSetupShowsAndWrites();
    void pageSetupCancelLeavesItAlone();
    void previewFixesSevenFields();
    void previewOfEmptyGrid();
    void rosterPreviewAndPdf();
    void photoPagesFromThePreview();
};

void TstPrintMenu::pageSetupShowsAndWrites()
{
    WindowHarness h;
    h.build();
    GridPrintEngine *engine = engineOf(h);
    engine->pageSetup().Zoom = 80;
    bool shown = false;
    engine->runModal = [&shown](QDialog &dialog) {
        auto *window = qobject_cast<frmPageSetup *>(&dialog);
        if (!window)
            return;
        shown = true;
        QCOMPARE(window->windowTitle(), QStringLiteral("页面设置"));
        QCOMPARE(window->findChild<QAbstractSpinBox *>(QStringLiteral("txtZoom"))->text(),
                 QStringLiteral("80"));
        window->findChild<QCheckBox *>(QStringLiteral("chkBlackAndWhite"))->setChecked(true);
        window->findChild<QLineEdit *>(QStringLiteral("txtHeader"))->setText(QStringLiteral("高二(1)班"));
        window->findChild<QPushButton *>(QStringLiteral("mnn"))->click();
    };
    h.w<QAction>("pageset")->trigger();
    QVERIFY(shown);
    QVERIFY(engine->pageSetup().BlackAndWhite);
    QCOMPARE(engine->pageSetup().Header, QStringLiteral("高二(1)班"));
    QCOMPARE(engine->pageSetup().Zoom, 80);
}

void TstPrintMenu::pageSetupCancelLeavesItAlone()
{
    WindowHarness h;
    h.build();
    GridPrintEngine *engine = engineOf(h);
    const PageSetup before = engine->pageSetup();
    engine->runModal = [](QDialog &dialog) {
        dialog.findChild<QCheckBox *>(QStringLiteral("chkPrintGridlines"))->setChecked(false);
        dialog.findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    };
    h.w<QAction>("pageset")->trigger();
    QVERIFY(engine->pageSetup() == before);
}

// Whatever the page-setup window wrote, a preview is centred, in one colour,
// with grid lines and without header or footer text; the page-setup window
// then shows so.
void TstPrintMenu::previewFixesSevenFields()
{
    WindowHarness h;
    h.build();
    GridPrintEngine *engine = engineOf(h);
    PageSetup &s = engine->pageSetup();
    s.BlackAndWhite = false;
    s.PrintGridlines = false;
    s.Header = QStringLiteral("页眉");
    s.Footer = QStringLiteral("页脚");
    s.Zoom = 90;
    s.HeaderAlignment = 2;
    PreviewSeen seen;
    watchPreview(engine, seen);
    h.w<QAction>("previewprint")->trigger();
    QVERIFY(s.CenterHorizontally && s.CenterVertically && s.BlackAndWhite && s.PrintGridlines);
    QCOMPARE(s.DocumentName, QStringLiteral("Lumora文档"));
    QCOMPARE(s.Header, QString());
    QCOMPARE(s.Footer, QString());
    QCOMPARE(s.Zoom, 90);
    QCOMPARE(s.HeaderAlignment, 2);
    QCOMPARE(seen.title, QStringLiteral("Lumora文档"));

    bool checked = false;
    engine->runModal = [&checked](QDialog &dialog) {
        checked = dialog.findChild<QCheckBox *>(QStringLiteral("chkBlackAndWhite"))->isChecked() &&
                  dialog.findChild<QLineEdit *>(QStringLiteral("txtHeader"))->text().isEmpty();
    };
    h.w<QAction>("pageset")->trigger();
    QVERIFY(checked);
}

void TstPrintMenu::previewOfEmptyGrid()
{
    WindowHarness h;
    h.build();
    PreviewSeen seen;
    watchPreview(engineOf(h), seen);
    h.w<QAction>("previewprint")->trigger();
    QCOMPARE(seen.pages, 1);
}

// A roster opened through the window previews as its pages, and those pages
// printed to a PDF file hold every name of the grid.
void TstPrintMenu::rosterPreviewAndPdf()
{
    QTemporaryDir dir;
    const QString roster = dir.filePath(QStringLiteral("roster_zh_30_lo_cp936.dbf"));
    QVERIFY(QFile::copy(
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf"), roster));
    WindowHarness h;
    h.build();
    QVERIFY(h.openTable(roster, {0}));
    TableGrid *grid = h.form->grid();
    QCOMPARE(grid->roster()->rows(), 32); // header, 30 people, the empty row

    GridPrintEngine *engine = engineOf(h);
    engine->pageSetup().Zoom = 200; // more than one page for 30 rows
    PreviewSeen seen;
    watchPreview(engine, seen);
    h.w<QAction>("previewprint")->trigger();
    QVERIFY(seen.pages > 1);
    QCOMPARE(seen.pages, engine->pageCount());

    const QString pdf = dir.filePath(QStringLiteral("roster.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    engine->setUpPrinter(printer);
    QCOMPARE(engine->print(&printer), seen.pages);
    const QString text = pdfText(pdf);
    for (const QString &name :
         {QStringLiteral("聂姬"), QStringLiteral("阮凝娣"), QStringLiteral("Mary O'Connor")})
        QVERIFY2(text.contains(name), qPrintable(name));
    for (int row = 1; row <= 30; ++row)
        QVERIFY2(text.contains(grid->roster()->cellText(row, 1)),
                 qPrintable(grid->roster()->cellText(row, 1)));
}

void TstPrintMenu::photoPagesFromThePreview()
{
    WindowHarness h;
    h.build();
    QStringList names;
    QList<QStringList> rows;
    for (int i = 1; i <= 45; ++i)
        rows << QStringList{QString::number(100 + i), QStringLiteral("学生%1").arg(i)};
    h.memoryRoster({QStringLiteral("学号"), QStringLiteral("姓名")}, rows);
    h.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(h.form->grid()->roster()->rows(), 47);
    GridPrintEngine *engine = engineOf(h);
    PreviewSeen seen;
    watchPreview(engine, seen, true);
    h.w<QAction>("previewprint")->trigger();
    const ThumbnailLayout t = LayOutThumbnails(engine->layout().body, PhotoCellSize());
    QCOMPARE(seen.photoPages, t.pageCount(45));
    QVERIFY(seen.photoPages > 1);
    QVERIFY(!engine->photoPages()); // the next preview starts with the grid again
}

QTEST_MAIN(TstPrintMenu)
#include "tst_printmenu.moc"
