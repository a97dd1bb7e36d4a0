// Who has a photo (one listing per folder, checked against a lookup per
// row) and what the roster check says about a real dBase roster: the width
// of the write-back column, names the save would rewrite, photos already
// there, a roster that is read-only or held open.

#include "DbfMaker.h"
#include "LockHolder.h"
#include "WindowHarness.h"

#include "app/RosterCheckWindow.h"
#include "data/DataSource.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "naming/PhotoRoll.h"
#include "naming/RosterCheck.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
}

NamingInputs tableNaming(const QString &folder)
{
    NamingInputs in;
    in.saveFolder = folder;
    in.tableMode = true;
    in.name1Index = 1; // XM
    in.format = QStringLiteral("jpg");
    return in;
}

// XH C10 key, XM C20 name, BJ C10 class, ZP C8 photo name.
struct Roster
{
    explicit Roster(const QList<QStringList> &rows)
    {
        DbfMaker maker({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}, {"ZP", 'C', 8}});
        for (const QStringList &row : rows)
            maker.add(row);
        path = dir.filePath(QStringLiteral("roster.dbf"));
        if (!maker.write(path))
            qFatal("cannot write the roster");
        ds.databasePath = path;
        ds.connectString = QStringLiteral("dBASE IV");
        ds.tableName = QStringLiteral("[roster]");
        ds.fieldTypes = {10, 10, 10, 10};
        ds.keyColumns = {1};
        ds.keyCount = 1;
        LoadTable(*OpenDatabase(ds), ds, grid);
    }
    QStringList check(const NamingInputs &naming, bool writeBack = false) const
    {
        RosterCheckInput in{naming, {}};
        in.writeBack.enabled = writeBack;
        in.writeBack.targetIndex = 3; // ZP
        in.writeBack.withExtension = true;
        in.writeBack.extension = QStringLiteral("jpg");
        return CheckRoster(ds, grid, in);
    }
    QTemporaryDir dir;
    QTemporaryDir photos;
    QString path;
    DataSource ds;
    RosterModel grid;
};

} // namespace

class TstRosterCheck : public QObject
{
    Q_OBJECT
private slots:
    void rollMatchesALookupPerRow_data();
    void rollMatchesALookupPerRow();
    void rollSkipsWhatIsNobody();
    void findings_data();
    void findings();
    void readOnlyRoster();
    void heldOpenRoster();
    void checkThroughTheWindow();
};

void TstRosterCheck::rollMatchesALookupPerRow_data()
{
    QTest::addColumn<bool>("numbered");
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<bool>("twoParts");
    QTest::newRow("plain") << false << false << false;
    QTest::newRow("class folders") << false << true << false;
    QTest::newRow("numbered") << true << false << false;
    QTest::newRow("numbered in class folders") << true << true << false;
    QTest::newRow("name and class, numbered") << true << false << true;
}

// Random rosters with shared names, a random part photographed: the roll
// must agree with asking the file system about every row on its own.
void TstRosterCheck::rollMatchesALookupPerRow()
{
    QFETCH(bool, numbered);
    QFETCH(bool, subFolders);
    QFETCH(bool, twoParts);
    QRandomGenerator random(numbered * 2 + subFolders + 7);
    const QStringList names = {"张三", "李四", "王五", "a/b", "赵六1", "赵六", "", "孙七"};
    for (int round = 0; round < 20; ++round) {
        QTemporaryDir save;
        RosterModel grid;
        RosterCursor cursor;
        grid.setCols(4);
        grid.setCellText(0, 1, "XH");
        grid.setCellText(0, 2, "XM");
        grid.setCellText(0, 3, "BJ");
        const int rows = 1 + random.bounded(60);
        for (int r = 0; r < rows; ++r)
            grid.appendRow({QString::number(r), names.at(random.bounded(names.size())),
                            QStringLiteral("%1班").arg(random.bounded(3))});
        grid.appendRow({});
        NamingInputs in = tableNaming(save.path());
        in.subFolder1On = subFolders;
        in.subFolder1Index = 2;
        in.numberOn = numbered;
        in.name2On = twoParts;
        in.name2Index = 2;
        in.numberText = QStringLiteral("10001");
        // Photograph some rows as the save does: under the path formed.
        for (int r = 1; r <= rows; ++r) {
            if (random.bounded(3) != 0)
                continue;
            cursor.setCurrentRow(r);
            in.numberText = QString::number(10001 + random.bounded(50));
            const QString path = FormPhotoPath(in, currentRowCells(grid, cursor), {}).state.photoPath;
            if (!path.isEmpty())
                touch(path);
        }
        const PhotoRoll roll = PhotoRoll::ofRoster(grid, in);
        QCOMPARE(roll.people(), rows);
        int taken = 0;
        for (int r = 1; r <= rows; ++r) {
            cursor.setCurrentRow(r);
            NamingInputs bare = in;
            bare.numberOn = false;
            const NamingState s = FormPhotoPath(bare, currentRowCells(grid, cursor), {}).state;
            bool exists = false;
            if (!s.photoName.isEmpty() && !numbered) {
                exists = QFileInfo::exists(s.photoPath);
            } else if (!s.photoName.isEmpty()) {
                const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(s.photoName) +
                                                 QStringLiteral("[0-9]+\\.jpg$"));
                for (const QString &file : QDir(s.photoFolder).entryList(QDir::Files))
                    exists = exists || pattern.match(file).hasMatch();
            }
            QVERIFY2(
                roll.isTaken(r) == exists,
                qPrintable(QStringLiteral("round %1 row %2 %3").arg(round).arg(r).arg(grid.cellText(r, 2))));
            taken += exists;
        }
        QCOMPARE(roll.takenCount(), taken);
        QVERIFY(!roll.isTaken(0));
        QVERIFY(!roll.isTaken(rows + 1));
    }
}

