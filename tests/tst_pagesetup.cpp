// The page-setup window: loading a page setup, the value lists, the paper
// list, the key filter, the diagram, the fonts and writing back.
#include "ScriptedServices.h"
#include "print/PageSetup.h"
#include "print/ValueListBox.h"
#include "print/frmPageSetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QtTest>

using Change = std::function<void(PageSetup &)>;
Q_DECLARE_METATYPE(Change)

namespace {

struct Window
{
    explicit Window(PageSetup &setup)
    {
        setup.HeaderFont.faceName = setup.FooterFont.faceName = QFont().family();
        form.SetGrid(setup);
    }
    template <class T> T *w(const char *name) const
    {
        T *child = form.findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    ValueListBox *list(const char *name) const { return w<ValueListBox>(name); }
    void ok() { w<QPushButton>("mnn")->click(); }

    RecordingMessages messages;
    ScriptedDialogs dialogs;
    frmPageSetup form{&dialogs, &messages};
};

int paperIndex(const QString &name)
{
    const QList<PaperSizeEntry> sizes = QtPaperSizes();
    for (int i = 0; i < sizes.size(); ++i)
        if (sizes.at(i).Name == name)
            return i;
    return -1;
}

} // namespace

class TstPageSetup : public QObject
{
    Q_OBJECT
private slots:
    void valueListsOnLoad();
    void showsEveryValue();
    void extraLines_data();
    void extraLines();
    void okUntouchedWritesWhatWasRead();
    void eachControlWritesItsOwnField_data();
    void eachControlWritesItsOwnField();
    void paperChoice_data();
    void paperChoice();
    void customPaperTyped();
    void refusedPaperSaysWhyAndStaysOpen();
    void keyFilter_data();
    void keyFilter();
    void diagram();
    void guideLineFollowsFocus();
    void fonts();
    void alignmentPreviews();
    void cancelWritesNothing();
    void tabsShowOnePanel();
};

void TstPageSetup::valueListsOnLoad()
{
    PageSetup s;
    Window win(s);
    const QStringList margins = win.list("txtTopMargin")->lines();
    QCOMPARE(margins.size(), 21);
    QCOMPARE(margins.first(), QStringLiteral("3.0"));
    QCOMPARE(margins.at(1), QStringLiteral("2.9"));
    QCOMPARE(margins.last(), QStringLiteral("1.0"));
    QCOMPARE(win.list("txtZoom")->lines().size(), 391);
    QCOMPARE(win.list("txtZoom")->lines().first(), QStringLiteral("400"));
    QCOMPARE(win.list("txtZoom")->lines().last(), QStringLiteral("10"));
    QCOMPARE(win.list("txtPrintTitleRows")->listText(),
             QStringLiteral("20\r\n19\r\n18\r\n17\r\n16\r\n15\r\n14\r\n"
                            "13\r\n12\r\n11\r\n10\r\n9\r\n8\r\n7\r\n6\r\n"
                            "5\r\n4\r\n3\r\n2\r\n1\r\n0"));
    // Stepping down shows the next smaller value.
    ValueListBox *zoom = win.list("txtZoom");
    QCOMPARE(CurrentListValue(*zoom), QStringLiteral("100"));
    zoom->stepDown();
    QCOMPARE(CurrentListValue(*zoom), QStringLiteral("99"));
    zoom->setScrollPosition(5000);
    QCOMPARE(CurrentListValue(*zoom), QStringLiteral("10"));
}

// Every value a list offers is shown on its own line and reads back as itself.
void TstPageSetup::showsEveryValue()
{
    PageSetup s;
    for (int zoom = 10; zoom <= 400; ++zoom) {
        s.Zoom = zoom;
        Window win(s);
        QCOMPARE(CurrentListValue(*win.list("txtZoom")), QString::number(zoom));
        if (zoom > 30)
            zoom += 37; // the window is slow to build; a sample is enough
    }
    for (int tenths = 10; tenths <= 30; ++tenths) {
        ValueListBox box;
        box.setLines(MarginLines());
        SelectListValue(box, double(float(tenths / 10.0)), ValueListKind::Margin);
        QCOMPARE(CurrentListValue(box), QString::number(tenths / 10.0, 'f', 1));
        QCOMPARE(box.lines().size(), 21);
    }
    for (int count = 0; count <= 20; ++count) {
        ValueListBox box;
        box.setLines(TitleCountLines());
        SelectListValue(box, count, ValueListKind::TitleCount);
        QCOMPARE(CurrentListValue(box), QString::number(count));
    }
}

void TstPageSetup::extraLines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("first"); // the added line stands first (else last)
    QTest::newRow("margin 0.5") << 2 << 0.5 << "0.5" << false;
    QTest::newRow("margin 3.5") << 2 << 3.5 << "3.5" << true;
    QTest::newRow("margin just over 3") << 2 << 3.04 << "3.0" << true;
    QTest::newRow("title count 25") << 1 << 25.0 << "25" << true;
    QTest::newRow("title count 21") << 1 << 21.0 << "21" << true;
    QTest::newRow("zoom 500") << 0 << 500.0 << "500" << true;
    QTest::newRow("zoom 5") << 0 << 5.0 << "5" << false;
}

