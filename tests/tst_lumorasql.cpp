#include "DbfMaker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class TestLumoraSql : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void help();
    void failures_data();
    void failures();
    void textFileIsOneTable();
    void listsAndReadsDbf_data();
    void listsAndReadsDbf();
    void selectAndUpdate();
    void updateReadByOgrinfo();
    void valuesAreEscaped();
    void listsGoodTablesBesideDamaged();
    void bracketInTableName();
    void refusedUpdateWritesNothing_data();
    void refusedUpdateWritesNothing();
    void refusesStatementNotInUtf8();

private:
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    Run run(const QStringList &args);
    QString m_tool;
    QTemporaryDir m_dir;
};

void TestLumoraSql::initTestCase()
{
    m_tool = QCoreApplication::applicationDirPath() + QStringLiteral("/lumora-sql");
    QVERIFY2(QFile::exists(m_tool), qPrintable(m_tool));
    QVERIFY(m_dir.isValid());
    for (const char *name : {"book.xls", "book.xlsx", "data.mdb", "notes.TXT"}) {
        QFile f(m_dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
}

TestLumoraSql::Run TestLumoraSql::run(const QStringList &args)
{
    QProcess p;
    p.start(m_tool, args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TestLumoraSql::help()
{
    const Run r = run({"--help"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith("Usage: lumora-sql [--kind excel|access|foxpro|dbase|csv] FILE [STATEMENT]"));
    QVERIFY(r.out.contains("from 0"));
    QVERIFY(r.err.isEmpty());
}

void TestLumoraSql::failures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no file") << QStringList{} << 2 << "expected FILE";
    QTest::newRow("too many arguments") << QStringList{"a.dbf", "select", "x"} << 2 << "expected FILE";
    QTest::newRow("unknown option") << QStringList{"--verbose", "a.dbf"} << 2 << "unknown option --verbose";
    QTest::newRow("kind without value") << QStringList{"--kind"} << 2 << "--kind needs a value";
    QTest::newRow("unknown kind") << QStringList{"--kind", "paradox", "a.db"} << 2
                                  << "unknown kind \"paradox\"";
    QTest::newRow("unknown extension") << QStringList{"a.ods"} << 2 << "cannot tell the kind of a.ods";
    QTest::newRow("missing file") << QStringList{"missing.DBF"} << 1 << "file not found: missing.DBF";
    QTest::newRow("excel, by extension in upper case") << QStringList{"@/book.XLS"} << 1 << "file not found";
    QTest::newRow("empty workbook")
        << QStringList{"@/book.xls"} << 1
        << "book.xls cannot be opened as an Excel 97-2003 workbook: the file is empty";
    QTest::newRow("excel, by the extension .xlsx")
        << QStringList{"@/book.xlsx"} << 1
        << "book.xlsx cannot be opened as an Excel 97-2003 workbook: the file is empty";
    QTest::newRow("access, a workbook")
        << QStringList{"--kind=access", "@/book.xls"} << 1 << "is not an Access database";
    QTest::newRow("access by extension")
        << QStringList{"@/data.mdb", "select * from T"} << 1 << "is not an Access database";
}

void TestLumoraSql::failures()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    for (QString &a : args)
        a.replace(QLatin1String("@"), m_dir.path());
    const Run r = run(args);
    QCOMPARE(r.status, status);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.startsWith("lumora-sql: ") && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.err.count('\n'), 1);
}

// --kind csv, and the extension .txt in any letter case, open a file as
// delimited text: one table, named after the file.
void TestLumoraSql::textFileIsOneTable()
{
    const Run named = run({"--kind=csv", m_dir.filePath("book.xls")});
    QCOMPARE(named.status, 0);
    QCOMPARE(named.out, QStringLiteral("TABLE\tbook\nFIELD\t0\tF1\t10\n"));
    const Run byExtension = run({m_dir.filePath("notes.TXT")});
    QCOMPARE(byExtension.status, 0);
    QCOMPARE(byExtension.out, QStringLiteral("TABLE\tnotes\nFIELD\t0\tF1\t10\n"));
}

static QString dbfData(const QString &file = {})
{
    return qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/") + file;
}

void TestLumoraSql::listsAndReadsDbf_data()
{
    QTest::addColumn<QString>("file");
    const QStringList files = QDir(dbfData()).entryList({"*.dbf"}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << f;
}

// Every fixture table is listed with its fields, and reads back one line
// per record, under both dBase and FoxPro connect strings.
void TestLumoraSql::listsAndReadsDbf()
{
    QFETCH(QString, file);
    const QString table = QFileInfo(file).completeBaseName();
    for (const QStringList &kind : {QStringList{}, QStringList{"--kind", "foxpro"}}) {
        const Run list = run(kind + QStringList{dbfData(file)});
        QCOMPARE(list.status, 0);
        const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
        const qsizetype at = lines.indexOf("TABLE\t" + table);
        QVERIFY(at >= 0);
        QVERIFY(lines.value(at + 1).startsWith("FIELD\t0\t"));
        QCOMPARE(lines.value(at + 1).split('\t').size(), 4);

        const Run read = run(kind + QStringList{dbfData(file), "select * from [" + table + "]"});
        QCOMPARE(read.status, 0);
        QVERIFY(read.err.isEmpty());
        const Run count = run(kind + QStringList{dbfData(file), "[" + table + "]"});
        QCOMPARE(count.out, read.out);
    }
}

void TestLumoraSql::selectAndUpdate()
{
    QTemporaryDir dir;
    const QString copy = dir.filePath("dbasers_cp936.dbf");
    QVERIFY(QFile::copy(dbfData("dbasers_cp936.dbf"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    // One value holding a tab: the tab is escaped.
    QCOMPARE(run({copy, "select TEST & Chr(9) & TEST as Item from dbasers_cp936"}).out,
             QStringLiteral("测试中文\\t测试中文\n"));
    const Run update = run(
        {copy, QStringLiteral("update [dbasers_cp936] set TEST='O''Brien 张.jpg' where TEST='测试中文'")});
    QCOMPARE(update.status, 0);
    QCOMPARE(update.out, QStringLiteral("1\n"));
    QCOMPARE(run({copy, "select TEST from [dbasers_cp936]"}).out, QStringLiteral("O'Brien 张.jpg\n"));
    const Run bad = run({copy, "update [dbasers_cp936] set NOPE='x'"});
    QCOMPARE(bad.status, 1);
    QCOMPARE(bad.err, QStringLiteral("lumora-sql: unknown field \"NOPE\" at character 28\n"));
}

// An independent reader sees what an update through the engine wrote.
void TestLumoraSql::updateReadByOgrinfo()
{
    const QString ogrinfo = QStandardPaths::findExecutable("ogrinfo");
    if (ogrinfo.isEmpty())
        QSKIP("ogrinfo (gdal-bin) is not installed");
    QTemporaryDir dir;
    const QString copy = dir.filePath("roster_zh_30_lo_cp936.dbf");
    QVERIFY(QFile::copy(dbfData("roster_zh_30_lo_cp936.dbf"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    const Run update = run(
        {copy,
         QStringLiteral("update [roster_zh_30_lo_cp936] set N__2='照片 101.jpg' where N__='2024000001'")});
    QCOMPARE(update.out, QStringLiteral("1\n"));
    QProcess p;
    p.start(ogrinfo, {"--config", "SHAPE_ENCODING", "CP936", "-al", "-q", "-fid", "0", copy});
    QVERIFY(p.waitForFinished(30000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("N__2 (String) = 照片 101.jpg")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("N__ (String) = 2024000001")), qPrintable(out));
}

static QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Reverses the tool's escapes, so a test can compare what a line means.
static QString unescaped(const QString &cell)
{
    QString out;
    for (qsizetype i = 0; i < cell.size(); ++i) {
        if (cell[i] != '\\' || i + 1 == cell.size()) {
            out += cell[i];
            continue;
        }
        const QChar c = cell[++i];
        out += c == 't' ? QChar('\t') : c == 'n' ? QChar('\n') : c == 'r' ? QChar('\r') : c;
    }
    return out;
}

// Each record is one line and each tab ends a value, whatever the values
// hold: a tab, a line break or a backslash inside one comes out escaped.
void TestLumoraSql::valuesAreEscaped()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    const QStringList values{"a\tb", "line\nbreak", "cr\rhere", "back\\slash", "\\t is not a tab", "plain"};
    DbfMaker table({{"V", 'C', 20}, {"W", 'C', 4}});
    for (const QString &v : values)
        table.add({v, "x\ty"});
    QVERIFY(table.write(path));
    const Run r = run({path, "select V, W from [t]"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.endsWith('\n'));
    const QStringList lines = r.out.chopped(1).split('\n');
    QCOMPARE(lines.size(), values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QStringList cells = lines[i].split('\t');
        QCOMPARE(cells.size(), 2);
        QCOMPARE(unescaped(cells[0]), values[i]);
        QCOMPARE(cells[1], QStringLiteral("x\\ty"));
    }
    QCOMPARE(lines[3], QStringLiteral("back\\\\slash\tx\\ty"));
}

// A damaged table beside good ones: the good ones are listed and the
// damaged one gets a note on standard error; only naming it fails.
void TestLumoraSql::listsGoodTablesBesideDamaged()
{
    QTemporaryDir dir;
    DbfMaker good({{"A", 'C', 4}});
    good.add({"ok"});
    QVERIFY(good.write(dir.filePath("good.dbf")));
    QVERIFY(good.write(dir.filePath("over.dbf")));
    QByteArray over = fileBytes(dir.filePath("over.dbf"));
    over[4] = 5; // one record present, five promised
    writeBytes(dir.filePath("over.dbf"), over);
    writeBytes(dir.filePath("bad.dbf"), "name,class\n张三,高二\n");

    const Run list = run({dir.filePath("good.dbf")});
    QCOMPARE(list.status, 0);
    QCOMPARE(list.out, QStringLiteral("TABLE\tgood\nFIELD\t0\tA\t10\nTABLE\tover\nFIELD\t0\tA\t10\n"));
    const QStringList notes = list.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(notes.size(), 2);
    QVERIFY2(notes[0].startsWith("lumora-sql: note: bad.dbf is not a dBase or FoxPro table"),
             qPrintable(notes[0]));
    QVERIFY2(notes[1].startsWith(
                 "lumora-sql: note: over.dbf: its header promises 5 records, but only 1 are present"),
             qPrintable(notes[1]));

    const Run named = run({dir.filePath("bad.dbf")});
    QCOMPARE(named.status, 1);
    QCOMPARE(named.out, list.out);
    // The notes on the others first, the failure last.
    const QStringList lines = named.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("lumora-sql: note: over.dbf"), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith("lumora-sql: bad.dbf is not a dBase or FoxPro table"), qPrintable(lines[1]));
}

void TestLumoraSql::bracketInTableName()
{
    QTemporaryDir dir;
    DbfMaker table({{"A", 'C', 8}});
    table.add({"first"});
    QVERIFY(table.write(dir.filePath("a]b.dbf")));
    const Run list = run({dir.filePath("a]b.dbf")});
    QCOMPARE(list.status, 0);
    QVERIFY2(list.out.startsWith("TABLE\ta]b\nFIELD\t0\tA\t10\n"), qPrintable(list.out));
    QCOMPARE(run({dir.filePath("a]b.dbf"), "update [a]]b] set A='second'"}).out, QStringLiteral("1\n"));
    QCOMPARE(run({dir.filePath("a]b.dbf"), "select A from [a]]b]"}).out, QStringLiteral("second\n"));
    QCOMPARE(run({dir.filePath("a]b.dbf"), "[a]]b]"}).out, QStringLiteral("second\n"));
    QCOMPARE(run({dir.filePath("a]b.dbf"), "select A from [a]b]"}).status, 1);
}

void TestLumoraSql::refusedUpdateWritesNothing_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("message");
    QTest::newRow("second value one byte too long")
        << "update [t] set 照片='ok.jpg', 学号='12345678901'" << false << "is 10 bytes wide";
    QTest::newRow("name two tables answer to") << "update [ab] set 照片='ok.jpg'" << false << "is ambiguous";
    QTest::newRow("locked by another program")
        << "update [t] set 照片='ok.jpg'" << true << "t.dbf is locked by another program";
}

// An update the tool refuses leaves every file of the folder as it was.
void TestLumoraSql::refusedUpdateWritesNothing()
{
    QFETCH(QString, statement);
    QFETCH(bool, locked);
    QFETCH(QString, message);
    QTemporaryDir dir;
    DbfMaker table({{"学号", 'C', 10}, {"照片", 'C', 12}});
    table.add({"101", ""});
    table.add({"102", ""});
    const QStringList files{"t.dbf", "Ab.dbf", "AB.DBF"};
    for (const QString &f : files)
        QVERIFY(table.write(dir.filePath(f)));
    const QByteArray before = fileBytes(dir.filePath("t.dbf"));
    int holder = -1;
    if (locked) {
        holder = ::open(QFile::encodeName(dir.filePath("t.dbf")).constData(), O_RDWR | O_CLOEXEC);
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x7FFFFFFE - 2;
        lock.l_len = 1;
        QCOMPARE(::fcntl(holder, F_SETLK, &lock), 0); // the tool is another process
    }
    const Run r = run({dir.filePath("t.dbf"), statement});
    if (holder >= 0)
        ::close(holder);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    for (const QString &f : files)
        QCOMPARE(fileBytes(dir.filePath(f)), before);
}

// A statement whose bytes are not UTF-8 (a name typed in GBK) is refused
// at the character where they stand, not read as U+FFFD and written.
void TestLumoraSql::refusesStatementNotInUtf8()
{
    QTemporaryDir dir;
    DbfMaker table({{"学号", 'C', 10}, {"照片", 'C', 12}});
    table.add({"101", ""});
    QVERIFY(table.write(dir.filePath("t.dbf")));
    const QByteArray before = fileBytes(dir.filePath("t.dbf"));
    const QString prefix = QStringLiteral("update t set 照片='");
    // printf's %b writes \0NNN as the byte NNN (octal): 张 in GBK, D5 C5.
    QProcess p;
    p.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1\" \"$(printf %b \"$2\")\""), m_tool,
             dir.filePath("t.dbf"), prefix + QStringLiteral("\\0325\\0305.jpg'")});
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        QFAIL("lumora-sql did not finish");
    }
    QCOMPARE(p.exitCode(), 1);
    QCOMPARE(
        QString::fromUtf8(p.readAllStandardError()),
        QStringLiteral("lumora-sql: statements are read as UTF-8; byte %1 (0xd5) of this one is not part "
                       "of any UTF-8 character at character %2\n")
            .arg(prefix.toUtf8().size() + 1)
            .arg(prefix.size() + 1));
    QCOMPARE(fileBytes(dir.filePath("t.dbf")), before);
}

QTEST_GUILESS_MAIN(TestLumoraSql)
#include "tst_lumorasql.moc"
