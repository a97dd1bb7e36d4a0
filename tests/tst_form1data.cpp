#include "DbfMaker.h"
#include "MdbOracles.h"
#include "MdbRowInserter.h"
#include "RecordingCaptureControl.h"
#include "ScriptedServices.h"
#include "WindowHarness.h"

#include "app/Form1.h"
#include "data/TableGrid.h"
#include "data/engine/Database.h"
#include "data/engine/Value.h"
#include "data/excelto.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace lumora::engine;

namespace {

const QString keyMessage = QStringLiteral(" 已被您在打开dBase数据库时指定为主键,请重新选择一个列!");
const QString notTextMessage = QStringLiteral("请选择文本型的列");
const QString noKeyMessage =
    QStringLiteral("你在打开数据时没有指定主键，请重新打开数据表，并指定主主键，详细见帮助。");

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList column(const TableGrid *grid, int c)
{
    QStringList texts;
    for (int r = 1; r < grid->roster()->rows() - 1; ++r)
        texts << grid->roster()->cellText(r, c);
    return texts;
}

} // namespace

class TstForm1Data : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void rosterOpensThroughTheWindow();
    void accessRosterWritesBackThroughTheWindow();
    void secondTableRefillsThePickers();
    void filter_data();
    void filter();
    void filterBackToAllRows();
    void filterValuesOfAnUnreadableColumn();
    void writeBackWithFilterSet();
    void writeBackKeepsFilterWhenNoValuePicked();
    void writeBackByLabelClick();
    void writeBackRefusedIsSaid();
    void writeBackSwitchWithoutKeys();
    void targetColumnCheck_data();
    void targetColumnCheck();
    void numberFirstColumnIsNoTarget();
    void tableThatCannotLoad();
    void cutShortAccessRosterSaysSo();

private:
    QString copyRoster();
    QString accessRoster(int added);
    QString makeClassTable(const QString &name = QStringLiteral("students.dbf"));
    QTemporaryDir m_dir;
    int m_copies = 0;
};

void TstForm1Data::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(!qEnvironmentVariableIsEmpty("LUMORA_TEST_DATA"));
}

void TstForm1Data::init()
{
    clearStore();
    ++m_copies;
}

// A writable copy of the 30-row GBK roster (fields N__ .. N__6).
QString TstForm1Data::copyRoster()
{
    const QString source =
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf");
    QDir().mkpath(m_dir.filePath(QString::number(m_copies)));
    const QString copy = m_dir.filePath(QStringLiteral("%1/roster_zh_30_lo_cp936.dbf").arg(m_copies));
    if (!QFile::copy(source, copy))
        return {};
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    return copy;
}

// 学号 C10, 姓名 C20, 班级 C10, 照片 C40, 成绩 N5.1: six people in three classes.
QString TstForm1Data::makeClassTable(const QString &name)
{
    DbfMaker t(
        {{"学号", 'C', 10}, {"姓名", 'C', 20}, {"班级", 'C', 10}, {"照片", 'C', 40}, {"成绩", 'N', 5, 1}});
    t.add({"101", "张三", "一班", "", "88.5"});
    t.add({"102", "Mary O'Connor", "二班", "", "70.0"});
    t.add({"103", "王五", "一班", "", "91.0"});
    t.add({"104", "赵六", "二班", "", "65.5"});
    t.addWithNulls({QString("105"), QString("孙七"), std::nullopt, QString(""), QString("77.0")});
    t.add({"106", "周八", "三班", "", "82.0"});
    QDir().mkpath(m_dir.filePath(QString::number(m_copies)));
    const QString path = m_dir.filePath(QStringLiteral("%1/").arg(m_copies) + name);
    return t.write(path) ? path : QString();
}

