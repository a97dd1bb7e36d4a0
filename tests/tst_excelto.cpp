#include "DbfMaker.h"
#include "ScriptedServices.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableLoader.h"
#include "data/WriteBack.h"
#include "data/engine/Database.h"
#include "data/engine/Value.h"
#include "data/excelto.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace lumora::engine;

// The open-table window, driven through its controls.
class TstExcelto : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startState();
    void filterAndConnectPerKind_data();
    void filterAndConnectPerKind();
    void cancelledBrowseChangesNothing();
    void keysAreListPositions_data();
    void keysAreListPositions();
    void tableWithBlanksThroughTheWholePath();
    void textFileThroughTheWholePath();
    void fileThatIsNotATable();
    void cancelClosesAndDeletes();
    void anotherFileDropsTheFirstChoice_data();
    void anotherFileDropsTheFirstChoice();

private:
    excelto *openWindow(DataSource &ds, ScriptedDialogs &dialogs);
    QTemporaryDir m_dir;
    QString m_table; // a folder holding "class list.dbf" (XH, XM, BJ)
};

void TstExcelto::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath(QStringLiteral("good")));
    DbfMaker t({{"XH", 'C', 10}, {"XM", 'C', 20}, {"CJ", 'N', 5, 1}});
    t.add(QStringList{"101", "张三", "88"});
    t.add(QStringList{"102", "李四", "70"});
    m_table = m_dir.filePath(QStringLiteral("good/class list.dbf"));
    QVERIFY(t.write(m_table));
}

excelto *TstExcelto::openWindow(DataSource &ds, ScriptedDialogs &dialogs)
{
    // The window hands its choice over on Open only; `ds` plays the main
    // window's table in use.
    auto *w = new excelto(&dialogs);
    QObject::connect(w, &excelto::tableChosen, w, [&ds](const DataSource &chosen) { ds = chosen; });
    w->show();
    return w;
}

void TstExcelto::startState()
{
    DataSource ds;
    ScriptedDialogs dialogs;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QCOMPARE(w->objectName(), QStringLiteral("excelto"));
    QCOMPARE(w->windowTitle(), QStringLiteral("打开数据表"));
    QVERIFY(!w->isModal());
    QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(w->findChild<QRadioButton *>(QStringLiteral("Option1_0"))->isChecked());
    QCOMPARE(w->kindButtons()->checkedId(), 0);
    QCOMPARE(w->choice().connectString, QStringLiteral("Excel 8.0"));
    QCOMPARE(w->choice().fileExtension, QStringLiteral("XLS"));
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List1"))->count(), 0);
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List2"))->count(), 0);
    QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("Command2"))->isEnabled());
    QCOMPARE(w->findChild<QPushButton *>(QStringLiteral("Command1"))->text(), QStringLiteral("浏览(&L)"));
    QCOMPARE(w->findChild<QPushButton *>(QStringLiteral("Command3"))->text(), QStringLiteral("取消(&L)"));
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("Label4"))
                ->text()
                .startsWith(QStringLiteral("主键就是表中没有重复内容的列")));
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("Label4"))
                ->text()
                .endsWith(QStringLiteral("选错将导致图片文件名写入数据表错乱！")));
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List2"))->selectionMode(),
             QAbstractItemView::MultiSelection);
    delete w;
}

void TstExcelto::filterAndConnectPerKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("connect");
    QTest::newRow("Excel") << 0 << "数据文件(*.XLS;*.XLSX)|*.XLS;*.XLSX"
                           << "Excel 8.0";
    QTest::newRow("Access") << 1 << "数据文件(*.mdb)|*.mdb"
                            << "";
    QTest::newRow("FoxPro") << 2 << "数据文件(*.DBF)|*.DBF"
                            << "FOXPro3.0";
    QTest::newRow("dBase") << 3 << "数据文件(*.DBF)|*.DBF"
                           << "dBASE IV";
    QTest::newRow("CSV") << 4 << "文本文件(*.csv;*.txt)|*.csv;*.txt"
                         << "Text";
}

