#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestLumoraSql : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void help();
    void failures_data();
    void failures();
    void listsAndReadsDbf_data();
    void listsAndReadsDbf();
    void selectAndUpdate();
    void updateReadByOgrinfo();

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
    for (const char *name : {"book.xls", "data.mdb"}) {
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
    QVERIFY(r.out.startsWith("Usage: lumora-sql [--kind excel|access|foxpro|dbase] FILE [STATEMENT]"));
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
    QTest::newRow("unknown kind") << QStringList{"--kind", "paradox", "a.db"} << 2 << "unknown kind \"paradox\"";
    QTest::newRow("unknown extension") << QStringList{"a.txt"} << 2 << "cannot tell the kind of a.txt";
    QTest::newRow("missing file") << QStringList{"missing.DBF"} << 1 << "file not found: missing.DBF";
    QTest::newRow("excel, by extension in upper case") << QStringList{"@/book.XLS"} << 1 << "file not found";
    QTest::newRow("excel not yet") << QStringList{"@/book.xls"} << 1 << "Excel workbooks cannot be opened yet";
    QTest::newRow("access not yet") << QStringList{"--kind=access", "@/book.xls"} << 1
                                    << "Access databases cannot be opened yet";
    QTest::newRow("access by extension") << QStringList{"@/data.mdb", "select * from T"} << 1
                                         << "Access databases cannot be opened yet";
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
    QCOMPARE(run({copy, "select TEST & Chr(9) & TEST as Item from dbasers_cp936"}).out,
             QStringLiteral("测试中文\t测试中文\n"));
    const Run update = run({copy, QStringLiteral("update [dbasers_cp936] set TEST='O''Brien 张.jpg' where TEST='测试中文'")});
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
    const Run update = run({copy, QStringLiteral("update [roster_zh_30_lo_cp936] set N__2='照片 101.jpg' where N__='2024000001'")});
    QCOMPARE(update.out, QStringLiteral("1\n"));
    QProcess p;
    p.start(ogrinfo, {"--config", "SHAPE_ENCODING", "CP936", "-al", "-q", "-fid", "0", copy});
    QVERIFY(p.waitForFinished(30000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("N__2 (String) = 照片 101.jpg")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("N__ (String) = 2024000001")), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestLumoraSql)
#include "tst_lumorasql.moc"
