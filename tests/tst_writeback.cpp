#include "DbfMaker.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableLoader.h"
#include "data/WriteBack.h"
#include "data/engine/Database.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace lumora::engine;
using Status = WriteBackResult::Status;

Q_DECLARE_METATYPE(QList<WriteBackKey>)

// The update statement of the file-name write-back, and running it.
class TstWriteBack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void statement_data();
    void statement();
    void storedName_data();
    void storedName();
    void runner_data();
    void runner();
    void readOnlyFileIsReported();
    void lockedFileIsReportedInChinese();
    void onlyAKeyOfOnePersonWrites_data();
    void onlyAKeyOfOnePersonWrites();
    void markerRowIsNobody();
    void thousandWriteBacksChangeOnlyTheTarget();

private:
    QString copyRoster(const QString &name);
    QTemporaryDir m_dir;
};

void TstWriteBack::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

static WriteBackKey key(const QString &column, qint16 type, const QString &value)
{
    return {column, type, value};
}

void TstWriteBack::statement_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("targetType");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QList<WriteBackKey>>("keys");
    QTest::addColumn<QString>("statement"); // empty: refused

    QTest::newRow("text key") << "照片" << int(DaoText) << "101.jpg" << QList{key("学号", DaoText, "101")}
                              << "update [学生] set 照片='101.jpg' where 学号='101'";
    QTest::newRow("text and double keys")
        << "照片" << int(DaoText) << "101" << QList{key("学号", DaoText, "101"), key("班级", DaoDouble, "3")}
        << "update [学生] set 照片='101' where 学号='101' and 班级=3";
    QTest::newRow("three keys with date")
        << "ZP" << int(DaoText) << "a"
        << QList{key("A", DaoText, "x"), key("B", DaoDate, "2009-04-19"), key("C", DaoLong, "7")}
        << "update [学生] set ZP='a' where A='x' and B=#2009-04-19# and C=7";
    QTest::newRow("apostrophe in key")
        << "ZP" << int(DaoText) << "a.jpg" << QList{key("XM", DaoText, "O'Brien")}
        << "update [学生] set ZP='a.jpg' where XM='O''Brien'";
    QTest::newRow("apostrophe in value")
        << "ZP" << int(DaoText) << "O'Brien.jpg" << QList{key("XH", DaoText, "1")}
        << "update [学生] set ZP='O''Brien.jpg' where XH='1'";
    QTest::newRow("boolean key") << "ZP" << int(DaoText) << "a" << QList{key("ZC", DaoBoolean, "True")}
                                 << "update [学生] set ZP='a' where ZC=True";
    QTest::newRow("memo target") << "BZ" << int(DaoMemo) << "a" << QList{key("XH", DaoText, "1")}
                                 << "update [学生] set BZ='a' where XH='1'";
    QTest::newRow("double target") << "N" << int(DaoDouble) << "5" << QList{key("XH", DaoText, "1")}
                                   << "update [学生] set N=5 where XH='1'";
    QTest::newRow("date target") << "D" << int(DaoDate) << "2020-01-02" << QList{key("XH", DaoText, "1")}
                                 << "update [学生] set D=#2020-01-02# where XH='1'";
    QTest::newRow("blank in names bracketed")
        << "photo file" << int(DaoText) << "a" << QList{key("student no", DaoText, "1")}
        << "update [学生] set [photo file]='a' where [student no]='1'";
    QTest::newRow("double key not a number")
        << "ZP" << int(DaoText) << "a" << QList{key("BJ", DaoDouble, "三")} << "";
    QTest::newRow("empty double key") << "ZP" << int(DaoText) << "a" << QList{key("BJ", DaoDouble, "")} << "";
    QTest::newRow("text key of blanks only")
        << "ZP" << int(DaoText) << "a" << QList{key("XM", DaoText, " \u3000 ")} << "";
    QTest::newRow("bad date key") << "ZP" << int(DaoText) << "a" << QList{key("SR", DaoDate, "19.04.2009")}
                                  << "";
    QTest::newRow("binary key refused")
        << "ZP" << int(DaoText) << "a" << QList{key("XH", DaoText, "1"), key("P", DaoLongBinary, "00")} << "";
    QTest::newRow("no keys") << "ZP" << int(DaoText) << "a" << QList<WriteBackKey>{} << "";
    QTest::newRow("double target with a name")
        << "N" << int(DaoDouble) << "101.jpg" << QList{key("XH", DaoText, "1")} << "";
    QTest::newRow("the key as target")
        << "学号" << int(DaoText) << "聂姬" << QList{key("学号", DaoText, "101")} << "";
    QTest::newRow("the second key as target, another letter case")
        << "xm" << int(DaoText) << "a" << QList{key("XH", DaoText, "1"), key("XM", DaoText, "张三")} << "";
    QTest::newRow("boolean target refused")
        << "L" << int(DaoBoolean) << "True" << QList{key("XH", DaoText, "1")} << "";
}