void TstExcelto::filterAndConnectPerKind()
{
    QFETCH(int, kind);
    QFETCH(QString, filter);
    QFETCH(QString, connect);
    DataSource ds;
    ScriptedDialogs dialogs;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QTest::mouseClick(w->kindButtons()->button(kind), Qt::LeftButton);
    QCOMPARE(w->choice().connectString, connect);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QCOMPARE(dialogs.calls.size(), 1);
    QVERIFY2(dialogs.calls.at(0).endsWith(QLatin1Char('|') + filter), qPrintable(dialogs.calls.at(0)));
    delete w;
}

void TstExcelto::cancelledBrowseChangesNothing()
{
    DataSource ds;
    ds.databasePath = QStringLiteral("earlier.dbf");
    ds.tableName = QStringLiteral("[earlier]");
    ScriptedDialogs dialogs;
    dialogs.files << m_table;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QTest::mouseClick(w->kindButtons()->button(3), Qt::LeftButton);
    auto *browse = w->findChild<QPushButton *>(QStringLiteral("Command1"));
    QTest::mouseClick(browse, Qt::LeftButton); // picks the table
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List1"))->count(), 1);
    QTest::mouseClick(browse, Qt::LeftButton); // cancelled
    QCOMPARE(w->choice().databasePath, m_table);
    QCOMPARE(w->findChild<QLineEdit *>(QStringLiteral("Text1"))->text(), m_table);
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List1"))->count(), 1);
    delete w;
    // The table in use never saw the browse.
    QCOMPARE(ds.databasePath, QStringLiteral("earlier.dbf"));
    QCOMPARE(ds.tableName, QStringLiteral("[earlier]"));
}

void TstExcelto::keysAreListPositions_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QList<qint16>>("keys");
    QTest::newRow("none") << QList<int>{} << QList<qint16>{};
    QTest::newRow("first and third") << QList<int>{0, 2} << QList<qint16>{1, 3};
    QTest::newRow("third then first, list order wins") << QList<int>{2, 0} << QList<qint16>{1, 3};
    QTest::newRow("second") << QList<int>{1} << QList<qint16>{2};
}

void TstExcelto::keysAreListPositions()
{
    QFETCH(QList<int>, selected);
    QFETCH(QList<qint16>, keys);
    DataSource ds;
    ds.keyColumns = {4, 5}; // from an earlier table
    ds.keyCount = 2;
    ScriptedDialogs dialogs;
    dialogs.files << m_table;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QSignalSpy chosen(w.data(), &excelto::tableChosen);
    QTest::mouseClick(w->kindButtons()->button(3), Qt::LeftButton);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    auto *list1 = w->findChild<QListWidget *>(QStringLiteral("List1"));
    list1->setCurrentRow(0);
    auto *list2 = w->findChild<QListWidget *>(QStringLiteral("List2"));
    QCOMPARE(list2->count(), 3);
    for (int i : selected)
        list2->item(i)->setSelected(true);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(ds.keyColumns, keys);
    QCOMPARE(ds.keyCount, qint16(keys.size()));
    QCOMPARE(chosen.count(), 1);
    QTRY_VERIFY(w.isNull());
}

void TstExcelto::tableWithBlanksThroughTheWholePath()
{
    DataSource ds;
    ScriptedDialogs dialogs;
    dialogs.files << m_table;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QTest::mouseClick(w->kindButtons()->button(2), Qt::LeftButton);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    auto *list1 = w->findChild<QListWidget *>(QStringLiteral("List1"));
    QCOMPARE(list1->item(0)->text(), QStringLiteral("class list"));
    list1->setCurrentRow(0);
    QCOMPARE(w->choice().tableName, QStringLiteral("[class list]"));
    QCOMPARE(w->choice().fieldTypes, (QList<qint16>{DaoText, DaoText, DaoDouble}));
    QVERIFY(ds.tableName.isEmpty());
    QVERIFY(w->findChild<QPushButton *>(QStringLiteral("Command2"))->isEnabled());
    w->findChild<QListWidget *>(QStringLiteral("List2"))->item(0)->setSelected(true);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QTRY_VERIFY(w.isNull());

    RosterModel grid;
    const TableLoad load = LoadTable(*OpenDatabase(ds), ds, grid);
    QCOMPARE(load.caption, QStringLiteral("数据表[2]"));
    QCOMPARE(grid.cellText(2, 2), QStringLiteral("李四"));
}