void TstPageSetup::extraLines()
{
    QFETCH(int, kind);
    QFETCH(double, value);
    QFETCH(QString, shown);
    QFETCH(bool, first);
    ValueListBox box;
    const QStringList lines = kind == 0 ? ZoomLines() : kind == 1 ? TitleCountLines() : MarginLines();
    box.setLines(lines);
    SelectListValue(box, value, ValueListKind(kind));
    QCOMPARE(CurrentListValue(box), shown);
    QCOMPARE(box.lines().size(), lines.size() + 1);
    QCOMPARE(first ? box.lines().first() : box.lines().last(), shown);
    QCOMPARE(box.scrollPosition(), first ? 0 : int(lines.size()));
}

void TstPageSetup::okUntouchedWritesWhatWasRead()
{
    PageSetup s;
    s.Orientation = 2;
    s.Zoom = 85;
    s.PrintTitleRows = 25; // beyond the list
    s.PrintTitleColumns = 2;
    s.PrintBottomTitleRows = 1;
    s.PrintFixedRow = false;
    s.BlackAndWhite = true;
    s.CenterVertically = true;
    s.TopMargin = 0.5f;
    s.BottomMargin = 3.5f;
    s.LeftMargin = 1.1f;
    s.RightMargin = 2.9f;
    s.HeaderMargin = 1.0f;
    s.FooterMargin = 3.0f;
    s.Header = QStringLiteral("名单");
    s.Footer = QStringLiteral("第一页");
    s.HeaderAlignment = 0;
    s.FooterAlignment = 2;
    s.setPaperSize(14.8f, 21.0f); // A5
    Window win(s);
    s.HeaderFont.bold = true; // what the window read stays in its box
    PageSetup before = s;
    before.HeaderFont.bold = false;
    win.ok();
    QCOMPARE(win.form.result(), int(QDialog::Accepted));
    QVERIFY(win.messages.messages.isEmpty());
    QCOMPARE(s.Orientation, before.Orientation);
    QCOMPARE(s.PaperWidth, before.PaperWidth);
    QCOMPARE(s.PaperHeight, before.PaperHeight);
    QCOMPARE(s.PrintTitleRows, 25);
    QCOMPARE(s.TopMargin, 0.5f);
    QCOMPARE(s.BottomMargin, 3.5f);
    QCOMPARE(s.HeaderFont, before.HeaderFont);
    QCOMPARE(s.FooterFont, before.FooterFont);
    QVERIFY(s == before);
}

// A change in one control reaches its own field and no other. Lists go to
// their first line, boxes turn over, lines read "x", alignments go left.
void TstPageSetup::eachControlWritesItsOwnField_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<Change>("change");
    const auto row = [](const char *control, Change change) { QTest::newRow(control) << control << change; };
    row("txtZoom", [](PageSetup &s) { s.Zoom = 400; });
    row("txtPrintTitleRows", [](PageSetup &s) { s.PrintTitleRows = 20; });
    row("txtPrintTitleColumns", [](PageSetup &s) { s.PrintTitleColumns = 20; });
    row("txtPrintBottomTitleRows", [](PageSetup &s) { s.PrintBottomTitleRows = 20; });
    row("chkPrintFixedRow", [](PageSetup &s) { s.PrintFixedRow = false; });
    row("chkPrintFixedColumn", [](PageSetup &s) { s.PrintFixedColumn = false; });
    row("chkPrintGridlines", [](PageSetup &s) { s.PrintGridlines = false; });
    row("chkBlackAndWhite", [](PageSetup &s) { s.BlackAndWhite = true; });
    row("chkCenterHorizontally", [](PageSetup &s) { s.CenterHorizontally = true; });
    row("chkCenterVertically", [](PageSetup &s) { s.CenterVertically = true; });
    row("txtTopMargin", [](PageSetup &s) { s.TopMargin = 3.0f; });
    row("txtBottomMargin", [](PageSetup &s) { s.BottomMargin = 3.0f; });
    row("txtLeftMargin", [](PageSetup &s) { s.LeftMargin = 3.0f; });
    row("txtRightMargin", [](PageSetup &s) { s.RightMargin = 3.0f; });
    row("txtHeaderMargin", [](PageSetup &s) { s.HeaderMargin = 3.0f; });
    row("txtFooterMargin", [](PageSetup &s) { s.FooterMargin = 3.0f; });
    row("txtHeader", [](PageSetup &s) { s.Header = QStringLiteral("x"); });
    row("txtFooter", [](PageSetup &s) { s.Footer = QStringLiteral("x"); });
    row("cboHeaderAlign", [](PageSetup &s) { s.HeaderAlignment = 0; });
    row("cboFooterAlign", [](PageSetup &s) { s.FooterAlignment = 0; });
}

