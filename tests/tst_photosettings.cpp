// The "照片设置" page through the window: the crop change, the background
// size and the window's parts, the frame colour kept between runs, and the
// caption line from its sources into the saved photo.

#include "WindowHarness.h"
#include "app/PictureChecks.h"
#include "capture/CaptionPainter.h"
#include "data/TableGrid.h"
#include "dialogs/PackedColour.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QtTest>

#include <algorithm>

namespace {

// The operator leaves the box for the next control.
void leave(QLineEdit *box)
{
    box->window()->show();
    QVERIFY(box->isVisible());
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(box, &out);
}

QRect inWindow(const QWidget *w)
{
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

// Open, take and save in ordinary mode; the saved picture, decoded.
QImage takeAndSave(WindowHarness &h)
{
    for (const char *name : {"Command1", "Command4", "Command3"})
        if (h.button(name)->isEnabled())
            h.button(name)->click();
    h.button("Command8")->click();
    return QImage(h.photoPath());
}

// The largest difference of any colour channel between two pictures at
// the pixels where `where` holds.
template <class Where> int largestDifference(const QImage &a, const QImage &b, Where where)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (!where(QPoint(x, y)))
                continue;
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max(
                {largest, qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

} // namespace

class TstPhotoSettings : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }

    void cropBoxesAcceptDigitsOnly_data();
    void cropBoxesAcceptDigitsOnly();
    void leavingTheBoxRunsItsCheck();
    void cropChangeTakesEffectAtOnce();
    void cropTooSmallIsRefused_data();
    void cropTooSmallIsRefused();
    void backgroundSizeMovesTheParts_data();
    void backgroundSizeMovesTheParts();
    void backgroundRefusals_data();
    void backgroundRefusals();
    void lastSize();
    void frameColourKeptAfterARestart();
    void cancelledColourKeepsTheFrame();
    void captionSources();
    void captionFromTableColumns();
    void captionPositionChecks_data();
    void captionPositionChecks();
    void captionFontSizeAndColour();
    void captionDrawnIntoTheSavedPhoto_data();
    void captionDrawnIntoTheSavedPhoto();
};

void TstPhotoSettings::cropBoxesAcceptDigitsOnly_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("after");
    QTest::newRow("abc in Texg") << "Texg"
                                 << "abc" << 4 << "200";
    QTest::newRow("12a in Textk") << "Textk"
                                  << "12a" << 1 << "150";
    QTest::newRow("0150 in Textk") << "Textk"
                                   << "0150" << 0 << "0150";
    QTest::newRow("empty Texg") << "Texg"
                                << "" << 1 << "200";
    QTest::newRow("300 in Texg") << "Texg"
                                 << "300" << 0 << "300";
}

void TstPhotoSettings::cropBoxesAcceptDigitsOnly()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(int, messages);
    QFETCH(QString, after);
    WindowHarness h;
    h.build();
    auto *edit = h.w<QLineEdit>(qPrintable(box));
    edit->setText(text);
    leave(edit);
    QCOMPARE(h.messages.texts(), QStringList(messages, PictureText::NotDigits));
    QCOMPARE(edit->text(), after);
    for (const RecordedMessage &m : h.messages.messages)
        QCOMPARE(m.title, QStringLiteral("Lumora"));
}

void TstPhotoSettings::leavingTheBoxRunsItsCheck()
{
    WindowHarness h;
    h.build();
    QVERIFY(h.activate());
    h.w<QTabWidget>("SSTab1")->setCurrentIndex(1);
    auto *texg = h.w<QLineEdit>("Texg");
    texg->setFocus();
    QTRY_VERIFY(texg->hasFocus());
    texg->selectAll();
    QTest::keyClicks(texg, QStringLiteral("x"));
    QTest::keyClick(texg, Qt::Key_Tab);
    QCOMPARE(h.messages.texts(), QStringList(2, PictureText::NotDigits));
    QCOMPARE(texg->text(), QStringLiteral("200"));
    QTRY_VERIFY(texg->hasFocus());

    // Turning to the other page leaves the box too.
    texg->setText(QStringLiteral("1x"));
    h.w<QTabWidget>("SSTab1")->setCurrentIndex(0);
    QCOMPARE(h.messages.texts(), QStringList(3, PictureText::NotDigits));
    QCOMPARE(texg->text(), QStringLiteral("200"));
    // Closing the window does not.
    h.w<QTabWidget>("SSTab1")->setCurrentIndex(1);
    texg->setFocus();
    QTRY_VERIFY(texg->hasFocus());
    texg->setText(QStringLiteral("abc"));
    h.form->close();
    QCOMPARE(h.messages.texts().size(), 3);
}

