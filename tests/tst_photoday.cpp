// A photo day through the real main window and the real table engine, on
// rosters holding what goes wrong in real ones: blank keys, shared keys,
// keys differing only in letter case, a filter on the photo column, a second
// roster browsed to and cancelled.

#include "DbfMaker.h"
#include "MdbRowInserter.h"
#include "WindowHarness.h"

#include "app/PendingPanel.h"
#include "app/PendingStore.h"
#include "app/PhotoDayPanel.h"
#include "app/RosterResume.h"
#include "app/SettingsBinding.h"
#include "app/SettingsStore.h"
#include "naming/FormPhotoPath.h"
#include "naming/SaveFlow.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumora::engine;

namespace {

// XH is the key, XM names the photo, ZP takes the photo's name.
const QList<QStringList> kAwkward = {
    {"101", "张三", "一班", ""}, {"", "李四", "一班", ""}, // blank key
    {"102", "王五", "二班", ""}, {"", "赵六", "二班", ""}, // blank key
    {"105", "孙八", "一班", ""},                           // shared key
    {"105", "周九", "二班", ""},                           // shared key
    {"a7", "钱七", "一班", ""},                            // the next one's key in another letter case
    {"A7", "吴十", "二班", ""},  {"103", "郑一", "一班", "old.jpg"}, // photographed on an earlier day
    {"104", "冯二", "二班", ""},
};

bool writeRoster(const QString &path, const QList<QStringList> &rows)
{
    DbfMaker t({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}, {"ZP", 'C', 20}});
    for (const QStringList &row : rows)
        t.add(row);
    return t.write(path);
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every record of the roster as text, read straight from the file.
QList<QStringList> recordsOf(const QString &path)
{
    const std::unique_ptr<Database> db = Database::open(path, QStringLiteral("dBASE IV"));
    const Recordset rs = db->openRecordset(QStringLiteral("[roster]"));
    QList<QStringList> out;
    for (qsizetype r = 0; r < rs.size(); ++r) {
        QStringList texts;
        for (int f = 0; f < rs.fields().size(); ++f)
            texts << rs.value(r, f).toText();
        out << texts;
    }
    return out;
}

QList<QStringList> gridCells(const RosterModel &grid)
{
    QList<QStringList> out;
    for (int r = 0; r < grid.rows(); ++r) {
        QStringList texts;
        for (int c = 1; c < grid.cols(); ++c)
            texts << grid.cellText(r, c);
        out << texts;
    }
    return out;
}

// Another program holding a lock on the whole table, as a dBase program
// does while it writes, until release() or the end of the test.
class TableLock
{
public:
    explicit TableLock(const QString &path)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        char ok = '0';
        m_held = m_child > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~TableLock() { release(); }
    bool held() const { return m_held; }
    void release()
    {
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
        m_child = -1;
    }

private:
    pid_t m_child = -1;
    bool m_held = false;
};

// Names from XM, written into ZP with the extension, photos into `photos`.
void writeNamesBack(WindowHarness &d, const QString &photos)
{
    d.w<QLineEdit>("Text1")->setText(photos);
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    d.w<QCheckBox>("Chekzm")->setChecked(true);
}

// Take and save a photo of the person on grid row `row`; the status line after.
QString photograph(WindowHarness &d, int row)
{
    d.form->grid()->setActiveCell(row, 1);
    d.w<QPushButton>("Command3")->click();
    d.w<QPushButton>("Command8")->click();
    const QString status = d.form->statusText();
    d.w<QPushButton>("Command4")->click();
    return status;
}

PendingPanel *pendingOf(WindowHarness &d)
{
    auto *panel = d.form->findChild<PendingPanel *>();
    if (!panel)
        qFatal("the window keeps no names for later");
    return panel;
}

// The day settings a restart must not lose, as the controls show them.
QStringList daySettings(const WindowHarness &d)
{
    QStringList shown;
    for (const char *name :
         {"Text1", "Comfname1", "Chefname2", "Comfname2", "Chekb1", "Comkb1", "Chekb2",  "Comkb2",
          "Comgs", "Cheqbm",    "Texqbm",    "Chekzm",    "Comzd",  "Chezd",  "Comtext", "Comt1",
          "Cheta", "Comt2",     "Textt",     "Texleft",   "Textop", "Check1"})
        shown << QLatin1String(name) + QLatin1Char('=') + SettingsBinding::storedText(d.w<QWidget>(name));
    return shown;
}

// One column of every record, read afresh from the roster's file.
QStringList columnOf(const DataSource &ds, int field)
{
    const std::unique_ptr<Database> db = OpenDatabase(ds);
    const Recordset rs = db->openRecordset(ds.tableName);
    QStringList out;
    for (qsizetype r = 0; r < rs.size(); ++r)
        out << rs.value(r, field).toText();
    return out;
}

// Every file under a folder, relative to it.
QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Takes and saves one photo for each of the rows, from the first given.
void photographRows(WindowHarness &d, int first, int count)
{
    TableGrid *grid = d.form->grid();
    grid->setActiveCell(first, 1);
    for (int i = 0; i < count; ++i) {
        if (d.button("Command4")->isEnabled())
            d.button("Command4")->click();
        else
            d.button("Command1")->click();
        d.button("Command3")->click();
        d.button("Command8")->click();
    }
}

} // namespace