void TstWriteBack::statement()
{
    QFETCH(QString, target);
    QFETCH(int, targetType);
    QFETCH(QString, value);
    QFETCH(QList<WriteBackKey>, keys);
    QFETCH(QString, statement);
    const WriteBackStatement built =
        BuildUpdateStatement(QStringLiteral("[学生]"), target, qint16(targetType), value, keys);
    QCOMPARE(built.ok, !statement.isEmpty());
    QCOMPARE(built.statement, statement);
    QCOMPARE(built.error.isEmpty(), built.ok);
}

void TstWriteBack::storedName_data()
{
    QTest::addColumn<QString>("photoName");
    QTest::addColumn<bool>("withExtension");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("stored");
    QTest::newRow("with extension") << "101" << true << "jpg"
                                    << "101.jpg";
    QTest::newRow("without extension") << "101" << false << "jpg"
                                       << "101";
    QTest::newRow("bitmap") << "101" << true << "bmp"
                            << "101.bmp";
    QTest::newRow("with number") << "张三12" << true << "jpg"
                                 << "张三12.jpg";
}

void TstWriteBack::storedName()
{
    QFETCH(QString, photoName);
    QFETCH(bool, withExtension);
    QFETCH(QString, extension);
    QFETCH(QString, stored);
    QCOMPARE(StoredFileName(photoName, withExtension, extension), stored);
}

QString TstWriteBack::copyRoster(const QString &name)
{
    const QString folder = m_dir.filePath(name);
    QDir().mkpath(folder);
    const QString target = folder + QStringLiteral("/roster.dbf");
    // The fixture's photo column is one character wide: widen it so that a
    // file name fits, keeping every other byte as LibreOffice wrote it.
    DbfMaker t({{"XH", 'C', 10},
                {"XM", 'C', 44},
                {"BJ", 'C', 10},
                {"CJ", 'N', 4, 1},
                {"SR", 'D', 8},
                {"ZP", 'C', 20}});
    auto db = Database::open(qEnvironmentVariable("LUMORA_TEST_DATA") +
                                 QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf"),
                             QStringLiteral("dBASE IV"));
    const Recordset rs = db->openRecordset(QStringLiteral("roster_zh_30_lo_cp936"));
    for (qsizetype r = 0; r < rs.size(); ++r) {
        QList<std::optional<QString>> values;
        for (int f = 0; f < 6; ++f) {
            const Value &v = rs.value(r, f);
            values << (v.isNull() ? std::nullopt : std::optional<QString>(v.toText()));
        }
        t.addWithNulls(values);
    }
    return t.write(target) ? target : QString();
}