void TstForm1Data::rosterOpensThroughTheWindow()
{
    WindowHarness d;
    d.build();
    const QString path = copyRoster();
    QVERIFY(!path.isEmpty());
    QVERIFY(d.openTable(path, {0}));

    QVERIFY(d.dialogs.calls.contains(QStringLiteral("open:打开数据表|数据文件(*.DBF)|*.DBF")));
    QVERIFY(d.w<QRadioButton>("Option1")->isChecked());
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->rows(), 32);
    QCOMPARE(grid->roster()->cols(), 7);
    QCOMPARE(grid->roster()->cellText(0, 1), QStringLiteral("N__"));
    QCOMPARE(grid->roster()->cellText(1, 1), QStringLiteral("2024000001"));
    QCOMPARE(grid->roster()->cellText(1, 2), QStringLiteral("聂姬"));
    QCOMPARE(grid->roster()->cellText(30, 1), QStringLiteral("2024000030"));
    QCOMPARE(grid->roster()->cellText(31, 1), QString());
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[30]"));
    // Wide enough for a whole student number; the 22-character name is cut.
    QVERIFY(grid->gridColumnWidth(1) > grid->fontMetrics().horizontalAdvance(QStringLiteral("2024000001")));
    QCOMPARE(grid->gridColumnWidth(2), 240);
    QCOMPARE(grid->gridColumnWidth(6), 50);

    const QStringList fields{"N__", "N__2", "N__3", "N__4", "N__5", "N__6"};
    QCOMPARE(items(d.w<QComboBox>("Combo1")), QStringList{"全部"} + fields);
    QCOMPARE(items(d.w<QComboBox>("Combo2")), QStringList{"全部"});
    for (const char *picker : {"Comkb1", "Comkb2", "Comfname1", "Comfname2", "Comzd", "Comt1", "Comt2"})
        QCOMPARE(items(d.w<QComboBox>(picker)), fields);
    QCOMPARE(d.w<QComboBox>("Comfname1")->currentIndex(), 0);
    // Comzd set to its first entry on the first load: N__ is the key, so
    // none is chosen, and nobody is told before acting on the picker.
    QVERIFY(d.messages.texts().isEmpty());
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
    QVERIFY(d.form->grid()->cursor()->columnsListed());
    QCOMPARE(d.session().source.keyColumns, QList<qint16>{1});

    // The resume cell (0, 0) is taken as the first data cell.
    QCOMPARE(grid->cursor()->currentRow(), 1);
    grid->setActiveCell(7, 2);
    QCOMPARE(grid->cursor()->currentRow(), 7);
    grid->setActiveCell(3, 1);
    QCOMPARE(grid->cursor()->currentRow(), 3);
}

// Access数据库, a roster .mdb, its table, the key ID, 打开(&O); three
// photos' names written back; mdb-export sees those three and nothing else.
void TstForm1Data::accessRosterWritesBackThroughTheWindow()
{
    WindowHarness d;
    d.build();
    const QString path = accessRoster(5);
    const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
    const MdbOracles::Tables before = MdbOracles::lumora(path);
    QVERIFY(d.openTable(path, {0}, 1));
    QVERIFY(d.dialogs.calls.contains(QStringLiteral("open:打开数据表|数据文件(*.mdb)|*.mdb")));
    QCOMPARE(d.session().source.connectString, QString());
    QCOMPARE(d.session().source.tableName, QStringLiteral("[19 MB 01 BEZAHLT ???]"));
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->rows(), 8);
    QCOMPARE(grid->roster()->cellText(0, 2), QStringLiteral("TextField"));

    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(1);
    d.w<QCheckBox>("Chekzm")->setChecked(true);
    MdbOracles::Tables expected = before;
    for (int row : {2, 4, 6}) {
        grid->setActiveCell(row, 1);
        const QString name = QStringLiteral("照片%1").arg(grid->roster()->cellText(row, 1));
        d.session().naming.photoName = name;
        QCOMPARE(d.dataTable()->writeBackForCurrentRow().text, QString());
        QCOMPARE(grid->roster()->cellText(row, 2), name + QStringLiteral(".jpg"));
        expected[table].rows[row - 1][1] = name + QStringLiteral(".jpg");
    }
    QCOMPARE(MdbOracles::lumora(path)[table].rows, expected[table].rows);
    const MdbOracles::Tables exported = MdbOracles::mdbExport(path, expected);
    QCOMPARE(exported.at(table).rows, expected.at(table).rows);
}