void TstPhotoSettings::cropChangeTakesEffectAtOnce()
{
    WindowHarness h;
    h.build();
    h.w<QLineEdit>("Texg")->setText(QStringLiteral("300"));
    h.w<QLineEdit>("Textk")->setText(QStringLiteral("225"));
    h.capture.calls.clear();
    h.button("Command10")->click();
    QCOMPARE(h.capture.calls, QStringList({"SetCropWidth(225)", "SetCropHeight(300)"}));
    QVERIFY(h.messages.messages.isEmpty());
    // The next photo has the new size, without a restart.
    const QImage photo = takeAndSave(h);
    QCOMPARE(photo.size(), QSize(225, 300));
}

void TstPhotoSettings::cropTooSmallIsRefused_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<bool>("sent");
    QTest::newRow("50 x 30, the smallest") << "50"
                                           << "30" << true;
    QTest::newRow("49 x 30") << "49"
                             << "30" << false;
    QTest::newRow("50 x 29") << "50"
                             << "29" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void TstPhotoSettings::cropTooSmallIsRefused()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(bool, sent);
    WindowHarness h;
    h.build();
    h.w<QLineEdit>("Texg")->setText(height);
    h.w<QLineEdit>("Textk")->setText(width);
    h.capture.calls.clear();
    h.button("Command10")->click();
    if (sent) {
        QCOMPARE(h.capture.calls.size(), 2);
        QVERIFY(h.messages.messages.isEmpty());
        QCOMPARE(takeAndSave(h).size(), QSize(width.toInt(), height.toInt()));
    } else {
        QVERIFY(h.capture.calls.isEmpty());
        QCOMPARE(h.messages.texts(), QStringList{PictureText::CropTooSmall});
        QCOMPARE(h.w<QLineEdit>("Texg")->text(), QStringLiteral("200"));
        QCOMPARE(h.w<QLineEdit>("Textk")->text(), QStringLiteral("150"));
    }
}

void TstPhotoSettings::backgroundSizeMovesTheParts_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<int>("dy");
    QTest::addColumn<int>("dx");
    // The video window starts at 449 x 345.
    QTest::newRow("a little larger") << "365"
                                     << "489" << 20 << 40;
    QTest::newRow("same size") << "345"
                               << "449" << 0 << 0;
    QTest::newRow("smaller") << "300"
                             << "400" << -45 << -49;
    QTest::newRow("smallest") << "300"
                              << "260" << -45 << -189;
}

void TstPhotoSettings::backgroundSizeMovesTheParts()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(int, dy);
    QFETCH(int, dx);
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const char *parts[] = {
        "WEBCAPPICTUREOCX1", "Frame2", "Frame3", "SSTab1", "Frame4", "Grid1", "Text2", "Image1"};
    QHash<QString, QRect> before;
    for (const char *name : parts)
        before.insert(QLatin1String(name), inWindow(h.w<QWidget>(name)));
    const QSize window = form.size();

    for (int times = 0; times < 2; ++times) {
        h.w<QLineEdit>("Tebg")->setText(height);
        h.w<QLineEdit>("Tebk")->setText(width);
        h.button("Command12")->click();
        QVERIFY(h.messages.messages.isEmpty());
        QCOMPARE(h.cropFrame().appliedHeight(), height);
        QCOMPARE(h.cropFrame().appliedWidth(), width);

        auto now = [&](const char *name) { return inWindow(h.w<QWidget>(name)); };
        auto was = [&](const char *name) { return before.value(QLatin1String(name)); };
        // The grid frame keeps at least the width of its filter row.
        const int lowerDx = qMax(dx, 0);
        QTRY_COMPARE(form.size(), window + QSize(lowerDx, dy));
        QCOMPARE(now("WEBCAPPICTUREOCX1"), was("WEBCAPPICTUREOCX1").adjusted(0, 0, dx, dy));
        QCOMPARE(h.capture.windowSize(), was("WEBCAPPICTUREOCX1").size() + QSize(dx, dy));
        QCOMPARE(now("Frame2"), was("Frame2").translated(dx, 0).adjusted(0, 0, 0, dy));
        QCOMPARE(now("Frame3"), was("Frame3").translated(dx, 0).adjusted(0, 0, 0, dy));
        QCOMPARE(now("SSTab1"), was("SSTab1").translated(lowerDx, dy));
        QCOMPARE(now("Frame4"), was("Frame4").translated(0, dy).adjusted(0, 0, lowerDx, 0));
        QCOMPARE(now("Grid1").size(), was("Grid1").size() + QSize(lowerDx, 0));
        QCOMPARE(now("Text2").y(), was("Text2").y() + dy);
        // The picture keeps its place in the frame.
        QCOMPARE(now("Image1").topLeft() - now("Frame2").topLeft(),
                 was("Image1").topLeft() - was("Frame2").topLeft());
        // The same size again changes nothing.
    }
    QVERIFY(form.screen()->availableGeometry().contains(form.frameGeometry()));
}

