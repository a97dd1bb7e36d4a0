// Writing a workbook back among real processes: writers racing each other
// and a program that saves by renaming a new file over the roster lose
// nothing and report nothing that is not in the file; a writer killed at
// any moment leaves the workbook whole and no copy behind once the next
// write has run; a full disk and a folder that takes no new file are
// refused with the reason; a file the writer cannot give away keeps its
// owner; what is written is synced before it counts.
//
// LUMORA_XLS_ROUNDS=<n> runs n rounds of each race and kill loop instead
// of the few the suite runs; LUMORA_CRASH_SEED=<seed> replays kill delays.

#include "WriteBackChild.h"
#include "WriteBackPlan.h"

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumora::engine;

namespace {

const QString kTable = QStringLiteral("高一 学生名单 roster$");
constexpr int kPhoto = 5; // the 照片 field
constexpr int kRecords = 30;

int rounds(int fallback)
{
    bool given = false;
    const int n = qEnvironmentVariable("LUMORA_XLS_ROUNDS").toInt(&given);
    return given && n > 0 ? n : fallback;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A copy of the 30-row roster in `dir`, the folder open to every user.
QString roster(const QTemporaryDir &dir, const QString &name = QStringLiteral("roster.xls"))
{
    const QString path = dir.filePath(name);
    QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/generated/roster_zh_30.xls"),
                path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    return path;
}

// Every field of every record as text, read through the engine.
QList<QStringList> records(const QString &path)
{
    const Recordset rs = Database::open(path, QStringLiteral("Excel 8.0"))->openRecordset(kTable);
    QList<QStringList> rows;
    for (qsizetype r = 0; r < rs.size(); ++r) {
        rows.append(QStringList());
        for (int f = 0; f < rs.fields().size(); ++f)
            rows.last() << rs.value(r, f).toText();
    }
    return rows;
}

QStringList copiesBeside(const QString &path)
{
    return QFileInfo(path).dir().entryList({QStringLiteral("*.lumora-*")}, QDir::Files | QDir::Hidden);
}

QString update(int record, const QString &photo)
{
    return QStringLiteral("update [%1] set 照片='%2' where 学号='%3'")
        .arg(kTable, photo)
        .arg(2024000001 + record);
}

// The processes of a test, killed and reaped however the test ends.
struct Children
{
    std::vector<std::unique_ptr<QProcess>> all;
    QProcess &start(const QString &program, const QStringList &args,
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        all.push_back(std::make_unique<QProcess>());
        all.back()->setProcessEnvironment(env);
        all.back()->start(program, args);
        return *all.back();
    }
    ~Children()
    {
        for (auto &p : all)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(30000);
            }
    }
};

// Whether `pid` has a file open for writing, as a writer has while it
// waits for the file's lock.
bool holdsOpenForWriting(qint64 pid, const QString &path)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() != QFileInfo(path).canonicalFilePath())
            continue;
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("flags:") && (line.mid(6).trimmed().toInt(nullptr, 8) & O_ACCMODE) == O_RDWR)
                return true;
    }
    return false;
}

} // namespace

class TstXlsWriteBack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void concurrentWritersLoseNothing_data();
    void concurrentWritersLoseNothing();
    void renamingSaverIsNotWipedOut();
    void killedWriterLeavesWorkbookWhole_data();
    void killedWriterLeavesWorkbookWhole();
    void refusesWithTheReason_data();
    void refusesWithTheReason();
    void keepsAnOwnerItCannotGiveAway();
    void syncsWhatItWrites_data();
    void syncsWhatItWrites();

private:
    // lumora-sql as another user can run it: the build folder may lie
    // under a home folder that user cannot enter.
    QString sqlForAnyone();

    QString m_sql;
    QTemporaryDir m_bin;
    quint32 m_seed = 0;
};

void TstXlsWriteBack::initTestCase()
{
    m_sql = QCoreApplication::applicationDirPath() + QStringLiteral("/lumora-sql");
    QVERIFY2(QFileInfo(m_sql).isExecutable(), qPrintable(m_sql));
    bool given = false;
    m_seed = qEnvironmentVariable("LUMORA_CRASH_SEED").toUInt(&given);
    if (!given)
        m_seed = QRandomGenerator::system()->generate();
    qInfo("kill delays from seed %u (LUMORA_CRASH_SEED=%u replays them)", m_seed, m_seed);
}