// A writable Access roster: table "19 MB 01 BEZAHLT ???" of 1 record and
// `added` more, on pages added at the end of the file.
QString TstForm1Data::accessRoster(int added)
{
    QDir().mkpath(m_dir.filePath(QString::number(m_copies)));
    const QString path = m_dir.filePath(QStringLiteral("%1/roster.mdb").arg(m_copies));
    if (!QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") +
                         QStringLiteral("/mdb/ucanaccess_weirdObjectNames.mdb"),
                     path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    MdbRowInserter::append(path, QStringLiteral("19 MB 01 BEZAHLT ???"), added, [](int i) {
        return std::map<int, lumora::engine::Value>{{0, lumora::engine::Value::integer(i + 2)},
                                                    {1, lumora::engine::Value::null()}};
    });
    return path;
}

void TstForm1Data::secondTableRefillsThePickers()
{
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(makeClassTable(), {0}));
    QCOMPARE(items(d.w<QComboBox>("Comzd")), (QStringList{"学号", "姓名", "班级", "照片", "成绩"}));
    // A filter on the first table.
    d.w<QComboBox>("Combo1")->setCurrentIndex(3);
    pick(d.w<QComboBox>("Combo2"), 0);
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[2]"));
    // Settings restored on the first load only: a folder typed now stays.
    d.w<QLineEdit>("Text1")->setText("/typed/later");
    d.messages.clear();

    QVERIFY(d.openTable(copyRoster(), {}));
    QCOMPARE(items(d.w<QComboBox>("Combo1")),
             (QStringList{"全部", "N__", "N__2", "N__3", "N__4", "N__5", "N__6"}));
    QCOMPARE(items(d.w<QComboBox>("Combo2")), QStringList{"全部"});
    QCOMPARE(items(d.w<QComboBox>("Comt2")), (QStringList{"N__", "N__2", "N__3", "N__4", "N__5", "N__6"}));
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), 0);
    QCOMPARE(d.form->grid()->roster()->rows(), 32);
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[30]"));
    QCOMPARE(d.w<QLineEdit>("Text1")->text(), QStringLiteral("/typed/later"));
    // The old table's filter does not follow the new table.
    QCOMPARE(d.session().source.whereClause, QString());
    QVERIFY(d.messages.texts().isEmpty());

    // The same table once more keeps the pickers and their choices.
    d.w<QComboBox>("Comfname1")->setCurrentIndex(2);
    d.w<QRadioButton>("Option2")->setChecked(true);
    d.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(d.w<QComboBox>("Comfname1")->currentIndex(), 2);
}

void TstForm1Data::filter_data()
{
    QTest::addColumn<int>("combo1");         // Combo1 entry
    QTest::addColumn<QString>("value");      // the entry of Combo2 to pick
    QTest::addColumn<QStringList>("values"); // Combo2 after the column choice
    QTest::addColumn<QStringList>("ids");    // 学号 of the rows shown
    QTest::addColumn<QString>("caption");

    // 孙七's class is blank: dBase keeps no null in a character field.
    QTest::newRow("text column") << 3 << "一班" << QStringList{"一班", "二班", "三班", ""}
                                 << QStringList{"101", "103"} << "数据表[2]";
    QTest::newRow("name with apostrophe")
        << 2 << "Mary O'Connor" << QStringList{"张三", "Mary O'Connor", "王五", "赵六", "孙七", "周八"}
        << QStringList{"102"} << "数据表[1]";
    QTest::newRow("number column") << 5 << "70" << QStringList{"88.5", "70", "91", "65.5", "77", "82"}
                                   << QStringList{"102"} << "数据表[1]";
}

void TstForm1Data::filter()
{
    QFETCH(int, combo1);
    QFETCH(QString, value);
    QFETCH(QStringList, values);
    QFETCH(QStringList, ids);
    QFETCH(QString, caption);

    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(makeClassTable(), {0}));
    auto *combo2 = d.w<QComboBox>("Combo2");
    d.w<QComboBox>("Combo1")->setCurrentIndex(combo1);
    QStringList shown = items(combo2);
    std::sort(shown.begin(), shown.end());
    std::sort(values.begin(), values.end());
    QCOMPARE(shown, values);
    QCOMPARE(combo2->currentIndex(), -1);
    QCOMPARE(d.form->grid()->roster()->rows(), 8);

    // Only the operator's pick filters.
    combo2->setCurrentIndex(combo2->findText(value));
    QCOMPARE(d.form->grid()->roster()->rows(), 8);
    pick(combo2, combo2->findText(value));
    QCOMPARE(column(d.form->grid(), 1), ids);
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), caption);
    QCOMPARE(d.form->grid()->cursor()->currentRow(), 1);
    QCOMPARE(d.form->statusText(), QString());
}