class TstPhotoDay : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void everyoneIsPhotographedAndOnlyUniqueKeysAreWritten();
    void cancelledBrowseLeavesTheRosterInCharge();
    void newRosterStartsOnItsFirstPerson();
    void namesRefusedByALockAreWrittenOnceItGoes();
    void keptNamesFindTheirPeopleInTheMendedRoster();
    void restartResumesTheDay_data();
    void restartResumesTheDay();
    void keyColumnNeverTakesTheName();
    void blankNameIsRefusedAndChecked();

private:
    QString roster(const QString &folder, const QList<QStringList> &rows = kAwkward);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstPhotoDay::init()
{
    clearStore();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TstPhotoDay::roster(const QString &folder, const QList<QStringList> &rows)
{
    QDir().mkpath(m_dir->filePath(folder));
    const QString path = m_dir->filePath(folder + QStringLiteral("/roster.dbf"));
    return writeRoster(path, rows) ? path : QString();
}

void TstPhotoDay::everyoneIsPhotographedAndOnlyUniqueKeysAreWritten()
{
    // GIVEN the roster open with XH as key, the name into ZP, and the grid
    // filtered on the people without a photo (ZP = '')
    WindowHarness d;
    d.build();
    const QString path = roster(QStringLiteral("day"));
    const QList<QStringList> before = recordsOf(path);
    QVERIFY(d.openTable(path, {0}));
    const QString photos = m_dir->filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);
    d.w<QLineEdit>("Text1")->setText(photos);
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    d.w<QCheckBox>("Chekzm")->setChecked(true);
    auto *combo1 = d.w<QComboBox>("Combo1");
    auto *combo2 = d.w<QComboBox>("Combo2");
    combo1->setCurrentIndex(4);
    pick(combo2, combo2->findText(QString()));
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->rows(), 9 + 2);
    QCOMPARE(grid->cursor()->currentRow(), 1);

    // WHEN the operator takes and saves one photo per row until the end
    d.w<QPushButton>("Command1")->click();
    QStringList photographed;
    QStringList notes;
    for (int turn = 0; turn < 20 && grid->cursor()->currentRow() < grid->roster()->rows() - 1; ++turn) {
        if (turn > 0)
            d.w<QPushButton>("Command4")->click();
        d.w<QPushButton>("Command3")->click();
        photographed << grid->roster()->cellText(grid->cursor()->currentRow(), 2);
        d.w<QPushButton>("Command8")->click();
        notes << d.form->statusText();
    }

    // THEN everyone shown got a photo, in grid order, nobody twice
    QCOMPARE(photographed,
             (QStringList{"张三", "李四", "王五", "赵六", "孙八", "周九", "钱七", "吴十", "冯二"}));
    for (const QString &name : std::as_const(photographed))
        QCOMPARE(QImageReader(photos + QLatin1Char('/') + name + QStringLiteral(".jpg")).size(),
                 QSize(150, 200));
    QCOMPARE(QDir(photos).entryList(QDir::Files | QDir::Hidden).size(), photographed.size());
    // ... the ambiguous and blank keys were said, not written
    QVERIFY2(notes.at(1).contains(QStringLiteral("主键“XH”为空")), qPrintable(notes.at(1)));
    QVERIFY2(notes.at(4).contains(QStringLiteral("匹配到 2 条记录")), qPrintable(notes.at(4)));
    QVERIFY2(notes.at(5).contains(QStringLiteral("匹配到 2 条记录")), qPrintable(notes.at(5)));
    // ... only the people whose key picks them alone have their name in the
    // roster (a dBase table tells a7 from A7), and no other field of any
    // record changed
    QList<QStringList> expected = before;
    for (int record : {0, 2, 6, 7, 9})
        expected[record][3] = before.at(record).at(1) + QStringLiteral(".jpg");
    QCOMPARE(recordsOf(path), expected);
    // ... and the grid shows exactly what a full reload through the filter shows
    DataSource ds = d.session().source;
    RosterModel reloaded;
    LoadTable(*OpenDatabase(ds), ds, reloaded);
    QCOMPARE(gridCells(*grid->roster()), gridCells(reloaded));
    QCOMPARE(d.w<QGroupBox>("Frame4")->title(), QStringLiteral("数据表[4]"));
}