void TstRosterCheck::rollSkipsWhatIsNobody()
{
    QTemporaryDir save;
    touch(save.filePath(QStringLiteral(".jpg")));
    touch(save.filePath(QStringLiteral(" [没有记录].jpg")));
    RosterModel grid;
    grid.setCols(4);
    grid.setCellText(0, 2, "XM");
    // An empty result: the marker row alone.
    grid.setRows(2);
    grid.setCellText(1, 1, NoRecordsMarker());
    QCOMPARE(PhotoRoll::ofRoster(grid, tableNaming(save.path())).people(), 0);
    // One person with an empty name, then the trailing empty row.
    grid.setRows(1);
    grid.appendRow({"1", "", "一班"});
    grid.appendRow({});
    const PhotoRoll roll = PhotoRoll::ofRoster(grid, tableNaming(save.path()));
    QCOMPARE(roll.people(), 1);
    QCOMPARE(roll.takenCount(), 0);
    // Ordinary mode has no roster.
    NamingInputs ordinary = tableNaming(save.path());
    ordinary.tableMode = false;
    QCOMPARE(PhotoRoll::ofRoster(grid, ordinary).people(), 0);
}

void TstRosterCheck::findings_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<bool>("writeBack");
    QTest::addColumn<bool>("numbered");
    QTest::addColumn<QStringList>("expected"); // what the lines hold, in order
    const QList<QStringList> fine = {{"1", "张三", "一班", ""}, {"2", "李四", "二班", ""}};
    QTest::newRow("nothing to say") << fine << true << false << QStringList();
    // ZP holds 8 bytes: "张三.jpg" needs 8, "李四光.jpg" 10 (GBK).
    QTest::newRow("one byte over the column")
        << QList<QStringList>{{"1", "张三", "一班", ""}, {"2", "李四光", "二班", ""}, {"3", "Tom1", "", ""}}
        << true << false
        << QStringList{"第 2 行 李四光（XH 2）：文件名“李四光.jpg”写不进列“ZP”", "需要 10 个字节"};
    QTest::newRow("width not checked with the write-back off")
        << QList<QStringList>{{"1", "李四光", "一班", ""}} << false << false << QStringList();
    QTest::newRow("slash and control character")
        << QList<QStringList>{{"1", "a/b", "一班", ""}, {"2", "c\td", "二班", ""}} << false << false
        << QStringList{"第 1 行 a/b（XH 1）：“a/b”含有“/”或控制字符，保存时写作“a／b”",
                       "第 2 行 c\td（XH 2）：“c\td”含有“/”或控制字符，保存时写作“c_d”"};
    const QList<QStringList> namesakes = {{"1", "张三", "一班", ""}, {"2", "张三", "二班", ""}};
    QTest::newRow("namesakes") << namesakes << false << false
                               << QStringList{"第 1 行 张三（XH 1）：照片文件名与第 2 行相同"};
    QTest::newRow("namesakes told apart by the number") << namesakes << false << true << QStringList();
}

void TstRosterCheck::findings()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(bool, writeBack);
    QFETCH(bool, numbered);
    QFETCH(QStringList, expected);
    const Roster r(rows);
    NamingInputs naming = tableNaming(r.photos.path());
    naming.numberOn = numbered;
    const QStringList lines = r.check(naming, writeBack);
    const QString all = lines.join(QLatin1Char('\n'));
    int at = 0;
    for (const QString &piece : expected) {
        const int found = int(all.indexOf(piece, at));
        QVERIFY2(found >= 0, qPrintable(QStringLiteral("“%1” not in:\n%2").arg(piece, all)));
        at = found + int(piece.size());
    }
    if (expected.isEmpty())
        QVERIFY2(lines.isEmpty(), qPrintable(all));
}

void TstRosterCheck::readOnlyRoster()
{
    if (::geteuid() == 0)
        QSKIP("the superuser can write a read-only file");
    const Roster r({{"1", "张三", "一班", ""}});
    QVERIFY(QFile::setPermissions(r.path, QFile::ReadOwner));
    const QStringList lines = r.check(tableNaming(r.photos.path()));
    QCOMPARE(lines, QStringList{QStringLiteral("数据表文件是只读的，文件名无法写入：") + r.path});
}