void TstPageSetup::eachControlWritesItsOwnField()
{
    QFETCH(QString, control);
    QFETCH(Change, change);
    PageSetup s;
    Window win(s);
    PageSetup expected = s;
    change(expected);
    QVERIFY(!(expected == s));
    QWidget *w = win.w<QWidget>(qPrintable(control));
    if (auto *list = qobject_cast<ValueListBox *>(w))
        list->setScrollPosition(0);
    else if (auto *box = qobject_cast<QCheckBox *>(w))
        box->toggle();
    else if (auto *line = qobject_cast<QLineEdit *>(w))
        line->setText(QStringLiteral("x"));
    else if (auto *choice = qobject_cast<QComboBox *>(w))
        choice->setCurrentIndex(0);
    win.ok();
    QVERIFY(s == expected);
}

void TstPageSetup::paperChoice_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("boxesShown");
    QTest::newRow("A4") << 21.0f << 29.7f << "A4" << false;
    // Papers of the same size: the first one in the list wins.
    const QList<PaperSizeEntry> sizes = QtPaperSizes();
    int twins = 0;
    for (int i = 0; i < sizes.size(); ++i)
        for (int j = 0; j < i; ++j)
            if (sizes.at(j).Width == sizes.at(i).Width && sizes.at(j).Height == sizes.at(i).Height) {
                QTest::addRow("%s, as %s", qPrintable(sizes.at(j).Name), qPrintable(sizes.at(i).Name))
                    << sizes.at(i).Width << sizes.at(i).Height << sizes.at(j).Name << false;
                ++twins;
                break;
            }
    QVERIFY(twins > 0);
    QTest::newRow("turned A4 matches nothing") << 29.7f << 21.0f << "自定义" << true;
    QTest::newRow("own size") << 12.5f << 17.0f << "自定义" << true;
}

void TstPageSetup::paperChoice()
{
    QFETCH(float, width);
    QFETCH(float, height);
    QFETCH(QString, selected);
    QFETCH(bool, boxesShown);
    PageSetup s;
    QCOMPARE(s.setPaperSize(width, height), QString());
    Window win(s);
    win.form.show();
    auto *paper = win.w<QComboBox>("cboPaperSize");
    QCOMPARE(paper->currentText(), selected);
    QCOMPARE(paper->count(), QtPaperSizes().size() + 1);
    QCOMPARE(win.w<QLineEdit>("txtPaperWidth")->isVisible(), boxesShown);
    QCOMPARE(win.w<QLineEdit>("txtPaperHeight")->isVisible(), boxesShown);
    if (boxesShown) {
        QCOMPARE(win.w<QLineEdit>("txtPaperWidth")->text(), QString::number(double(width), 'g', 7));
        QCOMPARE(win.w<QLineEdit>("txtPaperHeight")->text(), QString::number(double(height), 'g', 7));
    }
    // Choosing a listed paper hides the boxes, the last entry shows them.
    paper->setCurrentIndex(0);
    QVERIFY(!win.w<QLineEdit>("txtPaperWidth")->isVisible());
    paper->setCurrentIndex(paper->count() - 1);
    QVERIFY(win.w<QLineEdit>("txtPaperWidth")->isVisible());
}