void TstWriteBack::runner_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QList<qint16>>("keyColumns");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("cell"); // grid cell (row, 6) after a reload

    QTest::newRow("written") << true << QList<qint16>{1} << 5 << 2 << int(Status::Written) << "p.jpg";
    QTest::newRow("two keys, number among them")
        << true << QList<qint16>{1, 4} << 5 << 2 << int(Status::Written) << "p.jpg";
    QTest::newRow("apostrophe in the name key")
        << true << QList<qint16>{2} << 5 << 3 << int(Status::Written) << "p.jpg";
    QTest::newRow("switched off") << false << QList<qint16>{1} << 5 << 2 << int(Status::SwitchedOff) << "";
    QTest::newRow("no keys") << true << QList<qint16>{} << 5 << 2 << int(Status::NoKeys) << "";
    QTest::newRow("no target") << true << QList<qint16>{1} << -1 << 2 << int(Status::NoTarget) << "";
    QTest::newRow("trailing empty row is nobody")
        << true << QList<qint16>{1} << 5 << 31 << int(Status::NotAPerson) << "";
    QTest::newRow("row past the grid")
        << true << QList<qint16>{1} << 5 << 32 << int(Status::NotAPerson) << "";
    QTest::newRow("header row") << true << QList<qint16>{1} << 5 << 0 << int(Status::NotAPerson) << "ZP";
    QTest::newRow("value too long") << true << QList<qint16>{1} << 1 << 2 << int(Status::Failed) << "";
}

void TstWriteBack::runner()
{
    QFETCH(bool, enabled);
    QFETCH(QList<qint16>, keyColumns);
    QFETCH(int, target);
    QFETCH(int, row);
    QFETCH(int, status);
    QFETCH(QString, cell);

    DataSource ds;
    ds.databasePath =
        copyRoster(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    QVERIFY(!ds.databasePath.isEmpty());
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoText};
    ds.keyColumns = keyColumns;
    ds.keyCount = qint16(keyColumns.size());
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);

    WriteBackRequest request;
    request.enabled = enabled;
    request.targetIndex = target;
    request.withExtension = true;
    request.extension = QStringLiteral("jpg");
    request.photoName = target == 1 ? QString(50, QLatin1Char('x')) : QStringLiteral("p");
    request.row = row;
    const WriteBackResult result = WriteBackFileName(ds, grid, request);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.statusText().isEmpty(),
             result.status == Status::Written || result.status == Status::SwitchedOff);

    RosterModel after;
    LoadTable(*OpenDatabase(ds), ds, after);
    QCOMPARE(after.cellText(row, 6), cell);
    for (int r = 1; r < after.rows(); ++r)
        if (r != row)
            QCOMPARE(after.cellText(r, 6), QString());
    QCOMPARE(after.cellText(2, 2), grid.cellText(2, 2));
}

void TstWriteBack::readOnlyFileIsReported()
{
    if (::geteuid() == 0)
        QSKIP("file permissions do not bind the superuser");
    DataSource ds;
    ds.databasePath = copyRoster(QStringLiteral("readonly"));
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoText};
    ds.keyColumns = {1};
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);
    QFile::setPermissions(ds.databasePath, QFileDevice::ReadOwner);
    WriteBackRequest request{true, 5, false, QString(), QStringLiteral("p"), 1};
    const WriteBackResult result = WriteBackFileName(ds, grid, request);
    QFile::setPermissions(ds.databasePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(int(result.status), int(Status::Failed));
    QVERIFY(!result.reason.isEmpty());
}

// A roster another program holds locked: the status line says so in
// Chinese and names the file, and nothing is written.
void TstWriteBack::lockedFileIsReportedInChinese()
{
    DataSource ds;
    ds.databasePath = copyRoster(QStringLiteral("locked"));
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoText};
    ds.keyColumns = {1};
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);
    QFile file(ds.databasePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    const int holder = ::open(QFile::encodeName(ds.databasePath).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(holder >= 0);
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QCOMPARE(::fcntl(holder, F_OFD_SETLK, &lock), 0); // conflicts within one process too
    WriteBackRequest request{true, 5, false, QString(), QStringLiteral("p"), 1};
    const WriteBackResult result = WriteBackFileName(ds, grid, request);
    ::close(holder);
    QCOMPARE(int(result.status), int(Status::Failed));
    QVERIFY2(result.statusText().startsWith(
                 QStringLiteral("文件名未写入数据表：数据表被其他程序锁定：roster.dbf")),
             qPrintable(result.statusText()));
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), before);
}