QString TstXlsWriteBack::sqlForAnyone()
{
    const QString copy = m_bin.filePath(QStringLiteral("lumora-sql"));
    if (!QFileInfo::exists(copy) &&
        (!QFile::copy(m_sql, copy) || ::chmod(QFile::encodeName(m_bin.path()).constData(), 0755) != 0 ||
         ::chmod(QFile::encodeName(copy).constData(), 0755) != 0))
        return {};
    return copy;
}

void TstXlsWriteBack::concurrentWritersLoseNothing_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("two writers") << 2;
    QTest::newRow("five writers") << 5;
}

// Writers started together, each on a record of its own: every one that
// says it changed a record did, and nothing else changed.
void TstXlsWriteBack::concurrentWritersLoseNothing()
try {
    QFETCH(int, writers);
    QTemporaryDir dir;
    const QString path = roster(dir);
    QList<QStringList> expected = records(path);
    const int n = rounds(4);
    for (int round = 0; round < n; ++round) {
        Children children;
        for (int w = 0; w < writers; ++w)
            children.start(m_sql, {path, update((round * writers + w) % kRecords,
                                                QStringLiteral("r%1w%2.jpg").arg(round).arg(w))});
        for (int w = 0; w < writers; ++w) {
            QProcess &p = *children.all[size_t(w)];
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitCode() == 0 && p.readAllStandardOutput() == "1\n",
                     qPrintable(QStringLiteral("round %1 writer %2: %3")
                                    .arg(round)
                                    .arg(w)
                                    .arg(QString::fromUtf8(p.readAllStandardError()))));
            expected[(round * writers + w) % kRecords][kPhoto] =
                QStringLiteral("r%1w%2.jpg").arg(round).arg(w);
        }
        QCOMPARE(records(path), expected);
    }
    QCOMPARE(copiesBeside(path), QStringList());
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// Another program holds the lock, writes its own save to a new file and
// renames it over the roster while a writer waits for the lock: the writer
// notices and writes into the new file, so both changes are there.
void TstXlsWriteBack::renamingSaverIsNotWipedOut()
try {
    QTemporaryDir dir;
    const QString path = roster(dir);
    const QString saving = dir.filePath(QStringLiteral("saving.xls"));
    for (int round = 0; round < rounds(3); ++round) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        QVERIFY(fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0);
        Children children;
        QProcess &writer = children.start(
            m_sql, {path, update(round % kRecords, QStringLiteral("lumora%1.jpg").arg(round))});
        QVERIFY(writer.waitForStarted());
        QElapsedTimer waiting;
        waiting.start();
        while (!holdsOpenForWriting(writer.processId(), path) && waiting.elapsed() < 1500)
            QThread::msleep(5);
        const bool writerWaited = waiting.elapsed() < 1500;

        QFile::remove(saving);
        QVERIFY(QFile::copy(path, saving));
        Database::open(saving, QStringLiteral("Excel 8.0"))
            ->execute(update((round + 15) % kRecords, QStringLiteral("other%1.jpg").arg(round)));
        QVERIFY(::rename(QFile::encodeName(saving).constData(), QFile::encodeName(path).constData()) == 0);
        ::close(fd); // the lock goes

        QVERIFY(writer.waitForFinished(30000));
        QVERIFY2(writer.exitCode() == 0, writer.readAllStandardError().constData());
        QCOMPARE(writer.readAllStandardOutput(), QByteArray("1\n"));
        const QList<QStringList> now = records(path);
        QCOMPARE(now[round % kRecords][kPhoto], QStringLiteral("lumora%1.jpg").arg(round));
        QCOMPARE(now[(round + 15) % kRecords][kPhoto], QStringLiteral("other%1.jpg").arg(round));
        QVERIFY2(writerWaited, "the writer never waited for the lock: the race was not run");
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXlsWriteBack::killedWriterLeavesWorkbookWhole_data()
{
    QTest::addColumn<bool>("hardLink");
    QTest::newRow("renamed over") << false;
    QTest::newRow("written in place beside a second hard link") << true;
}

// writeback_child writes photo names through the engine until killed at a
// random moment: the workbook then opens (putting back an old content a
// write in place left), every record holds its old or a complete new
// name, nothing else changed, and after the next write no copy is left.
void TstXlsWriteBack::killedWriterLeavesWorkbookWhole()
try {
    QFETCH(bool, hardLink);
    QTemporaryDir dir;
    const QString path = roster(dir);
    const QString link = dir.filePath(QStringLiteral("link.xls"));
    if (hardLink)
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
    QList<QStringList> expected = records(path);
    QRandomGenerator rng(m_seed);
    int leftBehind = 0, landed = 0;
    const int n = rounds(8);
    for (int round = 0; round < n; ++round) {
        const int delayUs = int(rng.bounded(1000, 40001));
        const QString where = QStringLiteral("round %1, kill after %2 us: ").arg(round).arg(delayUs);
        Children children;
        QProcess &child =
            children.start(QCoreApplication::applicationDirPath() + QStringLiteral("/writeback_child"),
                           {path, kTable, QStringLiteral("学号"), QStringLiteral("照片"),
                            QString::number(round), QStringLiteral("Excel 8.0")});
        QVERIFY2(waitReady(child), qPrintable(where + QString::fromUtf8(child.readAllStandardError())));
        QThread::usleep(unsigned(delayUs));
        child.kill();
        QVERIFY(child.waitForFinished(30000));
        const qint64 done = finishedUpdates(child.readAllStandardOutput());
        QVERIFY2(done >= 0, qPrintable(where + QString::fromUtf8(child.readAllStandardError())));
        for (qint64 i = 0; i < done; ++i)
            expected[writebackplan::record(round, i, kRecords)][kPhoto] =
                writebackplan::value(round, i, kRecords);
        const int inFlight = writebackplan::record(round, done, kRecords);
        leftBehind += copiesBeside(path).isEmpty() ? 0 : 1;

        QList<QStringList> now;
        try {
            now = records(path);
        } catch (const EngineError &e) {
            QFAIL(qPrintable(where + e.message()));
        }
        if (now[inFlight][kPhoto] == writebackplan::value(round, done, kRecords)) {
            expected[inFlight][kPhoto] = now[inFlight][kPhoto];
            ++landed;
        }
        QVERIFY2(
            now == expected,
            qPrintable(where +
                       QStringLiteral("record %1 holds \"%2\"").arg(inFlight).arg(now[inFlight][kPhoto])));
        if (hardLink)
            QVERIFY2(readAll(link) == readAll(path), qPrintable(where + QStringLiteral("the links differ")));
    }
    qInfo("%d kills, %d left a copy beside the workbook, the update in flight landed in %d", n, leftBehind,
          landed);

    // The next write leaves no copy, and an independent reader sees what
    // the engine sees.
    Database::open(path, QStringLiteral("Excel 8.0"))->execute(update(0, QStringLiteral("last.jpg")));
    expected[0][kPhoto] = QStringLiteral("last.jpg");
    QCOMPARE(copiesBeside(path), QStringList());
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden).size(), hardLink ? 2 : 1);
    QProcess ssconvert;
    ssconvert.start(
        QStringLiteral("ssconvert"),
        {QStringLiteral("-T"), QStringLiteral("Gnumeric_stf:stf_csv"), path, QStringLiteral("fd://1")});
    if (!ssconvert.waitForFinished(60000) || ssconvert.exitCode() != 0)
        QSKIP("ssconvert (gnumeric) did not run: the engine's reading held");
    const QList<QByteArray> lines = ssconvert.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), kRecords + 1);
    for (int r = 0; r < kRecords; ++r)
        QVERIFY2(QString::fromUtf8(lines[r + 1]).endsWith(QLatin1Char(',') + expected[r][kPhoto]),
                 lines[r + 1].constData());
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXlsWriteBack::refusesWithTheReason_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<qint64>("room"); // bytes the disk takes; -1: any
    QTest::addColumn<QString>("says");
    QTest::newRow("full disk") << "one name" << qint64(4096) << "the disk is full";
    QTest::newRow("full disk, no room for the old content")
        << "hard link" << qint64(4096) << "the disk is full";
    QTest::newRow("full disk in the middle of writing in place")
        << "hard link" << qint64(9728 + 4096) << "its old content is kept in";
    QTest::newRow("folder that takes no new file")
        << "read-only folder" << qint64(-1) << "no new file can be made in its folder";
}