void TstPageSetup::customPaperTyped()
{
    PageSetup s;
    s.setPaperSize(10, 10);
    Window win(s);
    win.form.show();
    auto *width = win.w<QLineEdit>("txtPaperWidth");
    auto *height = win.w<QLineEdit>("txtPaperHeight");
    width->clear();
    QTest::keyClicks(width, QStringLiteral("21"));
    height->clear();
    QTest::keyClicks(height, QStringLiteral("29.7"));
    win.ok();
    QCOMPARE(s.PaperWidth, 21.0f);
    QCOMPARE(s.PaperHeight, 29.7f);

    // A listed paper writes the entry's size.
    PageSetup t;
    Window other(t);
    other.w<QComboBox>("cboPaperSize")->setCurrentIndex(paperIndex(QStringLiteral("A3")));
    other.ok();
    QCOMPARE(t.PaperWidth, 29.7f);
    QCOMPARE(t.PaperHeight, 42.0f);
}

// An empty box reads as 0, which no paper is: the fields before the paper
// are written, the reason is shown titled "错误" and the window stays open.
void TstPageSetup::refusedPaperSaysWhyAndStaysOpen()
{
    PageSetup s;
    s.setPaperSize(10, 10);
    s.Zoom = 100;
    Window win(s);
    win.form.show();
    win.w<QRadioButton>("optLandscape")->setChecked(true);
    win.w<QLineEdit>("txtPaperWidth")->clear();
    win.list("txtZoom")->stepDown();
    win.ok();
    QCOMPARE(win.messages.messages.size(), 1);
    QCOMPARE(win.messages.messages.at(0).title, QStringLiteral("错误"));
    QCOMPARE(win.messages.messages.at(0).icon, MessageService::Icon::Critical);
    QVERIFY(win.form.isVisible());
    QCOMPARE(s.Orientation, 2);    // written before the paper
    QCOMPARE(s.PaperWidth, 10.0f); // unchanged
    QCOMPARE(s.Zoom, 100);         // not reached

    // Mended, it writes.
    QTest::keyClicks(win.w<QLineEdit>("txtPaperWidth"), QStringLiteral("9"));
    win.ok();
    QCOMPARE(s.PaperWidth, 9.0f);
    QCOMPARE(s.Zoom, 99);
    QVERIFY(!win.form.isVisible());
}

void TstPageSetup::keyFilter_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::newRow("decimal") << ""
                             << "12.5"
                             << "12.5";
    QTest::newRow("second point refused") << ""
                                          << "1.2.5"
                                          << "1.25";
    QTest::newRow("point refused when one stands") << "3.1"
                                                   << "."
                                                   << "3.1";
    QTest::newRow("letters refused") << ""
                                     << "a1b2-"
                                     << "12";
    QTest::newRow("blank refused") << ""
                                   << "1 2"
                                   << "12";
    QTest::newRow("full-width digit refused") << ""
                                              << "１2"
                                              << "2";
}

void TstPageSetup::keyFilter()
{
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    PageSetup s;
    s.setPaperSize(10, 10);
    Window win(s);
    auto *box = win.w<QLineEdit>("txtPaperWidth");
    box->setText(start);
    box->end(false);
    for (const QChar c : typed) {
        QKeyEvent press(QEvent::KeyPress,
                        c.isDigit() && c.unicode() < 128 ? Qt::Key_0 + (c.unicode() - '0') : 0,
                        Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
    QCOMPARE(box->text(), result);
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->text(), result.chopped(1));
}

void TstPageSetup::diagram()
{
    PageSetup s;
    s.CenterHorizontally = true;
    Window win(s);
    QLabel *picture = win.w<QLabel>("imgGrid");
    const int left = win.w<QFrame>("lineLeft")->x();
    const int right = win.w<QFrame>("lineRight")->x();
    const int top = win.w<QFrame>("lineTop")->y();
    const int bottom = win.w<QFrame>("lineBottom")->y();
    QCOMPARE(picture->x(), left + (right - left - picture->width()) / 2);
    QCOMPARE(picture->y(), top);
    auto *across = win.w<QCheckBox>("chkCenterHorizontally");
    across->setChecked(false);
    QCOMPARE(picture->x(), left);
    win.w<QCheckBox>("chkCenterVertically")->setChecked(true);
    QCOMPARE(picture->y(), top + (bottom - top - picture->height()) / 2);
    QVERIFY(picture->y() > top);
}

void TstPageSetup::guideLineFollowsFocus()
{
    PageSetup s;
    Window win(s);
    win.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&win.form));
    QApplication::setActiveWindow(&win.form);
    win.w<QTabBar>("TabStrip1")->setCurrentIndex(1);
    const auto colour = [&win](const char *line) {
        return win.w<QFrame>(line)->palette().color(QPalette::Window);
    };
    QCOMPARE(colour("lineLeft"), QColor(192, 192, 192));
    win.list("txtLeftMargin")->setFocus();
    QTRY_COMPARE(colour("lineLeft"), QColor(Qt::black));
    win.list("txtFooterMargin")->setFocus();
    QTRY_COMPARE(colour("lineLeft"), QColor(192, 192, 192));
    QCOMPARE(colour("lineFooter"), QColor(Qt::black));
}

