// Scanning a card in the main window: a code typed into 扫码 (as a hand
// scanner types it) selects the person whose key equals it, as the key
// column compares values in the roster's kind; codes that find nobody,
// several people or someone the filter leaves out change nothing; and the
// question before a second photo of one person.

#include "WindowHarness.h"
#include "app/ScanPanel.h"
#include "data/TableGrid.h"
#include "print/GridPrintEngine.h"
#include "print/ScanCards.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QtTest>

namespace {

QString copied(const QTemporaryDir &dir, const QString &relative)
{
    const QString target = dir.filePath(QFileInfo(relative).fileName());
    QFile::remove(target);
    if (!QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + QLatin1Char('/') + relative, target))
        return {};
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

// Types the code and Enter into what holds the window's keyboard, key by
// key, as a scanner does. (QTest types no Chinese: such a code is put into
// the line that has the keyboard at once.)
void scanKeys(QWidget *window, const QString &code)
{
    bool ascii = true;
    for (QChar c : code)
        ascii = ascii && c.unicode() < 128;
    for (QChar c : code) {
        QWidget *focus = window->focusWidget() ? window->focusWidget() : window;
        if (ascii)
            QTest::keyClick(focus, c.toLatin1());
        else if (auto *line = qobject_cast<QLineEdit *>(focus))
            line->insert(c);
    }
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Return);
}

// Runs a tool; its standard output, or nothing when it failed.
std::optional<QString> run(const QString &tool, const QStringList &args)
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        qWarning("%s failed: %s", qPrintable(tool), p.readAllStandardError().constData());
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The camera double with a live picture the test sets: a card in view, or
// none (null: no live video).
class LiveCamera : public RecordingCaptureControl
{
public:
    QImage liveFrame() const override
    {
        ++framesTaken;
        return frame;
    }
    QImage frame;
    mutable int framesTaken = 0;
};

} // namespace

class TstScan : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }
    void scannerSelectsTheRow();
    void codeComparesAsItsKeyColumn_data();
    void codeComparesAsItsKeyColumn();
    void filteredPersonIsNamedNotChosen();
    void secondPhotoOfOnePersonAsksFirst();
    void cardsCarryReadableCodes();
    void cameraSelectsOncePerShowing();
};

// Through the real window: the scanner's keys reach 扫码 even while a
// button has the keyboard, the row becomes current and the status line
// names the person.
void TstScan::scannerSelectsTheRow()
{
    WindowHarness h;
    h.build();
    h.memoryRoster(
        {QStringLiteral("学号"), QStringLiteral("姓名")},
        {{"2024000001", "张三"}, {"2024000002", "李四"}, {"2024000005", "王五"}, {"2024000007", ""}});
    QVERIFY(h.activate());
    h.w<QRadioButton>("Option1")->setChecked(true);
    auto *box = h.w<QLineEdit>("Texsm");

    QPushButton *open = h.button("Command1");
    open->setFocus();
    scanKeys(h.form.get(), QStringLiteral("2024000005"));
    QCOMPARE(h.session().cursor.currentRow(), 3);
    QCOMPARE(h.form->grid()->activeRow(), 3);
    QCOMPARE(h.form->statusText(), QStringLiteral("扫码：2024000005 → 第 3 行 王五"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(box));

    // The next scan replaces the code; a person without a name is called by the key.
    scanKeys(h.form.get(), QStringLiteral("2024000007"));
    QCOMPARE(h.session().cursor.currentRow(), 4);
    QCOMPARE(h.form->statusText(), QStringLiteral("扫码：2024000007 → 第 4 行 2024000007"));
    scanKeys(h.form.get(), QStringLiteral("2024000009"));
    QCOMPARE(h.session().cursor.currentRow(), 4);
    QVERIFY2(h.form->statusText().contains(QStringLiteral("没有这个号码")), qPrintable(h.form->statusText()));
}

void TstScan::codeComparesAsItsKeyColumn_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("keyField");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("row"); // -1: nothing chosen
    QTest::addColumn<QString>("said");

    // The same 30 people as an Excel workbook (texts ignore letter case)
    // and as a dBase table written by LibreOffice (texts compare exactly;
    // its field names are N__, N__2 ... so the key names the person).
    const QString xls = QStringLiteral("generated/roster_zh_30.xls");
    const QString dbf = QStringLiteral("dbf/roster_zh_30_lo_cp936.dbf");
    QTest::newRow("xls, text key") << xls << 0 << 0 << "2024000005" << 5 << "第 5 行 宁凝";
    QTest::newRow("dbf, text key") << dbf << 3 << 0 << "2024000005" << 5 << "第 5 行 2024000005";
    QTest::newRow("xls, text key, leading zero") << xls << 0 << 0 << "02024000005" << -1 << "没有这个号码";
    QTest::newRow("dbf, text key, leading zero") << dbf << 3 << 0 << "02024000005" << -1 << "没有这个号码";
    QTest::newRow("xls, number key, leading zero") << xls << 0 << 3 << "088.80" << 5 << "第 5 行 宁凝";
    QTest::newRow("dbf, number key, leading zero") << dbf << 3 << 3 << "088.80" << 5 << "第 5 行 88.8";
    QTest::newRow("xls, number key, letters") << xls << 0 << 3 << "88.8x" << -1 << "没有这个号码";
    QTest::newRow("xls, number key shared by two") << xls << 0 << 3 << "20.5" << -1 << "有 2 个人";
    QTest::newRow("dbf, number key shared by two") << dbf << 3 << 3 << "020.5" << -1 << "有 2 个人";
    QTest::newRow("xls, other letter case")
        << xls << 0 << 1 << "mary o'connor（玛丽）" << 3 << "第 3 行 Mary O'Connor（玛丽）";
    QTest::newRow("dbf, other letter case")
        << dbf << 3 << 1 << "mary o'connor（玛丽）" << -1 << "没有这个号码";
    QTest::newRow("dbf, same letter case")
        << dbf << 3 << 1 << "Mary O'Connor（玛丽）" << 3 << "第 3 行 Mary O'Connor（玛丽）";
}