// An Excel-style CSV roster (GBK, CRLF, a trailing empty column) chosen
// as a text file: its one table, its fields, a key holding an apostrophe,
// and a photo name written back into its row.
void TstExcelto::textFileThroughTheWholePath()
{
    const QString path = m_dir.filePath(QStringLiteral("高一 名单.csv"));
    QVERIFY(QFile::copy(
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/csv/roster_zh_30_excel_gbk.csv"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    DataSource ds;
    ScriptedDialogs dialogs;
    dialogs.files << path;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QTest::mouseClick(w->kindButtons()->button(4), Qt::LeftButton);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    auto *list1 = w->findChild<QListWidget *>(QStringLiteral("List1"));
    QCOMPARE(list1->count(), 1);
    QCOMPARE(list1->item(0)->text(), QStringLiteral("高一 名单"));
    list1->setCurrentRow(0);
    QCOMPARE(w->choice().fieldTypes,
             (QList<qint16>{DaoDouble, DaoText, DaoText, DaoDouble, DaoDate, DaoText}));
    w->findChild<QListWidget *>(QStringLiteral("List2"))->item(1)->setSelected(true); // 姓名
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QTRY_VERIFY(w.isNull());
    QCOMPARE(ds.connectString, QStringLiteral("Text"));

    RosterModel grid;
    QCOMPARE(LoadTable(*OpenDatabase(ds), ds, grid).caption, QStringLiteral("数据表[30]"));
    QCOMPARE(grid.cellText(3, 2), QStringLiteral("Mary O'Connor（玛丽）"));
    const WriteBackResult result =
        WriteBackFileName(ds, grid, {true, 5, true, QStringLiteral("jpg"), QStringLiteral("玛丽"), 3});
    QCOMPARE(int(result.status), int(WriteBackResult::Status::Written));
    RosterModel after;
    LoadTable(*OpenDatabase(ds), ds, after);
    QCOMPARE(after.cellText(3, 6), QStringLiteral("玛丽.jpg"));
    QCOMPARE(after.cellText(2, 6), QString());
}

void TstExcelto::fileThatIsNotATable()
{
    const QString folder = m_dir.filePath(QStringLiteral("bad"));
    QDir().mkpath(folder);
    QFile bad(folder + QStringLiteral("/notes.dbf"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("this is a letter, not a table\n");
    bad.close();

    DataSource ds;
    ScriptedDialogs dialogs;
    dialogs.files << bad.fileName();
    QPointer<excelto> w = openWindow(ds, dialogs);
    QTest::mouseClick(w->kindButtons()->button(3), Qt::LeftButton);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    auto *list1 = w->findChild<QListWidget *>(QStringLiteral("List1"));
    if (list1->count() > 0)
        list1->setCurrentRow(0); // the folder opens; the table does not
    QCOMPARE(w->findChild<QListWidget *>(QStringLiteral("List2"))->count(), 0);
    QVERIFY(!w->findChild<QLabel *>(QStringLiteral("Labelmsg"))->text().isEmpty());
    QCOMPARE(w->choice().databasePath, bad.fileName());
    delete w;
}

void TstExcelto::cancelClosesAndDeletes()
{
    DataSource ds;
    ScriptedDialogs dialogs;
    dialogs.files << m_table;
    QPointer<excelto> w = openWindow(ds, dialogs);
    QSignalSpy chosen(w.data(), &excelto::tableChosen);
    QTest::mouseClick(w->kindButtons()->button(3), Qt::LeftButton);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    w->findChild<QListWidget *>(QStringLiteral("List1"))->setCurrentRow(0);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
    QTRY_VERIFY(w.isNull());
    QCOMPARE(chosen.count(), 0);
    QVERIFY(ds.tableName.isEmpty()); // the click stayed in the window
}

void TstExcelto::anotherFileDropsTheFirstChoice_data()
{
    QTest::addColumn<QString>("step"); // after roster A's table and key were chosen
    QTest::newRow("browse to roster B") << "browse";
    QTest::newRow("browse to a file that is no table") << "bad";
    QTest::newRow("another kind") << "kind";
}

// Roster A's table and key chosen, then another file (or kind): nothing of
// A stays chosen, and 打开 waits for a table of the new file.
void TstExcelto::anotherFileDropsTheFirstChoice()
{
    QFETCH(QString, step);
    const QString other = m_dir.filePath(QStringLiteral("other/roster b.dbf"));
    QDir().mkpath(QFileInfo(other).path());
    DbfMaker b({{"SR", 'D', 8}, {"XM", 'C', 20}});
    b.add(QStringList{"2009-04-19", "王五"});
    QVERIFY(b.write(other));
    const QString bad = m_dir.filePath(QStringLiteral("letters/notes.dbf"));
    QDir().mkpath(QFileInfo(bad).path());
    QFile letter(bad);
    QVERIFY(letter.open(QIODevice::WriteOnly));
    letter.write("this is a letter, not a table\n");
    letter.close();

    DataSource ds;
    ScriptedDialogs dialogs;
    dialogs.files << m_table << (step == QLatin1String("bad") ? bad : other);
    QPointer<excelto> w = openWindow(ds, dialogs);
    QSignalSpy chosen(w.data(), &excelto::tableChosen);
    auto *browse = w->findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *list1 = w->findChild<QListWidget *>(QStringLiteral("List1"));
    auto *list2 = w->findChild<QListWidget *>(QStringLiteral("List2"));
    auto *open = w->findChild<QPushButton *>(QStringLiteral("Command2"));
    QTest::mouseClick(w->kindButtons()->button(3), Qt::LeftButton);
    QTest::mouseClick(browse, Qt::LeftButton);
    list1->setCurrentRow(0);
    list2->item(0)->setSelected(true);
    QVERIFY(open->isEnabled());

    if (step == QLatin1String("kind"))
        QTest::mouseClick(w->kindButtons()->button(0), Qt::LeftButton);
    else
        QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(list2->count(), 0);
    QVERIFY(!open->isEnabled());
    QVERIFY(w->choice().tableName.isEmpty());
    QVERIFY(w->choice().fieldTypes.isEmpty());
    QVERIFY(w->choice().keyColumns.isEmpty());
    if (step != QLatin1String("browse")) {
        // Nothing of A to choose from either; a table that cannot be read
        // is no choice.
        QVERIFY(list1->findItems(QStringLiteral("class list"), Qt::MatchExactly).isEmpty());
        if (list1->count() > 0)
            list1->setCurrentRow(0);
        QVERIFY(!open->isEnabled());
        delete w;
        QCOMPARE(chosen.count(), 0);
        return;
    }
    // B's table, B's fields, no key: that is what 打开 hands over.
    list1->setCurrentRow(list1->row(list1->findItems(QStringLiteral("roster b"), Qt::MatchExactly).value(0)));
    QCOMPARE(list2->count(), 2);
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(ds.databasePath, other);
    QCOMPARE(ds.tableName, QStringLiteral("[roster b]"));
    QCOMPARE(ds.fieldTypes, (QList<qint16>{DaoDate, DaoText}));
    QVERIFY(ds.keyColumns.isEmpty());
    QTRY_VERIFY(w.isNull());
}

QTEST_MAIN(TstExcelto)
#include "tst_excelto.moc"