void TstPhotoDay::cancelledBrowseLeavesTheRosterInCharge()
{
    WindowHarness d;
    d.build();
    const QString first = roster(QStringLiteral("first"));
    const QString second = roster(QStringLiteral("second"));
    const QByteArray secondBefore = bytesOf(second);
    QVERIFY(d.openTable(first, {0}));
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(3);
    d.w<QCheckBox>("Chekzm")->setChecked(true);

    // The open-table window: another kind, the second roster, its table,
    // then 取消.
    d.w<QPushButton>("Command9")->click();
    QPointer<excelto> window = d.form->findChild<excelto *>();
    QVERIFY(window);
    window->findChild<QRadioButton *>(QStringLiteral("Option1_2"))->click();
    d.dialogs.files.enqueue(second);
    window->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    window->findChild<QListWidget *>(QStringLiteral("List1"))->setCurrentRow(0);
    window->findChild<QRadioButton *>(QStringLiteral("Option1_0"))->click();
    window->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    QTRY_VERIFY(window.isNull());

    // The filter still works on the first roster...
    auto *combo1 = d.w<QComboBox>("Combo1");
    auto *combo2 = d.w<QComboBox>("Combo2");
    combo1->setCurrentIndex(3);
    pick(combo2, combo2->findText(QStringLiteral("二班")));
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->rows(), 5 + 2);
    QCOMPARE(grid->roster()->cellText(1, 2), QStringLiteral("王五"));

    // ... and so does the write-back: the name goes into the first roster.
    d.w<QPushButton>("Command1")->click();
    d.w<QPushButton>("Command3")->click();
    d.w<QPushButton>("Command8")->click();
    QCOMPARE(recordsOf(first).at(2).at(3), QStringLiteral("王五.jpg"));
    QCOMPARE(bytesOf(second), secondBefore);
}

void TstPhotoDay::newRosterStartsOnItsFirstPerson()
{
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(roster(QStringLiteral("a")), {0}));
    TableGrid *grid = d.form->grid();
    grid->setActiveCell(6, 2);
    QCOMPARE(grid->cursor()->currentRow(), 6);
    QVERIFY(d.openTable(roster(QStringLiteral("b"), kAwkward.mid(0, 8)), {0}));
    QCOMPARE(grid->roster()->rows(), 8 + 2);
    QCOMPARE(grid->cursor()->currentRow(), 1);
    QCOMPARE(grid->activeRow(), 1);
}