void TstForm1Data::filterBackToAllRows()
{
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(makeClassTable(), {0}));
    auto *combo1 = d.w<QComboBox>("Combo1");
    auto *combo2 = d.w<QComboBox>("Combo2");
    combo1->setCurrentIndex(3);
    pick(combo2, combo2->findText("二班"));
    QCOMPARE(column(d.form->grid(), 1), (QStringList{"102", "104"}));

    // A value no record holds (the table changed since the list was made).
    combo2->addItem("四班");
    pick(combo2, combo2->count() - 1);
    QCOMPARE(d.form->grid()->roster()->rows(), 2);
    QCOMPARE(d.form->grid()->roster()->cellText(1, 1), QStringLiteral(" [没有记录]"));
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[0]"));

    combo1->setCurrentIndex(0);
    QCOMPARE(items(combo2), QStringList{"全部"});
    pick(combo2, 0);
    QCOMPARE(d.form->grid()->roster()->rows(), 8);
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[6]"));
}

void TstForm1Data::filterValuesOfAnUnreadableColumn()
{
    WindowHarness d;
    d.build();
    const QString path = makeClassTable();
    QVERIFY(d.openTable(path, {0}));
    auto *combo2 = d.w<QComboBox>("Combo2");
    d.w<QComboBox>("Combo1")->setCurrentIndex(3);
    const QStringList before = items(combo2);
    QVERIFY(QFile::remove(path));
    d.w<QComboBox>("Combo1")->setCurrentIndex(2);
    QCOMPARE(items(combo2), before);
    QVERIFY2(d.form->statusText().startsWith(QStringLiteral("筛选值无法读取：")),
             qPrintable(d.form->statusText()));
}

void TstForm1Data::writeBackWithFilterSet()
{
    WindowHarness d;
    d.build();
    const QString path = makeClassTable();
    QVERIFY(d.openTable(path, {0}));
    d.w<QCheckBox>("Chezd")->setChecked(true);
    QVERIFY(d.w<QComboBox>("Comzd")->isEnabled());
    QVERIFY(d.w<QCheckBox>("Chekzm")->isEnabled());
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    d.w<QCheckBox>("Chekzm")->setChecked(true);
    d.messages.clear();
    d.w<QComboBox>("Combo1")->setCurrentIndex(3);
    auto *combo2 = d.w<QComboBox>("Combo2");
    pick(combo2, combo2->findText("二班"));
    TableGrid *grid = d.form->grid();

    for (int row : {2, 1}) {
        grid->setActiveCell(row, 1);
        const QString id = grid->roster()->cellText(row, 1);
        d.session().naming.photoName = id + QStringLiteral("-10001");
        QCOMPARE(d.dataTable()->writeBackForCurrentRow().text, QString());

        auto db = Database::open(path, QStringLiteral("dBASE IV"));
        const Recordset rs =
            db->openRecordset(QStringLiteral("select 照片 from [students] where 学号='%1'").arg(id));
        QCOMPARE(rs.size(), 1);
        QCOMPARE(rs.value(0, 0).toText(), id + QStringLiteral("-10001.jpg"));
        // Reloaded through the filter: the stored name shows, only 二班.
        QCOMPARE(column(grid, 1), (QStringList{"102", "104"}));
        QCOMPARE(grid->roster()->cellText(row, 4), id + QStringLiteral("-10001.jpg"));
        QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[2]"));
    }
    // Nobody else's record changed.
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    QCOMPARE(db->openRecordset(QStringLiteral("select 学号 from [students] where 照片<>''")).size(), 2);
    QVERIFY(d.messages.texts().isEmpty());
}