// A roster whose key column XH holds what goes wrong in real rosters:
// blanks, a key shared by two people, two keys differing only in letter
// case. Records of 1 + 10 + 20 + 20 bytes.
static bool writeAwkwardRoster(const QString &path)
{
    DbfMaker t({{"XH", 'C', 10}, {"XM", 'C', 20}, {"ZP", 'C', 20}});
    t.add({"101", "张三", ""});
    t.add({"", "李四", "old2.jpg"});
    t.add({"", "王五", "old3.jpg"});
    t.add({"A7", "赵六", "old4.jpg"});
    t.add({"a7", "钱七", "old5.jpg"});
    t.add({"105", "孙八", "old6.jpg"});
    t.add({"105", "周九", "old7.jpg"});
    t.add({"O'Brien", "O'Brien", ""});
    t.add({"   ", "吴十", "old9.jpg"});
    return t.write(path);
}

void TstWriteBack::onlyAKeyOfOnePersonWrites_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("matched");

    QTest::newRow("unique key") << 1 << int(Status::Written) << 1;
    QTest::newRow("blank key") << 2 << int(Status::NotBuilt) << 0;
    QTest::newRow("second blank key") << 3 << int(Status::NotBuilt) << 0;
    // dBase and FoxPro compare texts in their letter case: A7 is not a7.
    QTest::newRow("upper case of a7") << 4 << int(Status::Written) << 1;
    QTest::newRow("lower case of A7") << 5 << int(Status::Written) << 1;
    QTest::newRow("shared key, first") << 6 << int(Status::Ambiguous) << 2;
    QTest::newRow("shared key, second") << 7 << int(Status::Ambiguous) << 2;
    QTest::newRow("apostrophe, unique") << 8 << int(Status::Written) << 1;
    QTest::newRow("key of blanks only") << 9 << int(Status::NotBuilt) << 0;
    QTest::newRow("trailing row") << 10 << int(Status::NotAPerson) << 0;
}

void TstWriteBack::onlyAKeyOfOnePersonWrites()
{
    QFETCH(int, row);
    QFETCH(int, status);
    QFETCH(int, matched);

    DataSource ds;
    const QString folder = m_dir.filePath(QStringLiteral("awkward_%1").arg(row));
    QDir().mkpath(folder);
    ds.databasePath = folder + QStringLiteral("/roster.dbf");
    QVERIFY(writeAwkwardRoster(ds.databasePath));
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText};
    ds.keyColumns = {1};
    ds.keyCount = 1;
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);
    QCOMPARE(grid.rows(), 11);
    QFile file(ds.databasePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    const WriteBackRequest request{true, 2, true, QStringLiteral("jpg"), QStringLiteral("new"), row};
    const WriteBackResult result = WriteBackFileName(ds, grid, request);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.matched, qsizetype(matched));
    if (result.status == Status::Ambiguous)
        QVERIFY2(result.statusText().contains(QStringLiteral("匹配到 2 条记录")),
                 qPrintable(result.statusText()));

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QCOMPARE(after.size(), before.size());
    // Only the written record's ZP field (and the date of last update) may
    // differ; every other record keeps what it held.
    const int header = 32 + 3 * 32 + 1, record = 51, zp = 31;
    const int written = result.written() ? row - 1 : -1;
    for (int b = 0; b < before.size(); ++b) {
        if (b >= 1 && b <= 3)
            continue;
        const int r = b < header ? -1 : (b - header) / record;
        const int inRecord = b < header ? -1 : (b - header) % record;
        if (r == written && inRecord >= zp && inRecord < zp + 20)
            continue;
        QVERIFY2(before.at(b) == after.at(b),
                 qPrintable(QStringLiteral("byte %1 (record %2) changed").arg(b).arg(r)));
    }
    if (result.written())
        QCOMPARE(after.mid(header + (row - 1) * record + zp, 20),
                 QByteArray("new.jpg").leftJustified(20, ' '));
    else
        QCOMPARE(after, before);
}

