// A write-back into an Access database killed at any moment must leave a
// database that Lumora, mdb-export and mdb-reader all still open, with
// every record there once, every field but the written one unchanged, and
// the written one holding an old or a complete new name. The rows grow, so
// the writes repack pages, move rows and add pages while being killed.
//
// The kill delays come from a seed printed at the start;
// LUMORA_CRASH_SEED=<seed> replays them.
#include "MdbOracles.h"
#include "MdbRowInserter.h"
#include "WriteBackChild.h"
#include "WriteBackPlan.h"

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace lumora::engine;

class TestMdbWriteBackCrash : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesDatabaseReadable()
    {
        const QString child = QCoreApplication::applicationDirPath() + QStringLiteral("/writeback_child");
        QVERIFY2(QFileInfo(child).isExecutable(), qPrintable(child));
        bool given = false;
        quint32 seed = qEnvironmentVariable("LUMORA_CRASH_SEED").toUInt(&given);
        if (!given)
            seed = QRandomGenerator::system()->generate();
        qInfo("kill delays from seed %u (LUMORA_CRASH_SEED=%u replays them)", seed, seed);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("roster.mdb"));
        QVERIFY(QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") +
                                QStringLiteral("/mdb/ucanaccess_weirdObjectNames.mdb"),
                            path));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
        MdbRowInserter::append(path, table, 299, [](int i) {
            return std::map<int, Value>{{0, Value::integer(i + 2)},
                                        {1, Value::text(QStringLiteral("old%1").arg(i))}};
        });
        const MdbOracles::Tables reference = MdbOracles::lumora(path);
        const QList<QStringList> &before = reference.at(table).rows;
        const int count = int(before.size());
        QCOMPARE(count, 300);
        QStringList expected; // the written field of each record, by ID, as it should be now
        for (const QStringList &row : before)
            expected << row[1];
        const auto indexOf = [&](const QString &id) {
            for (int r = 0; r < count; ++r)
                if (before[r][0] == id)
                    return r;
            return -1;
        };
        const bool withMdbReader = !MdbOracles::mdbReaderDir().isEmpty();

        QRandomGenerator rng(seed);
        int moved = 0;
        for (int round = 0; round < 10; ++round) {
            const int delayUs = int(rng.bounded(2000, 80001));
            const QString where =
                QStringLiteral("round %1, kill after %2 us, seed %3: ").arg(round).arg(delayUs).arg(seed);
            QProcess writer;
            writer.start(child, {path, table, QStringLiteral("ID"), QStringLiteral("TextField"),
                                 QString::number(round), QString()});
            QVERIFY2(writer.waitForStarted(30000), qPrintable(where + writer.errorString()));
            QVERIFY2(waitReady(writer), qPrintable(where + QString::fromUtf8(writer.readAllStandardError())));
            QThread::usleep(unsigned(delayUs));
            writer.kill();
            QVERIFY(writer.waitForFinished(30000));
            QVERIFY2(writer.exitStatus() == QProcess::CrashExit,
                     qPrintable(where + QString::fromUtf8(writer.readAllStandardError())));
            const qint64 n = finishedUpdates(writer.readAllStandardOutput());
            QVERIFY2(n >= 0, qPrintable(where + QStringLiteral("garbled child output")));

            // The child picks records by their order in the file, which
            // moves change; the IDs it wrote are in what it wrote.
            MdbOracles::Tables now;
            try {
                now = MdbOracles::lumora(path);
            } catch (const EngineError &e) {
                QFAIL(qPrintable(where + e.message()));
            }
            const QList<QStringList> &rows = now.at(table).rows;
            QVERIFY2(rows.size() == count, qPrintable(where + QString::number(rows.size())));
            QSet<QString> ids;
            for (const QStringList &row : rows) {
                const int r = indexOf(row[0]);
                QVERIFY2(r >= 0 && !ids.contains(row[0]), qPrintable(where + QStringLiteral("ID ") + row[0]));
                ids.insert(row[0]);
                // An old value, or one of the names this round writes.
                const bool old = row[1] == expected[r];
                const bool written = row[1].startsWith(QStringLiteral("照片")) &&
                                     row[1].endsWith(QStringLiteral(".jpg")) &&
                                     row[1].contains(QStringLiteral("_%1_").arg(round));
                QVERIFY2(old || written, qPrintable(where + row[0] + QStringLiteral(": ") + row[1]));
                expected[r] = row[1];
            }
            moved += int(n);

            // Both independent readers open it and see every record.
            const MdbOracles::Tables exported = MdbOracles::mdbExport(path, now);
            QVERIFY2(
                exported.at(table).rows.size() >= count,
                qPrintable(where + QStringLiteral("mdb-export: ") + exported.at(table).fields.join(u',')));
            if (withMdbReader) {
                const MdbOracles::Tables read = MdbOracles::mdbReader(path, now);
                QVERIFY2(read.count(table) && read.at(table).rows.size() >= count &&
                             !read.count(QStringLiteral("<error>")),
                         qPrintable(where + QStringLiteral("mdb-reader")));
            }
        }
        QVERIFY2(moved > 0, "no write finished before any kill");
    }
};

QTEST_GUILESS_MAIN(TestMdbWriteBackCrash)
#include "tst_mdbwritebackcrash.moc"
