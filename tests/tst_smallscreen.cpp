// On a screen smaller than the window's parts (a netbook's 1024 x 600), the
// window stays on the screen, before and after the video window grows, and
// every part can be scrolled into view.

#include "WindowHarness.h"

#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

class TstSmallScreen : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }
    void screenIsSmall();
    void windowStaysOnTheScreen_data();
    void windowStaysOnTheScreen();
};

void TstSmallScreen::screenIsSmall()
{
    QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(1024, 600));
}

void TstSmallScreen::windowStaysOnTheScreen_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<int>("sideways"); // scrolls sideways: 1 yes, 0 no, -1 not looked at
    QTest::newRow("as it starts") << "345"
                                  << "449" << -1;
    QTest::newRow("largest video window") << "800"
                                          << "800" << 1;
    // The screen is wide enough for the parts and the upright scroll bar.
    QTest::newRow("tall and narrow") << "800"
                                     << "260" << 0;
}

void TstSmallScreen::windowStaysOnTheScreen()
{
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(int, sideways);
    WindowHarness h;
    Form1 &form = h.build();
    form.move(200, 100);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.w<QLineEdit>("Tebg")->setText(height);
    h.w<QLineEdit>("Tebk")->setText(width);
    h.button("Command12")->click();
    QVERIFY(h.messages.messages.isEmpty());
    QCOMPARE(h.capture.windowSize(), QSize(width.toInt(), height.toInt()));

    const QRect screen = form.screen()->availableGeometry();
    if (height == QLatin1String("345")) {
        // Nothing changed: the window is as it started, before the window
        // system placed it (and told its frame): its inside fits.
        QVERIFY(form.width() <= screen.width() && form.height() <= screen.height());
    } else {
        QTRY_VERIFY2(screen.contains(form.frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3 x %4")
                                    .arg(form.frameGeometry().x())
                                    .arg(form.frameGeometry().y())
                                    .arg(form.frameGeometry().width())
                                    .arg(form.frameGeometry().height())));
    }
    // The parts keep their size and scroll: the scroll range covers them all.
    auto *scroll = h.w<QScrollArea>("centralScroll");
    QWidget *parts = scroll->widget();
    QVERIFY(parts->width() >= parts->minimumWidth() && parts->height() >= parts->minimumHeight());
    QCOMPARE(scroll->horizontalScrollBar()->maximum(), qMax(0, parts->width() - scroll->viewport()->width()));
    QCOMPARE(scroll->verticalScrollBar()->maximum(), qMax(0, parts->height() - scroll->viewport()->height()));
    if (sideways >= 0)
        QCOMPARE(scroll->horizontalScrollBar()->maximum() > 0, bool(sideways));
    for (const char *name : {"Text2", "Command8", "SSTab1", "Grid1", "Frame3"}) {
        QWidget *part = h.w<QWidget>(name);
        QVERIFY2(parts->rect().contains(QRect(part->mapTo(parts, QPoint(0, 0)), part->size())), name);
    }
    // Scrolled to the end, the parts' far corner is the viewport's.
    scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCOMPARE(parts->mapTo(scroll->viewport(), parts->rect().bottomRight()),
             scroll->viewport()->rect().bottomRight());
}

int main(int argc, char **argv)
{
    QTemporaryDir config;
    QFile json(config.filePath(QStringLiteral("screen.json")));
    if (!json.open(QIODevice::WriteOnly))
        return 1;
    json.write(R"({"screens": [{"name": "netbook", "x": 0, "y": 0, "width": 1024, "height": 600,
                  "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    json.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + json.fileName().toUtf8());
    QApplication app(argc, argv);
    TstSmallScreen suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_smallscreen.moc"