// The operator chose another column in Combo1 but picked no value yet: the
// reload after a write-back keeps the class filter instead of emptying the grid.
void TstForm1Data::writeBackKeepsFilterWhenNoValuePicked()
{
    WindowHarness d;
    d.build();
    const QString path = makeClassTable();
    QVERIFY(d.openTable(path, {0}));
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    d.messages.clear();
    d.w<QComboBox>("Combo1")->setCurrentIndex(3);
    auto *combo2 = d.w<QComboBox>("Combo2");
    pick(combo2, combo2->findText("一班"));
    TableGrid *grid = d.form->grid();
    QCOMPARE(column(grid, 1), (QStringList{"101", "103"}));

    d.w<QComboBox>("Combo1")->setCurrentIndex(2); // 姓名, values listed, none picked
    QCOMPARE(combo2->currentIndex(), -1);
    grid->setActiveCell(2, 1);
    d.session().naming.photoName = QStringLiteral("103-10001");
    QCOMPARE(d.dataTable()->writeBackForCurrentRow().text, QString());
    QCOMPARE(column(grid, 1), (QStringList{"101", "103"}));
    QCOMPARE(grid->roster()->cellText(2, 4), QStringLiteral("103-10001"));
}

void TstForm1Data::writeBackByLabelClick()
{
    WindowHarness d;
    d.build();
    const QString path = makeClassTable();
    QVERIFY(d.openTable(path, {0}));
    d.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.form.get()));
    TableGrid *grid = d.form->grid();
    grid->setActiveCell(3, 2);
    d.session().naming.photoName = QStringLiteral("103");
    auto *label = d.w<QLabel>("Label5");

    // Switched off: nothing written, nothing said.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(grid->roster()->cellText(3, 4), QString());
    QCOMPARE(d.form->statusText(), QString());

    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    // No photo of this row in the save folder: nothing to book.
    const QString photo = d.session().naming.photoPath;
    QVERIFY(!photo.isEmpty());
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(grid->roster()->cellText(3, 4), QString());
    QVERIFY2(d.form->statusText().contains(QStringLiteral("还没有保存")), qPrintable(d.form->statusText()));

    QDir().mkpath(QFileInfo(photo).path());
    QFile file(photo);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(grid->roster()->cellText(3, 4), QStringLiteral("103"));
    QCOMPARE(grid->cursor()->currentRow(), 3);
    QCOMPARE(grid->activeRow(), 3);
    QVERIFY(d.form->statusText().startsWith(QStringLiteral("文件名已写入数据表")));
}

void TstForm1Data::writeBackRefusedIsSaid()
{
    // The roster's photo column is one character wide: no name fits.
    WindowHarness d;
    d.build();
    const QString path = copyRoster();
    QVERIFY(d.openTable(path, {0}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(5);
    d.form->grid()->setActiveCell(4, 1);
    d.session().naming.photoName = QStringLiteral("2024000004");
    d.messages.clear();

    const QString note = d.dataTable()->writeBackForCurrentRow().text;
    QVERIFY2(note.startsWith(QStringLiteral("文件名未写入数据表：")), qPrintable(note));
    QVERIFY(d.messages.texts().isEmpty());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);

    // No target chosen (the key column was refused): said, not written.
    d.w<QComboBox>("Comzd")->setCurrentIndex(0);
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
    QCOMPARE(d.dataTable()->writeBackForCurrentRow().text,
             QStringLiteral("文件名未写入数据表：没有选择存放文件名的列"));
}

void TstForm1Data::writeBackSwitchWithoutKeys()
{
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(makeClassTable(), {}));
    auto *chezd = d.w<QCheckBox>("Chezd");
    d.messages.clear();
    chezd->click();
    QCOMPARE(d.messages.texts(), QStringList{noKeyMessage});
    QVERIFY(!chezd->isChecked());
    QVERIFY(!d.w<QComboBox>("Comzd")->isEnabled());
    QVERIFY(!d.w<QCheckBox>("Chekzm")->isEnabled());
    QCOMPARE(d.dataTable()->writeBackForCurrentRow().text, QString());
}

