#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
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

QTEST_GUILESS_MAIN(TestLumoraSql)
#include "tst_lumorasql.moc"
