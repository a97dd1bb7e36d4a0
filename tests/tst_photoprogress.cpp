// How the photo day stands, through the real main window on a roster held
// in memory: the count beside the grid's caption, the marks, the people
// still missing, the roster check and the list of the missing.

#include "WindowHarness.h"

#include "app/PhotoDayPanel.h"
#include "app/RosterCheckWindow.h"
#include "data/TableGrid.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

namespace {

// XH is the key: rows 3 and 7 have none, rows 4 and 5 share one. BJ holds
// a separator and quotes for the CSV.
const QStringList kFields = {"XH", "XM", "BJ", "ZP"};
const QList<QStringList> kRoster = {
    {"1", "张三", "一班", ""}, {"2", "李四", "二班", ""}, {"", "王五", "一班", ""},
    {"4", "赵六", "二班", ""}, {"4", "孙七", "三班", ""}, {"6", "周八", "一班,\"甲\"", ""},
    {"", "吴九", "二班 ", ""},
};

struct Day : WindowHarness
{
    explicit Day(const QList<QStringList> &rows = kRoster)
    {
        clearStore();
        build();
        roster = memoryRoster(kFields, rows);
        w<QRadioButton>("Option1")->setChecked(true);
        messages.clear(); // the key column offered first as the write-back column
        w<QLineEdit>("Text1")->setText(save.path());
        w<QComboBox>("Comfname1")->setCurrentIndex(1); // XM
        button("Command1")->click();
    }

    QString progress() const { return w<QLabel>("Labyipai")->text(); }
    TableGrid *grid() const { return form->grid(); }
    // Take and save the current row's photo.
    void photograph()
    {
        if (button("Command4")->isEnabled())
            button("Command4")->click();
        button("Command3")->click();
        button("Command8")->click();
    }
    QStringList names() const
    {
        QStringList list;
        for (int r = 1; r < grid()->roster()->rows() - 1; ++r)
            list << grid()->roster()->cellText(r, 2);
        return list;
    }
    QStringList marked() const
    {
        QStringList list;
        for (int r = 1; r < grid()->roster()->rows() - 1; ++r)
            if (!grid()->roster()->cellText(r, 0).isEmpty())
                list << grid()->roster()->cellText(r, 2);
        return list;
    }

    std::shared_ptr<MemoryTableData> roster;
};

} // namespace

class TstPhotoProgress : public QObject
{
    Q_OBJECT
private slots:
    void countsMarksAndTheMissing();
    void missingOnlyFollowsTheSaves();
    void numberedPhotosCountForTheirName();
    void savesCountAsCountingAgainWould_data();
    void savesCountAsCountingAgainWould();
    void namingChangeCountsAgain();
    void checkListsTheRowsThatWouldGoWrong();
    void exportWritesTheMissing();
};

void TstPhotoProgress::countsMarksAndTheMissing()
{
    Day d;
    QCOMPARE(d.progress(), QStringLiteral("已拍 0 / 7"));
    QVERIFY(d.w<QLabel>("Labyipai")->isVisibleTo(d.form.get()));
    for (int i = 0; i < 3; ++i)
        d.photograph();
    QCOMPARE(d.progress(), QStringLiteral("已拍 3 / 7"));
    QCOMPARE(d.marked(), QStringList({"张三", "李四", "王五"}));
    QCOMPARE(d.grid()->cursor()->currentRow(), 4);

    auto *missing = d.w<QCheckBox>("Chewpz");
    missing->click();
    QCOMPARE(d.names(), QStringList({"赵六", "孙七", "周八", "吴九"}));
    QCOMPARE(d.progress(), QStringLiteral("已拍 3 / 7"));
    QCOMPARE(d.grid()->cursor()->currentRow(), 1); // still 赵六
    QVERIFY(d.marked().isEmpty());

    // Off again: everyone is back, the photographed marked.
    missing->click();
    QCOMPARE(d.names().size(), 7);
    QCOMPARE(d.marked(), QStringList({"张三", "李四", "王五"}));
    QCOMPARE(d.progress(), QStringLiteral("已拍 3 / 7"));

    // Ordinary mode has no roster to count.
    d.w<QRadioButton>("Option2")->setChecked(true);
    QVERIFY(!d.w<QLabel>("Labyipai")->isVisibleTo(d.form.get()));
    QVERIFY(!missing->isEnabled());
}