void TstForm1Data::targetColumnCheck_data()
{
    QTest::addColumn<QList<int>>("keyRows"); // List2 rows chosen as keys
    QTest::addColumn<int>("choice");         // Comzd entry picked
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("selected"); // Comzd's entry afterwards

    QTest::newRow("text column") << QList<int>{0} << 3 << QStringList{} << 3;
    QTest::newRow("key column") << QList<int>{0, 1} << 1 << QStringList{"姓名" + keyMessage} << -1;
    // No column stands in for the refused one: the first is most often the
    // student number.
    QTest::newRow("number column, first entry no key")
        << QList<int>{1} << 4 << QStringList{notTextMessage} << -1;
    QTest::newRow("number column, first entry a key")
        << QList<int>{0} << 4 << QStringList{notTextMessage} << -1;
}

void TstForm1Data::targetColumnCheck()
{
    QFETCH(QList<int>, keyRows);
    QFETCH(int, choice);
    QFETCH(QStringList, messages);
    QFETCH(int, selected);

    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(makeClassTable(), keyRows));
    auto *comzd = d.w<QComboBox>("Comzd");
    comzd->setCurrentIndex(2);
    d.messages.clear();
    comzd->setCurrentIndex(choice);
    QCOMPARE(d.messages.texts(), messages);
    QCOMPARE(comzd->currentIndex(), selected);
}

void TstForm1Data::numberFirstColumnIsNoTarget()
{
    DbfMaker t({{"成绩", 'N', 5, 1}, {"姓名", 'C', 20}, {"生日", 'D', 8}});
    t.add({"88.5", "张三", "2009-04-19"});
    QDir().mkpath(m_dir.filePath(QString::number(m_copies)));
    const QString path = m_dir.filePath(QStringLiteral("%1/scores.dbf").arg(m_copies));
    QVERIFY(t.write(path));
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(path, {1}));
    // Opening says nothing: the first column is no text, so none is chosen.
    QVERIFY(d.messages.texts().isEmpty());
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);

    // The operator picks a date column: told once, none chosen.
    pick(d.w<QComboBox>("Comzd"), 2);
    QCOMPARE(d.messages.texts(), QStringList{notTextMessage});
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
}

void TstForm1Data::tableThatCannotLoad()
{
    WindowHarness d;
    d.build();
    const QString path = makeClassTable();
    QVERIFY(d.openTable(path, {0}));
    d.w<QRadioButton>("Option2")->setChecked(true);
    QVERIFY(QFile::remove(path));
    d.w<QRadioButton>("Option1")->setChecked(true);
    QVERIFY(d.messages.texts().size() <= 1); // only the first load's key message
    QVERIFY2(d.form->statusText().startsWith(QStringLiteral("数据表无法载入：")),
             qPrintable(d.form->statusText()));
    // The handler ended at the load: the table-mode controls stay hidden.
    QVERIFY(d.w<QComboBox>("Comfname1")->isHidden());
}

// An Access roster cut short at a page boundary opens with the records left,
// and the status line says in Chinese that the others are missing, also
// after what is said next, until a photo is saved.
void TstForm1Data::cutShortAccessRosterSaysSo()
{
    WindowHarness d;
    d.build();
    const QString path = accessRoster(300);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 pageSize = file.peek(0x15).at(0x14) == 0 ? 2048 : 4096;
    QVERIFY(file.resize(file.size() - pageSize));
    file.close();
    QVERIFY(d.openTable(path, {0}, 1));
    const qsizetype shown = d.form->grid()->roster()->rows() - 2;
    QVERIFY2(shown > 0 && shown < 301, qPrintable(QString::number(shown)));
    const QString missing = QStringLiteral("条记录缺少 %1 条").arg(301 - shown);
    QVERIFY2(d.form->statusText().contains(missing), qPrintable(d.form->statusText()));
    d.form->setStatus(QStringLiteral("已继续上次的拍摄设置"));
    QVERIFY2(d.form->statusText().contains(missing), qPrintable(d.form->statusText()));
    for (const char *button : {"Command1", "Command3", "Command8"}) // open, take, save
        d.w<QPushButton>(button)->click();
    QVERIFY2(!d.form->statusText().contains(missing), qPrintable(d.form->statusText()));
}

QTEST_MAIN(TstForm1Data)
#include "tst_form1data.moc"