// A refused write says why and leaves the workbook as it was (at the
// latest once it is next opened) and no copy once the next write has run.
void TstXlsWriteBack::refusesWithTheReason()
{
    QFETCH(QString, how);
    QFETCH(qint64, room);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = roster(dir);
    const QByteArray before = readAll(path);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString program = m_sql;
    QStringList args = {path, update(3, QStringLiteral("3.jpg"))};
    if (how == QLatin1String("hard link"))
        QVERIFY(::link(QFile::encodeName(path).constData(),
                       QFile::encodeName(path + QStringLiteral("2")).constData()) == 0);
    if (room >= 0) {
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LUMORA_NEARLY_FULL_DISK));
        env.insert(QStringLiteral("LUMORA_DISK_ROOM"), QString::number(room));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    } else {
        // Root writes anywhere; the folder is refused to another user.
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOther));
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
        if (::geteuid() == 0) {
            program = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (program.isEmpty())
                QSKIP("setpriv (util-linux) is needed to write as another user than root");
            args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                               QStringLiteral("--clear-groups"), sqlForAnyone()} +
                   args;
        }
    }
    Children children;
    QProcess &p = children.start(program, args, env);
    QVERIFY(p.waitForFinished(30000));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString error = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(error.contains(says), qPrintable(error));
    if (how == QLatin1String("read-only folder"))
        QVERIFY2(error.contains(dir.path()), qPrintable(error));
    try {
        QCOMPARE(records(path).size(), kRecords); // opening puts back an old content kept aside
        QCOMPARE(readAll(path), before);
        Database::open(path, QStringLiteral("Excel 8.0"))->execute(update(3, QStringLiteral("3.jpg")));
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }
    QCOMPARE(copiesBeside(path), QStringList());
}