void TstScan::codeComparesAsItsKeyColumn()
{
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(int, keyField);
    QFETCH(QString, code);
    QFETCH(int, row);
    QFETCH(QString, said);

    WindowHarness h;
    h.build();
    QVERIFY(h.activate());
    const QString path = copied(h.folder, file);
    QVERIFY(!path.isEmpty());
    QVERIFY(h.openTable(path, {keyField}, kind));
    QCOMPARE(h.session().roster.rows(), 32);
    h.form->grid()->setActiveCell(7, 1);
    QCOMPARE(h.session().cursor.currentRow(), 7);
    // The photo day starts with the scan line holding the keyboard.
    auto *box = h.w<QLineEdit>("Texsm");
    QCOMPARE(h.form->focusWidget(), static_cast<QWidget *>(box));
    scanKeys(h.form.get(), code);
    QCOMPARE(h.session().cursor.currentRow(), row > 0 ? row : 7);
    const QString status = h.form->statusText();
    QVERIFY2(status.startsWith(QStringLiteral("扫码：%1 → ").arg(code)) && status.contains(said),
             qPrintable(status));
}

// A person the filter leaves out is found and named; the filter stays and
// the operator stays where they were.
void TstScan::filteredPersonIsNamedNotChosen()
{
    WindowHarness h;
    h.build();
    h.memoryRoster({QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级")},
                   {{"101", "张三", "一班"}, {"102", "李四", "二班"}, {"103", "王五", "一班"}});
    QVERIFY(h.activate());
    h.w<QRadioButton>("Option1")->setChecked(true);
    auto *column = h.w<QComboBox>("Combo1");
    pick(column, column->findText(QStringLiteral("班级")));
    auto *value = h.w<QComboBox>("Combo2");
    pick(value, value->findText(QStringLiteral("一班")));
    QCOMPARE(h.session().roster.rows(), 4); // header, 张三, 王五, the empty row
    QCOMPARE(h.session().roster.cellText(2, 2), QStringLiteral("王五"));

    scanKeys(h.form.get(), QStringLiteral("102"));
    QCOMPARE(h.session().cursor.currentRow(), 1);
    QVERIFY2(h.form->statusText().contains(QStringLiteral("李四 不在当前筛选的结果里")),
             qPrintable(h.form->statusText()));
    QCOMPARE(h.session().roster.rows(), 4);
    scanKeys(h.form.get(), QStringLiteral("103"));
    QCOMPARE(h.session().cursor.currentRow(), 2);

    // 王五 has a photo: "只显示未拍照" leaves him out, and a scan says so.
    h.w<QLineEdit>("Text1")->setText(h.save.path());
    h.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    QFile photo(h.path(QStringLiteral("王五.jpg")));
    QVERIFY(photo.open(QIODevice::WriteOnly));
    photo.close();
    h.w<QCheckBox>("Chewpz")->setChecked(true);
    QCOMPARE(h.session().roster.rows(), 3); // header, 张三, the empty row
    h.form->grid()->setActiveCell(1, 1);
    scanKeys(h.form.get(), QStringLiteral("103"));
    QCOMPARE(h.session().cursor.currentRow(), 1);
    QVERIFY2(h.form->statusText().contains(QStringLiteral("王五 已经拍过，“只显示未拍照”没有列出他")),
             qPrintable(h.form->statusText()));
}

// A second photo of a person saved this session is asked about (No keeps
// the first); the stored setting switches the question off.
void TstScan::secondPhotoOfOnePersonAsksFirst()
{
    WindowHarness h;
    h.build();
    h.memoryRoster({QStringLiteral("学号"), QStringLiteral("姓名")},
                   {{"101", "张三"}, {"102", "王五"}, {"103", "赵六"}});
    QVERIFY(h.activate());
    h.w<QRadioButton>("Option1")->setChecked(true);
    h.w<QLineEdit>("Text1")->setText(h.save.path());
    h.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    h.button("Command1")->click();

    auto photograph = [&] {
        h.button("Command3")->click();
        h.button("Command8")->click();
        h.button("Command4")->click();
    };
    scanKeys(h.form.get(), QStringLiteral("102"));
    photograph();
    QVERIFY2(QFileInfo::exists(h.path(QStringLiteral("王五.jpg"))), qPrintable(h.form->statusText()));
    QVERIFY(h.messages.texts().isEmpty());

    // Scanned again: asked, and No saves nothing.
    scanKeys(h.form.get(), QStringLiteral("102"));
    QFile::remove(h.path(QStringLiteral("王五.jpg")));
    h.messages.answers.enqueue(false);
    photograph();
    QCOMPARE(h.messages.texts(), QStringList{QStringLiteral("王五已经拍过，再拍一张吗？")});
    QVERIFY(!QFileInfo::exists(h.path(QStringLiteral("王五.jpg"))));
    QCOMPARE(h.session().cursor.currentRow(), 2);

    // A still taken before a scan chose another person: asked too.
    h.button("Command3")->click();
    scanKeys(h.form.get(), QStringLiteral("103"));
    h.messages.answers.enqueue(false);
    h.button("Command8")->click();
    QCOMPARE(h.messages.texts().size(), 2);
    QVERIFY2(h.messages.texts().last().startsWith(QStringLiteral("这张照片是扫码转到赵六之前拍的")),
             qPrintable(h.messages.texts().last()));
    QVERIFY(!QFileInfo::exists(h.path(QStringLiteral("赵六.jpg"))));
    h.button("Command4")->click();
    scanKeys(h.form.get(), QStringLiteral("102"));

    // Switched off: saved without a question, and the setting is stored.
    h.form->findChild<QAction *>(QStringLiteral("zpxz"))->setChecked(false);
    QCOMPARE(SettingsStore::get(QStringLiteral("zpxz"), QString()), QStringLiteral("0"));
    photograph();
    QCOMPARE(h.messages.texts().size(), 2);
    QVERIFY(QFileInfo::exists(h.path(QStringLiteral("王五.jpg"))));
}

// 打印扫码卡 prints one card a person of the filtered grid; every QR code
// on the PDF, rendered by pdftoppm, reads back with zbarimg as that
// person's key, letter case and all; the names and the class are printed.
void TstScan::cardsCarryReadableCodes()
{
    WindowHarness h;
    h.build();
    QList<QStringList> people;
    for (int i = 1; i <= 13; ++i)
        people << QStringList{QStringLiteral("Ka-%1x").arg(i, 4, 10, QLatin1Char('0')),
                              QStringLiteral("学生%1").arg(i),
                              i % 4 ? QStringLiteral("一班") : QStringLiteral("二班")};
    h.memoryRoster({QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级")}, people);
    QVERIFY(h.activate());
    h.w<QRadioButton>("Option1")->setChecked(true);
    auto *column = h.w<QComboBox>("Combo1");
    pick(column, column->findText(QStringLiteral("班级")));
    auto *value = h.w<QComboBox>("Combo2");
    pick(value, value->findText(QStringLiteral("一班")));
    QStringList expected;
    for (const QStringList &p : std::as_const(people))
        if (p.at(2) == QStringLiteral("一班"))
            expected << p.at(0);
    QCOMPARE(expected.size(), 10);

    auto *engine = h.form->findChild<GridPrintEngine *>();
    QVERIFY(engine);
    const QString pdf = h.save.filePath(QStringLiteral("cards.pdf"));
    int printed = -1;
    engine->runModal = [&](QDialog &) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        engine->setUpPrinter(printer);
        printed = engine->print(&printer);
    };
    h.form->findChild<QAction *>(QStringLiteral("printcards"))->trigger();
    QCOMPARE(printed, 1); // ten cards fit an A4 page

    // Each card's cell rendered alone (zbarimg, given a whole page of
    // codes, now and then misses one): exactly its person's key.
    const ThumbnailLayout cells = LayOutThumbnails(ScanCardBody(engine->layout().paper), ScanCardCellSize());
    QCOMPARE(cells.perPage(), 10);
    const double dpi = 150;
    for (int i = 0; i < expected.size(); ++i) {
        const QRect cell = QTransform::fromScale(dpi / 72, dpi / 72).mapRect(cells.cellRect(i)).toRect();
        const QString png = h.save.filePath(QStringLiteral("card%1").arg(i));
        QVERIFY(run(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"),
                     QStringLiteral("-singlefile"), QStringLiteral("-x"), QString::number(cell.x()),
                     QStringLiteral("-y"), QString::number(cell.y()), QStringLiteral("-W"),
                     QString::number(cell.width()), QStringLiteral("-H"), QString::number(cell.height()), pdf,
                     png}));
        const std::optional<QString> codes =
            run(QStringLiteral("zbarimg"), {QStringLiteral("-q"), QStringLiteral("--raw"), png + ".png"});
        QVERIFY(codes);
        QCOMPARE(codes->split(QLatin1Char('\n'), Qt::SkipEmptyParts), QStringList{expected.at(i)});
    }

    const std::optional<QString> text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text);
    QVERIFY2(text->contains(QStringLiteral("学生1")) && text->contains(QStringLiteral("学生10")) &&
                 !text->contains(QStringLiteral("学生4")) && text->count(QStringLiteral("一班")) == 10,
             qPrintable(*text));
}