void TstRosterCheck::heldOpenRoster()
{
    const Roster r({{"1", "张三", "一班", ""}});
    // A photo already there, and an office program's lock file beside the roster.
    touch(r.photos.filePath(QStringLiteral("张三.jpg")));
    touch(r.dir.filePath(QStringLiteral(".~lock.roster.dbf#")));
    QStringList lines = r.check(tableNaming(r.photos.path()));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(
        lines.at(0).startsWith(QStringLiteral("数据表文件正被其他程序打开（锁定文件 .~lock.roster.dbf#）")),
        qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("第 1 行 张三（XH 1）：照片已经存在，再保存会覆盖它：") +
                              r.photos.filePath(QStringLiteral("张三.jpg")));
    QVERIFY(QFile::remove(r.dir.filePath(QStringLiteral(".~lock.roster.dbf#"))));
    QVERIFY(RosterHeldOpen(r.path).isEmpty());

    // A lock another process holds on the table itself.
    LockHolder other(r.path, 0, 1);
    QVERIFY(other.locked());
    const pid_t child = other.pid();
    const QString held = RosterHeldOpen(r.path);
    other.release();
    QCOMPARE(held, QStringLiteral("进程 %1 锁定了它").arg(child));
    QVERIFY(RosterHeldOpen(r.path).isEmpty());
}

// The check through the window on a filtered roster: each line names its
// grid row once, as the grid numbers it, and the person on it; the list is
// as wide as its lines; a double-click takes the grid to the row; a clean
// roster opened next leaves nothing of the check behind.
void TstRosterCheck::checkThroughTheWindow()
{
    clearStore();
    QTemporaryDir dir;
    const auto write = [&dir](const QString &name, const QList<QStringList> &rows) {
        DbfMaker maker({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}, {"ZP", 'C', 8}});
        for (const QStringList &row : rows)
            maker.add(row);
        const QString path = dir.filePath(name);
        return maker.write(path) ? path : QString();
    };
    const QString roster = write(QStringLiteral("roster.dbf"), {{"1", "张三", "一班", ""},
                                                                {"2", "李四", "二班", ""},
                                                                {"", "王五", "二班", ""},
                                                                {"4", "赵/六", "二班", ""},
                                                                {"4", "孙七", "二班", ""},
                                                                {"6", "周八", "一班", ""}});
    WindowHarness d;
    d.build();
    d.activate();
    QVERIFY(d.openTable(roster, {0}));
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    // Only 二班: grid rows 1 to 4 hold records 2 to 5.
    d.w<QComboBox>("Combo1")->setCurrentIndex(3);
    auto *combo2 = d.w<QComboBox>("Combo2");
    pick(combo2, combo2->findText(QStringLiteral("二班")));
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->rows(), 4 + 2);
    d.w<QAction>("checktable")->trigger();
    QPointer<RosterCheckWindow> window = d.form->findChild<RosterCheckWindow *>();
    QVERIFY(window && window->isVisible());
    QListWidget *list = window->list();
    QCOMPARE(list->count(), window->problems().size());

    static const QRegularExpression form(QStringLiteral("^第 (\\d+) 行 ([^：]+)：(.*)$"));
    QMap<int, QStringList> byRow;
    for (const QString &line : window->problems()) {
        const QRegularExpressionMatch m = form.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        const int row = m.captured(1).toInt();
        QVERIFY2(!m.captured(3).startsWith(QStringLiteral("第 ")), qPrintable(line));
        QCOMPARE(grid->model()->headerData(row - 1, Qt::Vertical).toString().section(u' ', 0, 0),
                 QString::number(row));
        QVERIFY2(m.captured(2).startsWith(grid->roster()->cellText(row, 2)), qPrintable(line));
        byRow[row] << m.captured(3);
    }
    QCOMPARE(byRow.keys(), (QList<int>{2, 3, 4}));
    // The empty row after the last person is nobody: no number.
    QCOMPARE(grid->model()->headerData(grid->roster()->rows() - 2, Qt::Vertical).toString(), QString());
    QVERIFY(byRow[2].join(u'|').contains(QStringLiteral("主键“XH”为空")));
    QVERIFY(byRow[3].join(u'|').contains(QStringLiteral("主键与第 4 行相同")));
    QVERIFY(byRow[4].join(u'|').contains(QStringLiteral("主键与第 3 行相同")));
    // Every line shows whole.
    QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);

    const int last = list->count() - 1;
    const int row = window->problems().at(last).section(u' ', 1, 1).toInt();
    grid->setActiveCell(1, 1);
    // A double-click as QTest makes one: the first click, then the second.
    const QPoint at = list->visualItemRect(list->item(last)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(grid->activeRow(), row);
    QCOMPARE(grid->cursor()->currentRow(), row);

    // A clean roster next: the check of the old one is gone from the window.
    QVERIFY(d.openTable(write(QStringLiteral("clean.dbf"), {{"1", "张三", "一班", ""}}), {0}));
    QTRY_VERIFY(!window);
    QVERIFY2(!d.form->statusText().contains(QStringLiteral("问题")), qPrintable(d.form->statusText()));
}

QTEST_MAIN(TstRosterCheck)
#include "tst_rostercheck.moc"
