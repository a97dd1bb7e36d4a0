// A write-back killed at any moment must leave the dBase table whole: it
// opens, keeps its size and records, every field but the written one keeps
// its value, and the written field holds an old or a complete new name.
//
// writeback_child (built beside this suite) writes file names through the
// engine in a loop; this suite kills it with SIGKILL after a random delay,
// many times, and checks the table after each kill. The delays come from a
// seed printed at the start; LUMORA_CRASH_SEED=<seed> replays them.

#include "WriteBackChild.h"
#include "WriteBackPlan.h"

#include "DbfWriter.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/dbf/DbfTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

using namespace lumora::engine;

namespace {

using Rows = QList<QList<Value>>;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString shown(const Value &v)
{
    return v.isNull() ? QStringLiteral("Null") : QLatin1Char('"') + v.toText() + QLatin1Char('"');
}

// A GBK roster of `count` students with the photo field at `photoPosition`
// among the fields; some scores and photo names are blank.
void makeRoster(const QString &path, int count, int photoPosition)
{
    QList<DbfWriter::Field> fields = {{QStringLiteral("学号"), 'C', 10},
                                      {QStringLiteral("姓名"), 'C', 20},
                                      {QStringLiteral("班级"), 'C', 10},
                                      {QStringLiteral("成绩"), 'N', 5, 1},
                                      {QStringLiteral("生日"), 'D', 8}};
    fields.insert(photoPosition, {QStringLiteral("照片"), 'C', 40});
    const QStringList names = {QStringLiteral("张三"), QStringLiteral("李四"),   QStringLiteral("王五"),
                               QStringLiteral("赵六"), QStringLiteral("欧阳明"), QStringLiteral("司马光")};
    QList<QList<Value>> records;
    for (int i = 0; i < count; ++i) {
        QList<Value> r = {Value::text(QStringLiteral("2024%1").arg(i + 1, 6, 10, QLatin1Char('0'))),
                          Value::text(names.at(i % names.size()) + QString::number(i)),
                          Value::text(QStringLiteral("高一(%1)班").arg(i % 12 + 1)),
                          i % 13 == 0 ? Value::null() : Value::real((i * 37 % 1000) / 10.0),
                          Value::date(QDate(2008, 1, 1).addDays(i * 3))};
        r.insert(photoPosition,
                 i % 5 == 0 ? Value::null() : Value::text(QStringLiteral("旧照片%1.jpg").arg(i)));
        records << r;
    }
    DbfWriter::write(path, fields, records);
}

// Every value of every record of `table`, read afresh through the engine.
Rows readAll(const QString &path, const QString &table)
{
    auto db = Database::open(path, QStringLiteral("dBASE IV"));
    const Recordset rs = db->openRecordset(QLatin1Char('[') + table + QLatin1Char(']'));
    Rows rows;
    for (qsizetype r = 0; r < rs.size(); ++r)
        rows << rs.row(r);
    return rows;
}

// The values of field `target` in each record as ogrinfo reads them, or
// an empty list with `error` set. Trailing blanks are GDAL's to strip.
QStringList ogrValues(const QString &ogrinfo, const QString &path, const QString &target, QString *error)
{
    QProcess p;
    p.start(ogrinfo,
            {QStringLiteral("-ro"), QStringLiteral("-al"), QStringLiteral("-q"), QStringLiteral("--config"),
             QStringLiteral("SHAPE_ENCODING"), QStringLiteral("CP936"), path});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("ogrinfo failed: ") + QString::fromUtf8(p.readAllStandardError());
        return {};
    }
    const QString prefix = QStringLiteral("  ") + target + QStringLiteral(" (String) = ");
    QStringList values;
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("OGRFeature(")))
            values << QString();
        else if (line.startsWith(prefix) && !values.isEmpty())
            values.last() =
                line.mid(prefix.size()) == QLatin1String("(null)") ? QString() : line.mid(prefix.size());
    }
    return values;
}

} // namespace

class TstWriteBackCrash : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void killedWriterLeavesTableWhole_data();
    void killedWriterLeavesTableWhole();
    void writerWaitsForAnotherProgramsLock();

private:
    QString m_child;
    quint32 m_seed = 0;
};

void TstWriteBackCrash::initTestCase()
{
    m_child = QCoreApplication::applicationDirPath() + QStringLiteral("/writeback_child");
    QVERIFY2(QFileInfo(m_child).isExecutable(), qPrintable(m_child));
    bool given = false;
    m_seed = qEnvironmentVariable("LUMORA_CRASH_SEED").toUInt(&given);
    if (!given)
        m_seed = QRandomGenerator::system()->generate();
    qInfo("kill delays from seed %u (LUMORA_CRASH_SEED=%u replays them)", m_seed, m_seed);
}