// Another program holds the roster through three saves and a restart: the
// three names wait in the list, survive the restart, and are written by
// themselves once the lock is gone, into exactly those three records.
void TstPhotoDay::namesRefusedByALockAreWrittenOnceItGoes()
{
    const QList<QStringList> people = {{"101", "张三", "一班", ""},
                                       {"102", "王五", "二班", ""},
                                       {"103", "郑一", "一班", ""},
                                       {"104", "冯二", "二班", ""}};
    const QString path = roster(QStringLiteral("locked"), people);
    const QString photos = m_dir->filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);
    const QByteArray before = bytesOf(path);
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(path, {0}));
    writeNamesBack(d, photos);
    d.w<QPushButton>("Command1")->click();

    TableLock lock(path);
    QVERIFY(lock.held());
    QStringList saves;
    for (int row = 1; row <= 3; ++row)
        saves << photograph(d, row);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(saves.at(i).contains(QStringLiteral("数据表被其他程序锁定，已记入“未写入 %1”").arg(i + 1)),
                 qPrintable(saves.at(i)));
    QCOMPARE(bytesOf(path), before);
    auto *count = d.w<QPushButton>("Labwxr");
    QCOMPARE(count->text(), QStringLiteral("未写入 3"));
    QVERIFY(count->isVisibleTo(d.form.get()));
    QStringList persons;
    for (const PendingWriteBack &e : pendingOf(d)->entries()) {
        persons << e.person;
        QVERIFY2(e.waitsForLock && e.reason.contains(QStringLiteral("锁定")), qPrintable(e.reason));
    }
    QCOMPARE(persons, (QStringList{"张三（XH 101）", "王五（XH 102）", "郑一（XH 103）"}));

    // The program is closed and started again while the lock is held.
    d.form->close();
    d.build();
    QVERIFY(d.openTable(path, {0}));
    count = d.w<QPushButton>("Labwxr");
    QCOMPARE(count->text(), QStringLiteral("未写入 3"));
    QVERIFY(count->isVisibleTo(d.form.get()));
    QTest::qWait(2 * PendingPanel::kLockPollMs);
    QCOMPARE(pendingOf(d)->entries().size(), 3);
    QCOMPARE(bytesOf(path), before);

    lock.release();
    QTRY_COMPARE_WITH_TIMEOUT(pendingOf(d)->entries().size(), 0, 4 * PendingPanel::kLockPollMs);
    QList<QStringList> expected = people;
    for (int r = 0; r < 3; ++r)
        expected[r][3] = people.at(r).at(1) + QStringLiteral(".jpg");
    QCOMPARE(recordsOf(path), expected);
    for (int row = 1; row <= 3; ++row)
        QCOMPARE(d.form->grid()->roster()->cellText(row, 4), expected.at(row - 1).at(3));
    QVERIFY(!count->isVisibleTo(d.form.get()));
    QVERIFY2(d.form->statusText().contains(QStringLiteral("已写入 3 个")), qPrintable(d.form->statusText()));
    QVERIFY(PendingStore::load(path, QStringLiteral("[roster]")).isEmpty());
}

// Names refused for blank and shared keys wait until the operator mends
// the roster elsewhere; 补写文件名 then finds each person by the rest of
// their row, even where a key that was theirs is now another person's, and
// leaves the one still without a key waiting.
void TstPhotoDay::keptNamesFindTheirPeopleInTheMendedRoster()
{
    const QString path = roster(QStringLiteral("mend"));
    const QString photos = m_dir->filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(path, {0}));
    writeNamesBack(d, photos);
    d.w<QPushButton>("Command1")->click();
    // 李四 and 赵六 have no key, 孙八 and 周九 share 105.
    for (int row : {2, 4, 5, 6})
        photograph(d, row);
    QCOMPARE(d.w<QPushButton>("Labwxr")->text(), QStringLiteral("未写入 4"));

    // Mended elsewhere: 李四 takes 105, which 孙八 gives up for 108, and
    // 周九 gets 107; 赵六 is still without a key.
    QList<QStringList> mended = kAwkward;
    mended[1][0] = QStringLiteral("105");
    mended[4][0] = QStringLiteral("108");
    mended[5][0] = QStringLiteral("107");
    QVERIFY(writeRoster(path, mended));
    d.w<QAction>("buxie")->trigger();

    QList<QStringList> expected = mended;
    for (int record : {1, 4, 5})
        expected[record][3] = mended.at(record).at(1) + QStringLiteral(".jpg");
    QCOMPARE(recordsOf(path), expected);
    const QList<PendingWriteBack> left = pendingOf(d)->entries();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.at(0).person, QStringLiteral("赵六（XH （空））"));
    QVERIFY2(left.at(0).reason.contains(QStringLiteral("主键“XH”为空")), qPrintable(left.at(0).reason));
    QCOMPARE(d.w<QPushButton>("Labwxr")->text(), QStringLiteral("未写入 1"));
    QVERIFY2(d.form->statusText().contains(QStringLiteral("已写入 3 个")), qPrintable(d.form->statusText()));
}

void TstPhotoDay::restartResumesTheDay_data()
{
    QTest::addColumn<QString>("roster"); // which roster file
    QTest::addColumn<int>("kind");       // the open-table window's kind button
    QTest::addColumn<int>("key");        // field positions: the key,
    QTest::addColumn<int>("name");       // the name,
    QTest::addColumn<int>("folder");     // the sub-folder (-1: none)
    QTest::addColumn<int>("target");     // and the column the name goes into
    QTest::newRow("dBase") << "dbf" << 3 << 0 << 1 << 2 << 3;
    QTest::newRow("Excel, made by LibreOffice") << "xls" << 0 << 0 << 1 << 2 << 5;
    QTest::newRow("Access") << "mdb" << 1 << 0 << 0 << -1 << 1;
}