// A user who may write the file but not give a new one its owner (it is
// another user's) writes it in place: owner, group and inode stay.
void TstXlsWriteBack::keepsAnOwnerItCannotGiveAway()
try {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        QSKIP("needs root and setpriv (util-linux) to write as a user who does not own the file");
    QTemporaryDir dir;
    const QString path = roster(dir);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0666) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
    struct stat before
    {
    }, after{};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
    Children children;
    QProcess &p = children.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                           QStringLiteral("--clear-groups"), sqlForAnyone(), path,
                                           update(7, QStringLiteral("7.jpg"))});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QVERIFY(::stat(QFile::encodeName(path).constData(), &after) == 0);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(records(path)[7][kPhoto], QStringLiteral("7.jpg"));
    QCOMPARE(copiesBeside(path), QStringList());
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXlsWriteBack::syncsWhatItWrites_data()
{
    QTest::addColumn<bool>("hardLink");
    QTest::newRow("renamed over") << false;
    QTest::newRow("written in place beside a second hard link") << true;
}

// A sync left out shows in no file, so strace watches lumora-sql write:
// every file it writes in the folder is synced after its last write, and
// the folder after the last name in it was made or removed.
void TstXlsWriteBack::syncsWhatItWrites()
try {
    QFETCH(bool, hardLink);
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace (scripts/deps.sh installs it) shows the writer's system calls");
    QTemporaryDir dir, logDir;
    const QString path = roster(dir);
    if (hardLink)
        QVERIFY(::link(QFile::encodeName(path).constData(),
                       QFile::encodeName(path + QStringLiteral("2")).constData()) == 0);
    const QString log = logDir.filePath(QStringLiteral("calls"));
    // LeakSanitizer cannot run in a traced process.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    Children children;
    QProcess &p = children.start(
        strace,
        {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-y"), QStringLiteral("-o"), log,
         QStringLiteral("-e"),
         QStringLiteral("trace=write,pwrite64,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat"),
         m_sql, path, update(4, QStringLiteral("4.jpg"))},
        env);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(records(path)[4][kPhoto], QStringLiteral("4.jpg"));

    QFile calls(log);
    QVERIFY(calls.open(QIODevice::ReadOnly));
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    const QRegularExpression call(QStringLiteral(R"(^(?:\d+ +)?(\w+)\((?:\d+<([^>]*)>)?)"));
    QSet<QString> unsynced; // files written since they were last synced
    bool namesUnsynced = false;
    int written = 0;
    for (const QByteArray &line : calls.readAll().split('\n')) {
        const QRegularExpressionMatch m = call.match(QString::fromUtf8(line));
        const QString name = m.captured(1), file = m.captured(2);
        if ((name == QLatin1String("write") || name == QLatin1String("pwrite64")) &&
            file.startsWith(folder + QLatin1Char('/'))) {
            unsynced.insert(file);
            ++written;
        } else if (name == QLatin1String("fsync") || name == QLatin1String("fdatasync")) {
            unsynced.remove(file);
            namesUnsynced = namesUnsynced && file != folder;
        } else if (name.startsWith(QLatin1String("rename")) || name.startsWith(QLatin1String("unlink"))) {
            namesUnsynced = namesUnsynced || line.contains(QFile::encodeName(folder));
        }
    }
    QVERIFY2(written > 0, "strace saw no write");
    QVERIFY2(unsynced.isEmpty(), qPrintable(QStringList(unsynced.begin(), unsynced.end()).join(u' ')));
    QVERIFY2(!namesUnsynced, "the folder is not synced after its names changed");
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

QTEST_GUILESS_MAIN(TstXlsWriteBack)
#include "tst_xlswriteback.moc"