void TstPhotoProgress::missingOnlyFollowsTheSaves()
{
    Day d;
    d.grid()->setActiveCell(2, 1);
    d.photograph(); // 李四; on to 王五
    d.w<QCheckBox>("Chewpz")->click();
    QCOMPARE(d.names(), QStringList({"张三", "王五", "赵六", "孙七", "周八", "吴九"}));
    QCOMPARE(d.grid()->roster()->cellText(d.grid()->cursor()->currentRow(), 2), QStringLiteral("王五"));

    // Each save drops the saved person; whoever comes next stands there.
    for (const char *next : {"赵六", "孙七", "周八"}) {
        d.photograph();
        QCOMPARE(d.grid()->roster()->cellText(d.grid()->cursor()->currentRow(), 2), QString::fromUtf8(next));
        QVERIFY2(d.form->statusText().endsWith(
                     QStringLiteral("转到第 %1 行").arg(d.grid()->cursor()->currentRow())),
                 qPrintable(d.form->statusText()));
    }
    QCOMPARE(d.names(), QStringList({"张三", "周八", "吴九"}));
    QCOMPARE(d.progress(), QStringLiteral("已拍 4 / 7"));

    // The first row is the only one left before the saved ones: going back
    // there and saving leaves the grid on the next one still missing.
    d.grid()->setActiveCell(1, 1);
    d.photograph();
    QCOMPARE(d.grid()->roster()->cellText(d.grid()->cursor()->currentRow(), 2), QStringLiteral("周八"));
    QCOMPARE(d.progress(), QStringLiteral("已拍 5 / 7"));
    // The last one: the grid ends on its trailing empty row.
    d.grid()->setActiveCell(2, 1);
    d.photograph();
    d.grid()->setActiveCell(1, 1);
    d.photograph();
    QCOMPARE(d.names(), QStringList());
    QCOMPARE(d.progress(), QStringLiteral("已拍 7 / 7"));
    QCOMPARE(d.grid()->cursor()->currentRow(), d.grid()->roster()->rows() - 1);
}

void TstPhotoProgress::numberedPhotosCountForTheirName()
{
    Day d;
    d.w<QCheckBox>("Cheqbm")->click();
    d.photograph();
    d.photograph();
    QVERIFY(QFile::exists(d.path("张三10001.jpg")));
    QVERIFY(QFile::exists(d.path("李四10002.jpg")));
    QCOMPARE(d.progress(), QStringLiteral("已拍 2 / 7"));
    // A stray file of another name followed by digits counts for nobody else.
    QFile stray(d.path("张三丰10009.jpg"));
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();
    d.w<QLineEdit>("Texqbm")->setText(QStringLiteral("20001"));
    QTRY_COMPARE(d.progress(), QStringLiteral("已拍 2 / 7"));
    QCOMPARE(d.marked(), QStringList({"张三", "李四"}));
}

void TstPhotoProgress::savesCountAsCountingAgainWould_data()
{
    QTest::addColumn<bool>("numbered");
    QTest::newRow("names alone") << false;
    QTest::newRow("with the number") << true;
}

// A save is taken into the count without counting the roster again; after
// every save the count and the marks are what counting again finds, with
// people sharing a name and a name ending in digits (a numbered photo of
// 张三1 is one of 张三's too).
void TstPhotoProgress::savesCountAsCountingAgainWould()
{
    QFETCH(bool, numbered);
    Day d({{"1", "张三", "", ""},
           {"2", "张三1", "", ""},
           {"3", "张三", "", ""},
           {"4", "李四", "", ""},
           {"5", "王五", "", ""}});
    if (numbered)
        d.w<QCheckBox>("Cheqbm")->click();
    auto *panel = d.form->findChild<PhotoDayPanel *>();
    QVERIFY(panel);
    d.grid()->setActiveCell(2, 1);
    for (int save = 0; save < 4; ++save) {
        d.photograph();
        const QString shown = d.progress();
        const QStringList marked = d.marked();
        panel->refresh();
        QCOMPARE(d.progress(), shown);
        QCOMPARE(d.marked(), marked);
    }
    QCOMPARE(d.progress(), QStringLiteral("已拍 5 / 5"));
}