// Half a day, a restart (and a run at lunch that opened no roster), the
// resume, the other half: the second half's photos and names land exactly
// where the first half's did.
void TstPhotoDay::restartResumesTheDay()
{
    QFETCH(QString, roster);
    QFETCH(int, kind);
    QFETCH(int, key);
    QFETCH(int, name);
    QFETCH(int, folder);
    QFETCH(int, target);

    QString path = m_dir->filePath(QStringLiteral("roster.") + roster);
    if (roster == QLatin1String("dbf")) {
        DbfMaker t({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}, {"ZP", 'C', 40}});
        for (const QStringList &row : kAwkward.mid(6))
            t.add(row);
        QVERIFY(t.write(path));
    } else {
        const QString source = roster == QLatin1String("xls")
                                   ? QStringLiteral("/generated/roster_zh_30.xls")
                                   : QStringLiteral("/mdb/ucanaccess_weirdObjectNames.mdb");
        QVERIFY(QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + source, path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        if (roster == QLatin1String("mdb"))
            MdbRowInserter::append(path, QStringLiteral("19 MB 01 BEZAHLT ???"), 4, [](int i) {
                return std::map<int, Value>{{0, Value::integer(i + 2)}, {1, Value::null()}};
            });
    }
    const QString photos = m_dir->filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);

    // GIVEN the morning: the roster opened for the first time (no question),
    // the day set up, two people photographed
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(path, {key}, kind));
    QVERIFY(d.messages.texts().isEmpty());
    d.w<QLineEdit>("Text1")->setText(photos);
    d.w<QComboBox>("Comfname1")->setCurrentIndex(name);
    if (folder >= 0) {
        d.w<QCheckBox>("Chekb1")->setChecked(true);
        d.w<QComboBox>("Comkb1")->setCurrentIndex(folder);
    }
    d.w<QComboBox>("Comgs")->setCurrentIndex(1);
    d.w<QCheckBox>("Cheqbm")->setChecked(true);
    d.w<QCheckBox>("Chezd")->setChecked(true);
    pick(d.w<QComboBox>("Comzd"), target);
    d.w<QCheckBox>("Chekzm")->setChecked(true);
    d.w<QCheckBox>("Check1")->setChecked(true);
    d.w<QComboBox>("Comtext")->setCurrentIndex(2);
    d.w<QLineEdit>("Textt")->setText(QStringLiteral("期末"));
    photographRows(d, 1, 2);
    const DataSource ds = d.session().source;
    const QStringList before = columnOf(ds, target);
    const QStringList morning = daySettings(d);
    QVERIFY(d.messages.texts().isEmpty());
    d.form->close();
    const QString storedName = SettingsStore::get(QStringLiteral("zpnamecom1"), QString());
    QCOMPARE(storedName, QString::number(name));

    // ... a run at lunch that ends before any roster is loaded keeps the
    // stored column choices
    d.form.reset();
    d.build();
    d.form->close();
    QCOMPARE(SettingsStore::get(QStringLiteral("zpnamecom1"), QString()), storedName);

    // WHEN the program starts again: as before, nothing of the day is back
    // until the roster is opened; then the resume is offered, Yes by default
    d.form.reset();
    d.build();
    QCOMPARE(d.w<QComboBox>("Comgs")->currentText(), QStringLiteral("jpg"));
    QVERIFY(!d.w<QCheckBox>("Chezd")->isChecked());
    QVERIFY(d.openTable(path, {key}, kind));
    QCOMPARE(d.messages.messages.size(), 1);
    QVERIFY(d.messages.messages.first().question);
    QVERIFY(d.messages.messages.first().text.startsWith(kResumeQuestion));
    QCOMPARE(d.messages.messages.first().button, MessageService::Default::Yes);

    // THEN the day's settings are back, the photos of the morning counted
    QCOMPARE(daySettings(d), morning);
    auto *progress = d.form->findChild<QLabel *>(QStringLiteral("Labyipai"));
    QTRY_VERIFY2(progress->text().startsWith(QStringLiteral("已拍 2 / ")), qPrintable(progress->text()));

    // ... and the afternoon's photos and names land where the morning's did
    photographRows(d, 3, 2);
    TableGrid *grid = d.form->grid();
    QStringList expectedFiles;
    QStringList expectedColumn = before;
    for (int row = 1; row <= 4; ++row) {
        const QString stored =
            grid->roster()->cellText(row, name + 1) + QString::number(10000 + row) + QStringLiteral(".bmp");
        expectedFiles << (folder >= 0 ? grid->roster()->cellText(row, folder + 1) + QLatin1Char('/')
                                      : QString()) +
                             stored;
        expectedColumn[row - 1] = stored;
    }
    expectedFiles.sort();
    QCOMPARE(filesUnder(photos), expectedFiles);
    QCOMPARE(columnOf(ds, target), expectedColumn);
    QCOMPARE(d.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10005"));
}