void TstPhotoSettings::backgroundRefusals_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focused");
    QTest::newRow("height 299") << "299"
                                << "449" << PictureText::HeightOut << "Tebg";
    QTest::newRow("height 801, width not looked at") << "801"
                                                     << "5" << PictureText::HeightOut << "Tebg";
    QTest::newRow("width 259") << "345"
                               << "259" << PictureText::WidthOut << "Tebk";
    QTest::newRow("width 801") << "345"
                               << "801" << PictureText::WidthOut << "Tebk";
}

void TstPhotoSettings::backgroundRefusals()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(QString, message);
    QFETCH(QString, focused);
    WindowHarness h;
    Form1 &form = h.build();
    QVERIFY(h.activate());
    h.w<QTabWidget>("SSTab1")->setCurrentIndex(1);
    const QSize window = form.size();
    h.w<QLineEdit>("Tebg")->setText(height);
    h.w<QLineEdit>("Tebk")->setText(width);
    h.button("Command12")->click();
    QCOMPARE(h.messages.texts(), QStringList{message});
    QTRY_VERIFY(h.w<QLineEdit>(qPrintable(focused))->hasFocus());
    QCOMPARE(h.cropFrame().appliedHeight(), QStringLiteral("345"));
    QCOMPARE(form.size(), window);
    QCOMPARE(h.capture.windowSize(), QSize(449, 345));
}

void TstPhotoSettings::lastSize()
{
    {
        WindowHarness h;
        h.build();
        h.button("Comsc")->click();
        QCOMPARE(h.messages.texts(), QStringList{PictureText::NoLastSize});
        QCOMPARE(h.w<QLineEdit>("Tebg")->text(), QStringLiteral("345"));
        // The size typed before a close is the last size of the next run.
        h.w<QLineEdit>("Tebg")->setText(QStringLiteral("400"));
        h.w<QLineEdit>("Tebk")->setText(QStringLiteral("500"));
        h.form->close();
    }
    WindowHarness h;
    h.build();
    QCOMPARE(h.capture.windowSize(), QSize(449, 345));
    h.button("Comsc")->click();
    QVERIFY(h.messages.messages.isEmpty());
    QCOMPARE(h.w<QLineEdit>("Tebg")->text(), QStringLiteral("400"));
    QCOMPARE(h.capture.windowSize(), QSize(500, 400));
    QCOMPARE(h.cropFrame().appliedWidth(), QStringLiteral("500"));
}

void TstPhotoSettings::frameColourKeptAfterARestart()
{
    const QColor chosen(0, 128, 255);
    {
        WindowHarness h;
        h.build();
        h.dialogs.colors << chosen;
        h.w<QAction>("bgcolor")->trigger();
        // The dialog starts from the frame's colour, 1000.
        QCOMPARE(h.dialogs.calls, QStringList{QStringLiteral("color:#e80300")});
        QCOMPARE(h.form->frameColour(), PackColour(chosen));
        QCOMPARE(h.w<QWidget>("Frame2")->palette().color(QPalette::Window), chosen);
        QCOMPARE(lumoraStore().value(QStringLiteral("Settings/biakuang")).toString(),
                 QStringLiteral("16744448"));
        // Quitting without the close handling keeps it too: it was stored
        // when chosen.
        h.form->quit();
    }
    WindowHarness second;
    second.build();
    QCOMPARE(second.form->frameColour(), 16744448);
    QCOMPARE(second.w<QWidget>("Frame2")->palette().color(QPalette::Window), chosen);
}

void TstPhotoSettings::cancelledColourKeepsTheFrame()
{
    storeValues({{"biakuang", "65280"}});
    WindowHarness h;
    h.build();
    h.w<QAction>("bgcolor")->trigger();
    QCOMPARE(h.dialogs.calls, QStringList{QStringLiteral("color:#00ff00")});
    QCOMPARE(h.form->frameColour(), 65280);
    QCOMPARE(lumoraStore().value(QStringLiteral("Settings/biakuang")).toString(), QStringLiteral("65280"));
}