void TstWriteBackCrash::killedWriterLeavesTableWhole_data()
{
    QTest::addColumn<QString>("fixture");   // empty: a GBK roster made by DbfWriter
    QTest::addColumn<int>("photoPosition"); // where the made roster has its photo field
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("rounds");

    // Last field of the record: the write ends at the next record's deletion
    // flag, or at the end-of-file mark after the last record.
    QTest::newRow("GBK roster, photo field last") << QString() << 5 << "学号"
                                                  << "照片" << 16;
    QTest::newRow("GBK roster, photo field second") << QString() << 1 << "学号"
                                                    << "照片" << 12;
    // A table from another writer: Chinese field names replaced, no code
    // page mark, a two-digit year in the header's update date.
    QTest::newRow("LibreOffice roster, name field") << "roster_zh_30_lo_cp936.dbf" << -1 << "N__"
                                                    << "N__2" << 12;
}

void TstWriteBackCrash::killedWriterLeavesTableWhole()
{
    QFETCH(QString, fixture);
    QFETCH(int, photoPosition);
    QFETCH(QString, key);
    QFETCH(QString, target);
    QFETCH(int, rounds);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path;
    try {
        if (fixture.isEmpty()) {
            path = dir.filePath(QStringLiteral("roster.dbf"));
            makeRoster(path, 200, photoPosition);
        } else {
            path = dir.filePath(fixture);
            QVERIFY(QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/") + fixture,
                                path));
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }
    const QString table = QFileInfo(path).completeBaseName();
    const QByteArray original = readFile(path);

    // The reference: every value as the engine reads it before any write,
    // and where the target field lies in each record.
    Rows reference;
    int targetField = -1;
    qint64 headerLength = 0, recordLength = 0, fieldOffset = 0, fieldLength = 0;
    try {
        reference = readAll(path, table);
        const auto dbf = DbfTable::open(path, table);
        for (int f = 0; f < dbf->header().fields.size(); ++f)
            if (dbf->header().fields[f].name == target)
                targetField = f;
        QVERIFY(targetField >= 0);
        headerLength = dbf->header().headerLength;
        recordLength = dbf->header().recordLength;
        fieldOffset = dbf->header().fields[targetField].offset;
        fieldLength = dbf->header().fields[targetField].length;
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }
    const int count = int(reference.size());
    QVERIFY(count > 0);
    QList<Value> expected; // the target field of each record, as it should be now
    for (const QList<Value> &row : reference)
        expected << row.at(targetField);

    const QString ogrinfo = QStandardPaths::findExecutable(QStringLiteral("ogrinfo"));
    QRandomGenerator rng(m_seed);
    QList<qint64> finished;
    int landed = 0; // rounds where the update in flight reached the file
    QElapsedTimer clock;
    clock.start();

    for (int round = 0; round < rounds; ++round) {
        const int delayUs = int(rng.bounded(1000, 50001));
        const QString where =
            QStringLiteral("round %1, kill after %2 us, seed %3: ").arg(round).arg(delayUs).arg(m_seed);
        QProcess child;
        child.start(m_child, {path, table, key, target, QString::number(round)});
        QVERIFY2(child.waitForStarted(30000), qPrintable(where + child.errorString()));
        QVERIFY2(waitReady(child), qPrintable(where + QString::fromUtf8(child.readAllStandardError())));
        QThread::usleep(unsigned(delayUs)); // the random moment of the crash
        child.kill();
        QVERIFY(child.waitForFinished(30000));
        QVERIFY2(child.exitStatus() == QProcess::CrashExit,
                 qPrintable(where + QStringLiteral("the child ended by itself: ") +
                            QString::fromUtf8(child.readAllStandardError())));
        const qint64 n = finishedUpdates(child.readAllStandardOutput());
        QVERIFY2(n >= 0, qPrintable(where + QStringLiteral("garbled child output")));
        finished << n;

        // Updates 0..n-1 returned; update n may or may not have reached the
        // file when the kill came, but wholly or not at all.
        for (qint64 i = 0; i < n; ++i)
            expected[writebackplan::record(round, i, count)] =
                Value::text(writebackplan::value(round, i, count));
        const int inFlight = writebackplan::record(round, n, count);
        const Value inFlightValue = Value::text(writebackplan::value(round, n, count));

        const QByteArray bytes = readFile(path);
        QVERIFY2(
            bytes.size() == original.size(),
            qPrintable(where + QStringLiteral("size %1, was %2").arg(bytes.size()).arg(original.size())));
        for (qint64 b = 0; b < bytes.size(); ++b) {
            if (b >= 1 && b <= 3)
                continue; // the date of the last update
            const qint64 inRecord = (b - headerLength) % recordLength;
            if (b >= headerLength && b < headerLength + count * recordLength && inRecord >= fieldOffset &&
                inRecord < fieldOffset + fieldLength)
                continue;
            QVERIFY2(bytes.at(b) == original.at(b),
                     qPrintable(where + QStringLiteral("byte %1 changed").arg(b)));
        }

        Rows now;
        try {
            now = readAll(path, table);
        } catch (const EngineError &e) {
            QFAIL(qPrintable(where + e.message()));
        }
        QVERIFY2(now.size() == count, qPrintable(where + QStringLiteral("%1 records").arg(now.size())));
        for (int r = 0; r < count; ++r) {
            for (int f = 0; f < now.at(r).size(); ++f) {
                const Value &v = now.at(r).at(f);
                const QString at =
                    where + QStringLiteral("record %1 field %2: %3").arg(r).arg(f).arg(shown(v));
                if (f != targetField) {
                    QVERIFY2(v == reference.at(r).at(f),
                             qPrintable(at + QStringLiteral(", was ") + shown(reference.at(r).at(f))));
                } else if (r == inFlight && v == inFlightValue) {
                    expected[r] = v;
                    ++landed;
                } else {
                    QVERIFY2(v == expected.at(r),
                             qPrintable(at + QStringLiteral(", expected ") + shown(expected.at(r)) +
                                        (r == inFlight ? QStringLiteral(" or ") + shown(inFlightValue)
                                                       : QString())));
                }
            }
        }

        if (!ogrinfo.isEmpty()) {
            QString error;
            const QStringList seen = ogrValues(ogrinfo, path, target, &error);
            QVERIFY2(error.isEmpty(), qPrintable(where + error));
            QVERIFY2(seen.size() == count,
                     qPrintable(where + QStringLiteral("ogrinfo sees %1 records").arg(seen.size())));
            for (int r = 0; r < count; ++r)
                QVERIFY2(seen.at(r) == expected.at(r).toText(),
                         qPrintable(where + QStringLiteral("ogrinfo reads record %1 as \"%2\", expected %3")
                                                .arg(r)
                                                .arg(seen.at(r), shown(expected.at(r)))));
        }
    }

    std::sort(finished.begin(), finished.end());
    qInfo("%d rounds in %lld ms; updates finished per round: min %lld, median %lld, max %lld; "
          "the update in flight reached the file in %d rounds",
          rounds, qint64(clock.elapsed()), finished.first(), finished.at(finished.size() / 2),
          finished.last(), landed);
    if (ogrinfo.isEmpty())
        QSKIP("the engine found every table whole; ogrinfo (gdal-bin) is not installed for a second opinion");
}