// The roster opened without keys, the write-back refused; the same table
// opened again with 学号 as key: the write-back column the pickers kept (学号)
// is let go, and no name ever reaches a key.
void TstPhotoDay::keyColumnNeverTakesTheName()
{
    const QString path = m_dir->filePath(QStringLiteral("roster.xls"));
    QVERIFY(QFile::copy(
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/generated/roster_zh_30.xls"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    WindowHarness d;
    d.build();
    QVERIFY(d.openTable(path, {}, 0));
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    d.w<QCheckBox>("Chezd")->click();
    QVERIFY(!d.w<QCheckBox>("Chezd")->isChecked());
    QCOMPARE(d.w<QComboBox>("Comzd")->currentText(), QStringLiteral("学号"));
    const DataSource first = d.session().source;
    const QStringList ids = columnOf(first, 0);

    QVERIFY(d.openTable(path, {0}, 0));
    d.w<QCheckBox>("Chezd")->click();
    QVERIFY(d.w<QCheckBox>("Chezd")->isChecked());
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
    photographRows(d, 1, 1);
    QCOMPARE(columnOf(d.session().source, 0), ids);
    QVERIFY2(d.form->statusText().contains(QStringLiteral("没有选择存放文件名的列")),
             qPrintable(d.form->statusText()));

    // The operator picks the key all the same: told, in the roster's own
    // kind, and nothing is chosen.
    d.messages.clear();
    pick(d.w<QComboBox>("Comzd"), 0);
    QCOMPARE(d.messages.texts(), QStringList{"学号 已被您在打开Excel数据时指定为主键,请重新选择一个列!"});
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
    QCOMPARE(columnOf(d.session().source, 0), ids);
}

// People whose name cell is empty or only blanks get no photo (no hidden
// ".jpg", nothing numbered), the save says why, and the roster check names
// them beforehand.
void TstPhotoDay::blankNameIsRefusedAndChecked()
{
    WindowHarness d;
    d.build();
    const QString path =
        roster(QStringLiteral("blank"),
               {{"201", "", "一班", ""}, {"202", "  ", "一班", ""}, {"203", "郑一", "一班", ""}});
    QVERIFY(d.openTable(path, {0}));
    const QString photos = m_dir->filePath(QStringLiteral("blank-photos"));
    QDir().mkpath(photos);
    d.w<QLineEdit>("Text1")->setText(photos);
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    d.w<QCheckBox>("Cheqbm")->setChecked(true);
    QStringList lines;
    for (const QString &line : d.form->findChild<PhotoDayPanel *>()->checkRoster(true))
        if (line.contains(QStringLiteral("文件名为空")))
            lines << line.section(QStringLiteral("："), 0, 0);
    // The person has no name: the line names them by their key.
    QCOMPARE(lines, (QStringList{"第 1 行 XH 201", "第 2 行 XH 202"}));

    TableGrid *grid = d.form->grid();
    for (int row : {1, 2}) {
        grid->setActiveCell(row, 1);
        d.button(d.button("Command4")->isEnabled() ? "Command4" : "Command1")->click();
        d.button("Command3")->click();
        d.button("Command8")->click();
        QVERIFY2(d.form->statusText().contains(kBlankNameProblem), qPrintable(d.form->statusText()));
        QCOMPARE(grid->cursor()->currentRow(), row);
    }
    photographRows(d, 3, 1);
    QCOMPARE(filesUnder(photos), QStringList{"郑一10001.jpg"});
}

QTEST_MAIN(TstPhotoDay)
#include "tst_photoday.moc"