void TstPageSetup::fonts()
{
    PageSetup s;
    s.HeaderFont.size = 12;
    s.HeaderFont.italic = true;
    Window win(s);
    auto *header = win.w<QLineEdit>("txtHeader");
    QCOMPARE(header->font().pointSizeF(), 12.0);
    QVERIFY(header->font().italic());

    QFont chosen(QStringLiteral("DejaVu Serif"));
    chosen.setPointSizeF(16);
    chosen.setBold(true);
    chosen.setStrikeOut(true);
    win.dialogs.fonts.enqueue({chosen, Qt::black});
    win.w<QPushButton>("cmdSetFont_0")->click();
    QCOMPARE(win.dialogs.calls, QStringList{QStringLiteral("font")});
    // Cancelled: the footer keeps its font.
    const QFont footerBefore = win.w<QLineEdit>("txtFooter")->font();
    win.w<QPushButton>("cmdSetFont_1")->click();
    QCOMPARE(win.w<QLineEdit>("txtFooter")->font(), footerBefore);

    win.ok();
    QCOMPARE(s.HeaderFont.faceName, QStringLiteral("DejaVu Serif"));
    QCOMPARE(s.HeaderFont.size, 16.0);
    QVERIFY(s.HeaderFont.bold);
    QVERIFY(s.HeaderFont.strikethrough);
    QVERIFY(!s.HeaderFont.italic); // the dialog's choice, not the old font's
    QCOMPARE(s.FooterFont, PrintFont::fromQFont(footerBefore));
}

void TstPageSetup::alignmentPreviews()
{
    PageSetup s;
    s.HeaderAlignment = 2;
    s.FooterAlignment = 0;
    Window win(s);
    QCOMPARE(win.w<QLineEdit>("txtHeader")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(win.w<QLineEdit>("txtFooter")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    auto *align = win.w<QComboBox>("cboHeaderAlign");
    QCOMPARE(align->count(), 3);
    QCOMPARE(align->itemText(1), QStringLiteral("居中对齐"));
    align->setCurrentIndex(1);
    QCOMPARE(win.w<QLineEdit>("txtHeader")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    win.ok();
    QCOMPARE(s.HeaderAlignment, 1);
    QCOMPARE(s.FooterAlignment, 0);
}

void TstPageSetup::cancelWritesNothing()
{
    PageSetup s;
    Window win(s);
    const PageSetup before = s;
    win.form.show();
    win.w<QCheckBox>("chkBlackAndWhite")->setChecked(true);
    win.w<QLineEdit>("txtHeader")->setText(QStringLiteral("x"));
    win.list("txtZoom")->stepUp();
    win.w<QPushButton>("cmdCancel")->click();
    QVERIFY(!win.form.isVisible());
    QVERIFY(s == before);
}

void TstPageSetup::tabsShowOnePanel()
{
    PageSetup s;
    Window win(s);
    win.form.show();
    auto *tabs = win.w<QTabBar>("TabStrip1");
    QCOMPARE(tabs->tabText(0), QStringLiteral(" 页面 "));
    QCOMPARE(tabs->tabText(1), QStringLiteral(" 页边距 "));
    QCOMPARE(tabs->tabText(2), QStringLiteral("页眉/页脚"));
    QCOMPARE(win.form.windowTitle(), QStringLiteral("页面设置"));
    const QList<const char *> panels = {"fraPaper", "fraMargin", "fraHeaderFooter"};
    for (int t = 2; t >= 0; --t) {
        tabs->setCurrentIndex(t);
        for (int p = 0; p < 3; ++p)
            QCOMPARE(win.w<QWidget>(panels.at(p))->isVisible(), p == t);
    }
    QVERIFY(win.w<QPushButton>("mnn")->isDefault());
}

QTEST_MAIN(TstPageSetup)
#include "tst_pagesetup.moc"