void TstWriteBack::markerRowIsNobody()
{
    // A filter that shows nobody leaves the marker row; it writes nothing.
    DataSource ds;
    const QString folder = m_dir.filePath(QStringLiteral("marker"));
    QDir().mkpath(folder);
    ds.databasePath = folder + QStringLiteral("/roster.dbf");
    QVERIFY(writeAwkwardRoster(ds.databasePath));
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText};
    ds.keyColumns = {1};
    ds.keyCount = 1;
    ds.whereClause = QStringLiteral(" where XH='nobody'");
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(grid.cellText(1, 1), NoRecordsMarker());
    const WriteBackRequest request{true, 2, false, QString(), QStringLiteral("x"), 1};
    QCOMPARE(int(WriteBackFileName(ds, grid, request).status), int(Status::NotAPerson));
}

void TstWriteBack::thousandWriteBacksChangeOnlyTheTarget()
{
    // An exact copy of the fixture; the class column (C10) takes the names.
    const QString folder = m_dir.filePath(QStringLiteral("loop"));
    QDir().mkpath(folder);
    DataSource ds;
    ds.databasePath = folder + QStringLiteral("/roster.dbf");
    QVERIFY(QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") +
                            QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf"),
                        ds.databasePath));
    QFile::setPermissions(ds.databasePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile file(ds.databasePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.fieldTypes = {DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoText};
    ds.keyColumns = {1, 2};
    ds.keyCount = 2;
    RosterModel grid;
    LoadTable(*OpenDatabase(ds), ds, grid);

    for (int i = 0; i < 1000; ++i) {
        const int row = 1 + i % 30;
        WriteBackRequest request{true, 2, i % 2 == 0, QStringLiteral("jpg"), QStringLiteral("n%1").arg(i),
                                 row};
        const WriteBackResult result = WriteBackFileName(ds, grid, request);
        QVERIFY2(result.written(), qPrintable(result.statusText()));
        QCOMPARE(result.changed, 1);
    }

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QCOMPARE(after.size(), before.size());
    // Header 225 bytes, records of 78; the class field starts at byte 55 of
    // a record (after the deletion flag, C10 and C44) and is 10 wide.
    const int header = 225, record = 78, offset = 55, width = 10;
    for (int b = 0; b < before.size(); ++b) {
        if (b >= 1 && b <= 3)
            continue; // the date of last update
        const int inRecord = (b - header) % record;
        if (b >= header && b < header + 30 * record && inRecord >= offset && inRecord < offset + width)
            continue;
        QVERIFY2(before.at(b) == after.at(b), qPrintable(QStringLiteral("byte %1 changed").arg(b)));
    }
    RosterModel reloaded;
    LoadTable(*OpenDatabase(ds), ds, reloaded);
    for (int r = 1; r <= 30; ++r) {
        const int m = r - 1;
        const int last = m <= 9 ? 990 + m : 960 + m; // the last i with i % 30 == m
        QCOMPARE(reloaded.cellText(r, 3), QStringLiteral("n%1%2").arg(last).arg(last % 2 == 0 ? ".jpg" : ""));
        for (int c : {1, 2, 4, 5, 6})
            QCOMPARE(reloaded.cellText(r, c), grid.cellText(r, c));
    }
}

QTEST_MAIN(TstWriteBack)
#include "tst_writeback.moc"