void TstPhotoSettings::captionSources()
{
    WindowHarness h;
    h.build();
    auto *check = h.w<QCheckBox>("Check1");
    auto *source = h.w<QComboBox>("Comtext");
    auto *typed = h.w<QLineEdit>("Textt");
    auto *sample = h.w<QLabel>("Labet");
    QVERIFY(h.w<QGroupBox>("Frame5")->isHidden());
    check->click();
    QVERIFY(!h.w<QGroupBox>("Frame5")->isHidden());

    pick(source, 0);
    QCOMPARE(sample->text(), QStringLiteral("DC"));
    QVERIFY(typed->isHidden() && h.w<QWidget>("Comt1")->isHidden());
    QCOMPARE(h.capture.caption().text, QStringLiteral("DC"));

    // Choosing the typed text leaves the sample until the text changes.
    pick(source, 2);
    QCOMPARE(sample->text(), QStringLiteral("DC"));
    QVERIFY(!typed->isHidden());
    typed->setText(QStringLiteral("初三（二）班"));
    QCOMPARE(sample->text(), QStringLiteral("初三（二）班"));
    QCOMPARE(h.capture.caption().text, QStringLiteral("初三（二）班"));
    QCOMPARE(h.capture.caption().offset, QPoint(60, 165));

    // The name of the next photo follows the typed name.
    pick(source, 0);
    h.w<QLineEdit>("Texfname")->setText(QStringLiteral("李四"));
    QCOMPARE(h.capture.caption().text, QStringLiteral("李四"));

    // Typing into the source box hides every source's controls.
    pick(source, 1);
    QTest::keyClicks(source->lineEdit(), QStringLiteral("x"));
    for (const char *name : {"Textt", "Comt1", "Comt2", "Cheta"})
        QVERIFY2(h.w<QWidget>(name)->isHidden(), name);
    QVERIFY(h.capture.caption().text.isEmpty());
    QCOMPARE(source->count(), 3);

    // Unticked, nothing goes into the photo.
    pick(source, 2);
    QVERIFY(!h.capture.caption().isEmpty());
    check->click();
    QVERIFY(h.w<QGroupBox>("Frame5")->isHidden());
    QVERIFY(h.capture.caption().isEmpty());
}

void TstPhotoSettings::captionFromTableColumns()
{
    WindowHarness h;
    h.build();
    h.memoryRoster(
        {QStringLiteral("年级"), QStringLiteral("班号")},
        {{QStringLiteral("2013"), QStringLiteral("A7")}, {QStringLiteral("2014"), QStringLiteral("B2")}});
    h.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(h.form->grid()->roster()->rows(), 4);
    h.w<QCheckBox>("Check1")->click();
    pick(h.w<QComboBox>("Comtext"), 1);
    auto *cheta = h.w<QCheckBox>("Cheta");
    QVERIFY(!h.w<QComboBox>("Comt2")->isEnabled());
    cheta->click();
    QVERIFY(h.w<QComboBox>("Comt2")->isEnabled());
    pick(h.w<QComboBox>("Comt1"), 0);
    pick(h.w<QComboBox>("Comt2"), 1);
    QCOMPARE(h.w<QLabel>("Labet")->text(), QStringLiteral("2013A7"));
    QCOMPARE(h.capture.caption().text, QStringLiteral("2013A7"));
    // The line follows the row the operator moves to.
    h.form->grid()->setActiveCell(2, 1);
    QCOMPARE(h.capture.caption().text, QStringLiteral("2014B2"));
    // Greyed, the second box gives no text at all.
    cheta->setTristate(true);
    cheta->setCheckState(Qt::PartiallyChecked);
    QVERIFY(h.capture.caption().text.isEmpty());
    // In ordinary mode no column names a cell.
    cheta->setCheckState(Qt::Unchecked);
    QCOMPARE(h.capture.caption().text, QStringLiteral("2014"));
    h.w<QRadioButton>("Option2")->setChecked(true);
    QVERIFY(h.capture.caption().text.isEmpty());
}

void TstPhotoSettings::captionPositionChecks_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("after");
    const QString digits = PictureText::NotDigits, out = PictureText::PositionOut;
    QTest::newRow("left 149") << "Texleft"
                              << "149" << QStringList() << "149";
    QTest::newRow("left 150") << "Texleft"
                              << "150" << QStringList{out} << "10";
    QTest::newRow("top 199") << "Textop"
                             << "199" << QStringList() << "199";
    QTest::newRow("top 200") << "Textop"
                             << "200" << QStringList{out} << "10";
    QTest::newRow("top 0") << "Textop"
                           << "0" << QStringList{out} << "10";
    QTest::newRow("left empty") << "Texleft"
                                << "" << QStringList{out} << "10";
    QTest::newRow("a in Textop") << "Textop"
                                 << "a" << QStringList{digits, out} << "10";
}