void TstPhotoProgress::namingChangeCountsAgain()
{
    Day d;
    d.photograph();
    d.photograph();
    d.w<QCheckBox>("Chewpz")->click();
    QCOMPARE(d.names().size(), 5);
    // A fresh folder: nobody has a photo there, everyone comes back.
    QTemporaryDir other;
    d.w<QLineEdit>("Text1")->setText(other.path());
    QTRY_COMPARE(d.progress(), QStringLiteral("已拍 0 / 7"));
    QCOMPARE(d.names().size(), 7);
    d.w<QLineEdit>("Text1")->setText(d.save.path());
    QTRY_COMPARE(d.progress(), QStringLiteral("已拍 2 / 7"));
    QCOMPARE(d.names().size(), 5);
}

void TstPhotoProgress::checkListsTheRowsThatWouldGoWrong()
{
    Day d;
    d.w<QAction>("checktable")->trigger();
    QPointer<RosterCheckWindow> window = d.form->findChild<RosterCheckWindow *>();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isModal());
    QSet<int> rows;
    static const QRegularExpression rowNumber(QStringLiteral("^第 (\\d+) 行[ ：]"));
    for (const QString &line : window->problems()) {
        const QRegularExpressionMatch m = rowNumber.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        rows.insert(m.captured(1).toInt());
    }
    QCOMPARE(rows, QSet<int>({3, 4, 5, 7}));
    QCOMPARE(window->problems().filter(QStringLiteral("与第 5 行相同")).size(), 1);
    QCOMPARE(window->problems().filter(QStringLiteral("与第 4 行相同")).size(), 1);
    // The check changes nothing.
    QCOMPARE(d.roster->updates, 0);

    // A roster with nothing to say closes the list and says so.
    d.roster->rows[2][0] = lumora::engine::Value::text(QStringLiteral("3"));
    d.roster->rows[4][0] = lumora::engine::Value::text(QStringLiteral("5"));
    d.roster->rows[6][0] = lumora::engine::Value::text(QStringLiteral("7"));
    pick(d.w<QComboBox>("Combo2"), 0); // 全部: read the table again
    d.w<QAction>("checktable")->trigger();
    QTRY_VERIFY(!window);
    QVERIFY2(d.form->statusText().contains(QStringLiteral("没有发现问题")), qPrintable(d.form->statusText()));
}

void TstPhotoProgress::exportWritesTheMissing()
{
    Day d;
    d.photograph();
    d.photograph();
    const QString csv = d.path(QStringLiteral("missing.csv"));
    d.dialogs.files.enqueue(csv);
    d.w<QAction>("outmissing")->trigger();
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(QString::fromUtf8(bytes.mid(3)), QStringLiteral("XH,XM,BJ,ZP\r\n"
                                                             ",王五,一班,\r\n"
                                                             "4,赵六,二班,\r\n"
                                                             "4,孙七,三班,\r\n"
                                                             "6,周八,\"一班,\"\"甲\"\"\",\r\n"
                                                             ",吴九,\"二班 \",\r\n"));
    QVERIFY2(d.form->statusText().contains(QStringLiteral("已导出 5 个")), qPrintable(d.form->statusText()));
    // Cancelled: nothing written, nothing said.
    QVERIFY(QFile::remove(csv));
    d.w<QAction>("outmissing")->trigger();
    QVERIFY(!QFile::exists(csv));
}

QTEST_MAIN(TstPhotoProgress)
#include "tst_photoprogress.moc"