// 摄像头扫码: the live frames go to the reader a few times a second; a card
// coming into view selects its person once, however long it stays; shown
// again after leaving the view, it selects again.
void TstScan::cameraSelectsOncePerShowing()
{
    LiveCamera camera;
    WindowHarness h;
    h.build(&camera);
    h.memoryRoster({QStringLiteral("学号"), QStringLiteral("姓名")},
                   {{"101", "张三"}, {"102", "王五"}, {"103", "赵六"}});
    QVERIFY(h.activate());
    h.w<QRadioButton>("Option1")->setChecked(true);
    const QString png = h.save.filePath(QStringLiteral("card.png"));
    QVERIFY(run(QStringLiteral("qrencode"), {QStringLiteral("-s"), QStringLiteral("5"), QStringLiteral("-o"),
                                             png, QStringLiteral("103")}));
    QImage frame(449, 345, QImage::Format_RGB32);
    frame.fill(QColor(90, 100, 110));
    QPainter(&frame).drawImage(QPoint(150, 100), QImage(png));

    auto *action = h.form->findChild<QAction *>(QStringLiteral("sxsm"));
    action->setChecked(true);
    QCOMPARE(SettingsStore::get(QStringLiteral("sxsm"), QString()), QStringLiteral("1"));
    camera.frame = frame;
    QTRY_COMPARE_WITH_TIMEOUT(h.session().cursor.currentRow(), 3, 5000);
    QCOMPARE(h.form->statusText(), QStringLiteral("扫码：103 → 第 3 行 赵六"));

    // Still in view while the operator moves on: the row stays theirs.
    h.form->grid()->setActiveCell(1, 1);
    const int taken = camera.framesTaken;
    QTRY_VERIFY_WITH_TIMEOUT(camera.framesTaken >= taken + 4, 5000);
    QCOMPARE(h.session().cursor.currentRow(), 1);

    // Out of view, then back: selected again.
    camera.frame = QImage();
    QTRY_VERIFY_WITH_TIMEOUT(camera.framesTaken >= taken + 6, 5000);
    camera.frame = frame;
    QTRY_COMPARE_WITH_TIMEOUT(h.session().cursor.currentRow(), 3, 5000);

    // Switched off: no frame is taken any more.
    action->setChecked(false);
    const int stopped = camera.framesTaken;
    QTest::qWait(600);
    QCOMPARE(camera.framesTaken, stopped);
}

QTEST_MAIN(TstScan)
#include "tst_scan.moc"