void TstWriteBackCrash::writerWaitsForAnotherProgramsLock()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("roster.dbf"));
    try {
        makeRoster(path, 30, 5);
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }

    QProcess child;
    child.start(m_child, {path, QStringLiteral("roster"), QStringLiteral("学号"), QStringLiteral("照片"),
                          QStringLiteral("0")});
    QVERIFY(waitReady(child));
    // Some updates first, so that the child is known to be writing.
    QByteArray output;
    while (output.count('\n') < 4) {
        QVERIFY2(child.waitForReadyRead(30000), qPrintable(QString::fromUtf8(child.readAllStandardError())));
        output += child.readAllStandardOutput();
    }

    // Another program locks the table as the engine does.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QVERIFY(::fcntl(fd, F_SETLKW, &lock) == 0);
    // What the child reported before we had the lock is in the pipe now.
    while (child.waitForReadyRead(0))
        output += child.readAllStandardOutput();
    const qint64 whenLocked = output.count('\n');
    // While the lock is held at most the update that had it when we asked
    // may still report; nothing can be awaited here but the quiet.
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 300)
        if (child.waitForReadyRead(300 - int(quiet.elapsed())))
            output += child.readAllStandardOutput();
    const qint64 duringLock = output.count('\n') - whenLocked;
    ::close(fd); // releases the lock

    // Past a late report of the update that had the lock, one more shows
    // that the child goes on.
    bool goesOn = true;
    while (goesOn && output.count('\n') < whenLocked + 2) {
        goesOn = child.waitForReadyRead(30000);
        output += child.readAllStandardOutput();
    }
    child.kill();
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(duringLock <= 1, qPrintable(QStringLiteral("%1 updates went through the lock").arg(duringLock)));
    QVERIFY2(goesOn, "the child did not go on once the lock was released");
}

QTEST_GUILESS_MAIN(TstWriteBackCrash)
#include "tst_writebackcrash.moc"