void TstPhotoSettings::captionPositionChecks()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QStringList, messages);
    QFETCH(QString, after);
    WindowHarness h;
    h.build();
    h.w<QCheckBox>("Check1")->click();
    auto *edit = h.w<QLineEdit>(qPrintable(box));
    edit->setText(text);
    leave(edit);
    QCOMPARE(h.messages.texts(), messages);
    QCOMPARE(edit->text(), after);
}

void TstPhotoSettings::captionFontSizeAndColour()
{
    WindowHarness h;
    h.build();
    auto *sample = h.w<QLabel>("fLabel");
    const QString family = sample->font().family();
    QFont font(QStringLiteral("Some Other Font"));
    font.setPointSizeF(10.5);
    h.dialogs.fonts << DialogService::FontChoice{font, QColor(0, 255, 0)};
    h.button("Command11")->click();
    QCOMPARE(h.dialogs.fontEffects, QList<bool>{true});
    QCOMPARE(sample->text(), QStringLiteral("字体：%1 大小：10.5").arg(family));
    QCOMPARE(sample->font().family(), family);
    QCOMPARE(h.form->overlayFontSize(), 10.5);
    QCOMPARE(h.form->overlayColour(), 65280);
    QCOMPARE(h.w<QLabel>("Labet")->font().pointSizeF(), 10.5);
    QCOMPARE(h.w<QLabel>("Labet")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    // A cancelled dialog changes nothing.
    h.button("Command11")->click();
    QCOMPARE(h.form->overlayFontSize(), 10.5);
    h.form->close();
    QCOMPARE(lumoraStore().value(QStringLiteral("Settings/zptexsize")).toString(), QStringLiteral("10.5"));
    QCOMPARE(lumoraStore().value(QStringLiteral("Settings/zptexcolor")).toString(), QStringLiteral("65280"));
}

void TstPhotoSettings::captionDrawnIntoTheSavedPhoto_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<double>("points");
    QTest::newRow("Chinese, low in the photo") << "初三（二）班 张三" << QPoint(10, 165) << 9.0;
    QTest::newRow("larger, across the right edge") << "2013A7 张三丰 李四" << QPoint(60, 20) << 20.0;
    QTest::newRow("at the bottom edge") << "底边" << QPoint(20, 190) << 12.0;
}

void TstPhotoSettings::captionDrawnIntoTheSavedPhoto()
{
    QFETCH(QString, text);
    QFETCH(QPoint, offset);
    QFETCH(double, points);
    WindowHarness h;
    Form1 &form = h.build();
    form.setOverlayFontSize(points);
    form.setOverlayColour(0xffffff);
    h.w<QLineEdit>("Texleft")->setText(QString::number(offset.x()));
    h.w<QLineEdit>("Textop")->setText(QString::number(offset.y()));
    pick(h.w<QComboBox>("Comtext"), 2);
    h.w<QLineEdit>("Textt")->setText(text);

    const QImage plain = takeAndSave(h);
    QCOMPARE(plain.size(), QSize(150, 200));
    h.w<QCheckBox>("Check1")->click();
    const QImage captioned = takeAndSave(h);
    QCOMPARE(captioned.size(), QSize(150, 200));

    const QRect box = CaptionPainter::box(h.capture.caption(), plain.size());
    QVERIFY(!box.isEmpty());
    if (offset.x() == 60)
        QCOMPARE(box.right(), plain.width() - 1); // cut at the edge, not wrapped
    QVERIFY(box.bottom() < offset.y() + 2 * points + 4);
    // Inside the box the white text shows on the blue picture ...
    QVERIFY(largestDifference(plain, captioned, [&](QPoint p) { return box.contains(p); }) > 100);
    // ... outside it nothing changed beyond JPEG's noise, which reaches to
    // the 8 x 8 blocks the box touches.
    const QRect blocks(QPoint(box.left() / 8 * 8 - 8, box.top() / 8 * 8 - 8),
                       QPoint((box.right() / 8 + 2) * 8 - 1, (box.bottom() / 8 + 2) * 8 - 1));
    QVERIFY(largestDifference(plain, captioned, [&](QPoint p) { return !blocks.contains(p); }) <= 4);
    QVERIFY(largestDifference(plain, captioned, [&](QPoint p) { return !box.contains(p); }) < 100);
}

QTEST_MAIN(TstPhotoSettings)
#include "tst_photosettings.moc"
