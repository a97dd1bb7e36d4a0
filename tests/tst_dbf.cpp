#include "DbfWriter.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/dbf/DbfBackend.h"
#include "data/engine/dbf/DbfTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumora::engine;

#if defined(__SANITIZE_ADDRESS__)
#define LUMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMORA_ASAN 1
#endif
#endif

namespace {

QString dataFile(const QString &name)
{
    return qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/") + name;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

int fieldIndex(const TableSource &t, const QString &name)
{
    for (int i = 0; i < t.fields().size(); ++i)
        if (t.fields()[i].name == name)
            return i;
    return -1;
}

// Offsets at which two files differ, like `cmp -l`.
QList<qsizetype> differences(const QByteArray &a, const QByteArray &b)
{
    QList<qsizetype> out;
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i)
        if (i >= a.size() || i >= b.size() || a[i] != b[i])
            out.append(i);
    return out;
}

// A dBase III table built byte by byte, so a test controls every byte of
// its records: `fields` as "NAME:T:len:dec", `records` as raw record bytes
// without the deletion flag.
QByteArray rawTable(const QStringList &fields, const QList<QByteArray> &records, quint8 driver = 0x4D,
                    QByteArray deletionFlags = {})
{
    QByteArray descriptors;
    int recordLength = 1;
    for (const QString &field : fields) {
        const QStringList p = field.split(QLatin1Char(':'));
        QByteArray d(32, '\0');
        const QByteArray name = p[0].toLatin1();
        std::copy(name.begin(), name.end(), d.begin());
        d[11] = p[1].at(0).toLatin1();
        d[16] = char(p[2].toInt());
        d[17] = char(p.value(3).toInt());
        recordLength += p[2].toInt();
        descriptors += d;
    }
    QByteArray h(32, '\0');
    h[0] = 0x03;
    h[1] = 124;
    h[2] = 1;
    h[3] = 2;
    const int headerLength = 32 + int(descriptors.size()) + 1;
    h[4] = char(records.size());
    h[8] = char(headerLength & 0xFF);
    h[9] = char(headerLength >> 8);
    h[10] = char(recordLength & 0xFF);
    h[11] = char(recordLength >> 8);
    h[29] = char(driver);
    QByteArray out = h + descriptors + '\x0D';
    for (qsizetype i = 0; i < records.size(); ++i)
        out += (i < deletionFlags.size() ? deletionFlags[i] : ' ') + records[i];
    return out + '\x1A';
}

// A Visual FoxPro table (0x30) of C fields `widths`, built byte by byte:
// with or without the 263-byte backlink after the terminator, with the
// field offsets stored or left 0.
QByteArray rawVfpTable(const QList<int> &widths, const QList<QByteArray> &records, bool backlink,
                       bool offsets)
{
    QByteArray descriptors;
    int recordLength = 1;
    for (qsizetype i = 0; i < widths.size(); ++i) {
        QByteArray d(32, '\0');
        d[0] = char('A' + i);
        d[11] = 'C';
        if (offsets)
            d[12] = char(recordLength);
        d[16] = char(widths[i]);
        recordLength += widths[i];
        descriptors += d;
    }
    QByteArray h(32, '\0');
    h[0] = 0x30;
    h[1] = 26;
    h[2] = 1;
    h[3] = 2;
    const int headerLength = 32 + int(descriptors.size()) + 1 + (backlink ? 263 : 0);
    h[4] = char(records.size());
    h[8] = char(headerLength & 0xFF);
    h[9] = char(headerLength >> 8);
    h[10] = char(recordLength & 0xFF);
    h[11] = char(recordLength >> 8);
    h[29] = 0x03;
    QByteArray out = h + descriptors + '\x0D';
    if (backlink)
        out += QByteArray(263, '\0');
    for (const QByteArray &r : records)
        out += ' ' + r;
    return out + '\x1A';
}

// Runs `work` in a child process whose address space is limited to 1 GB
// (AddressSanitizer reserves far more, so there the limit is left off) and
// returns its exit status: 0 when `work` returned, 1 when it threw, other
// values when it died.
int inChildWithAddressLimit(const std::function<void()> &work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifndef LUMORA_ASAN
        const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        int status = 0;
        try {
            work();
        } catch (...) {
            status = 1;
        }
        ::_exit(status);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

quint32 be32(const QByteArray &b, qsizetype at)
{
    return quint32(quint8(b[at])) << 24 | quint32(quint8(b[at + 1])) << 16 | quint32(quint8(b[at + 2])) << 8 |
           quint32(quint8(b[at + 3]));
}

quint32 le32(const QByteArray &b, qsizetype at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16 |
           quint32(quint8(b[at + 3])) << 24;
}

// Another program in a child process: it takes the lock other programs and
// the engine take (a POSIX record lock over the whole file), says so on a
// pipe, holds it for `holdMs`, writes `bytes` as the file's whole new
// content and ends, which releases the lock. Everything the child needs is
// made before the fork. The destructor kills and reaps it, however the
// test ends.
class LockingWriter
{
public:
    LockingWriter(const QString &path, const QByteArray &bytes, int holdMs)
    {
        const QByteArray name = QFile::encodeName(path);
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int fd = ::open(name.constData(), O_RDWR);
            struct flock lock
            {
            };
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &lock) != 0 || ::write(fds[1], "L", 1) != 1)
                ::_exit(2);
            ::usleep(useconds_t(holdMs) * 1000);
            for (qsizetype done = 0; done < bytes.size();) {
                const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done);
                if (n <= 0)
                    ::_exit(3);
                done += n;
            }
            if (::ftruncate(fd, off_t(bytes.size())) != 0 || ::fsync(fd) != 0)
                ::_exit(4);
            ::_exit(0);
        }
        ::close(fds[1]);
        m_ready = fds[0];
    }
    ~LockingWriter()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_ready >= 0)
            ::close(m_ready);
    }
    LockingWriter(const LockingWriter &) = delete;
    LockingWriter &operator=(const LockingWriter &) = delete;

    // Whether the child holds the lock now.
    bool locked()
    {
        char c = 0;
        return m_pid > 0 && ::read(m_ready, &c, 1) == 1 && c == 'L';
    }
    // Waits for the child to end; its exit status (0 when it wrote everything).
    int finish()
    {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
    int m_ready = -1;
};

} // namespace

class TestDbf : public QObject
{
    Q_OBJECT
private slots:
    void fixtureShape_data();
    void fixtureShape();
    void fixtureValues_data();
    void fixtureValues();
    void dbase3MemoSpansBlocks();
    void fieldTypes_data();
    void fieldTypes();
    void decodesOddBytes_data();
    void decodesOddBytes();
    void skipsDeletedRecords();
    void readsFileInBlocks();
    void folderListsTablesInAnyCase();
    void honoursCpgAndMemoNameCase();
    void refusesDamagedFiles_data();
    void refusesDamagedFiles();
    void readsCompleteRecordsOfOvercountedTable_data();
    void readsCompleteRecordsOfOvercountedTable();
    void updatesOvercountedTableWithinItsRecords();
    void readsVisualFoxProVariants_data();
    void readsVisualFoxProVariants();
    void unknownLanguageDriver();
    void refusesMissingFile();
    void updatesGbkTextInPlace();
    void updateKeepsTwoDigitYear();
    void updatesNullableVisualFoxProField();
    void updatesMemo_data();
    void updatesMemo();
    void updateGivesUpOnAnotherProgramsLock_data();
    void updateGivesUpOnAnotherProgramsLock();
    void updateMatchesWhatAnotherProgramLeft_data();
    void updateMatchesWhatAnotherProgramLeft();
    void hugeMemoFileNeedsNoMemory();
    void memoUpdateIgnoresLyingNextFree_data();
    void memoUpdateIgnoresLyingNextFree();
    void refusesValuesThatDoNotFit_data();
    void refusesValuesThatDoNotFit();
    void textReadsBackAsWrittenOrIsRefused_data();
    void textReadsBackAsWrittenOrIsRefused();
    void writerRoundTrip();
};

// Record counts, field counts and code pages as MANIFEST.tsv and the
// independent readers' reports give them.
void TestDbf::fixtureShape_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("fields");
    QTest::addColumn<QByteArray>("codec");
    QTest::newRow("dBase III GBK mark") << "dbasers_cp936.dbf" << 1 << 1 << QByteArray("GBK");
    QTest::newRow("dBase III, 31 fields") << "infused_dbase_03.dbf" << 14 << 31 << QByteArray("GBK");
    QTest::newRow("Visual FoxPro with memo")
        << "infused_dbase_30.dbf" << 34 << 145 << QByteArray("windows-1252");
    QTest::newRow("Visual FoxPro autoinc, _NullFlags hidden")
        << "infused_dbase_31.dbf" << 77 << 10 << QByteArray("windows-1252");
    QTest::newRow("Visual FoxPro varchar") << "infused_dbase_32.dbf" << 1 << 1 << QByteArray("windows-1252");
    QTest::newRow("dBase III memo") << "infused_dbase_83.dbf" << 67 << 15 << QByteArray("GBK");
    QTest::newRow("dBase IV memo") << "infused_dbase_8b.dbf" << 10 << 6 << QByteArray("GBK");
    QTest::newRow("LibreOffice GBK roster") << "roster_zh_30_lo_cp936.dbf" << 30 << 6 << QByteArray("GBK");
}

void TestDbf::fixtureShape()
{
    QFETCH(QString, file);
    QFETCH(int, records);
    QFETCH(int, fields);
    QFETCH(QByteArray, codec);
    const auto table = DbfTable::open(dataFile(file), file);
    QCOMPARE(table->recordCount(), records);
    QCOMPARE(table->fields().size(), fields);
    QCOMPARE(table->codecName(), codec);
    // Every value of every record decodes.
    for (qsizetype r = 0; r < table->recordCount(); ++r)
        for (int f = 0; f < table->fields().size(); ++f)
            table->value(r, f);
}

void TestDbf::fixtureValues_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("field");
    QTest::addColumn<Value>("expected");
    const QString cp936 = QStringLiteral("dbasers_cp936.dbf");
    const QString f03 = QStringLiteral("infused_dbase_03.dbf");
    const QString f30 = QStringLiteral("infused_dbase_30.dbf");
    const QString f31 = QStringLiteral("infused_dbase_31.dbf");
    const QString f83 = QStringLiteral("infused_dbase_83.dbf");
    const QString f8b = QStringLiteral("infused_dbase_8b.dbf");
    const QString lo = QStringLiteral("roster_zh_30_lo_cp936.dbf");
    QTest::newRow("GBK text without padding") << cp936 << 0 << 0 << Value::text(QStringLiteral("测试中文"));
    QTest::newRow("C keeps leading zero") << f03 << 0 << 0 << Value::text(QStringLiteral("0507121"));
    QTest::newRow("blank C is empty text") << f03 << 0 << 4 << Value::text(QString());
    QTest::newRow("D") << f03 << 0 << 8 << Value::date(QDate(2005, 7, 12));
    QTest::newRow("N with decimals") << f03 << 0 << 10 << Value::real(5.2);
    QTest::newRow("N 16.6") << f03 << 0 << 27 << Value::real(0.897088);
    QTest::newRow("second Point_ID is N") << f03 << 0 << 30 << Value::real(401);
    QTest::newRow("VFP blank N is Null") << f30 << 0 << 1 << Value::null();
    QTest::newRow("VFP memo pointer 0 is Null") << f30 << 0 << 2 << Value::null();
    QTest::newRow("VFP memo text") << f30 << 0 << 10
                                   << Value::text(QStringLiteral("Domestic Life\r\nWeddings\r\n"));
    QTest::newRow("VFP N 10.2") << f30 << 0 << 52 << Value::real(1000000);
    QTest::newRow("VFP T datetime, 17:13:04.999 to the nearest second")
        << f30 << 0 << 137 << Value::dateTime(QDateTime(QDate(2006, 4, 20), QTime(17, 13, 5), Qt::UTC));
    QTest::newRow("VFP L false") << f30 << 0 << 141 << Value::boolean(false);
    QTest::newRow("VFP I") << f31 << 0 << 0 << Value::integer(1);
    QTest::newRow("VFP C") << f31 << 0 << 1 << Value::text(QStringLiteral("Chai"));
    QTest::newRow("VFP nullable C") << f31 << 0 << 4 << Value::text(QStringLiteral("10 boxes x 20 bags"));
    QTest::newRow("VFP Y currency") << f31 << 0 << 5 << Value::currency(180000);
    QTest::newRow("VFP nullable I") << f31 << 0 << 6 << Value::integer(39);
    QTest::newRow("VFP varchar length byte")
        << "infused_dbase_32.dbf" << 0 << 0 << Value::text(QStringLiteral("Bad Meets Evil"));
    QTest::newRow("dBase III N 13.2") << f83 << 0 << 12 << Value::real(5.51);
    QTest::newRow("dBase III L T") << f83 << 0 << 13 << Value::boolean(true);
    QTest::newRow("dBase IV memo with length")
        << f8b << 0 << 5 << Value::text(QStringLiteral("First memo\r\n"));
    QTest::newRow("dBase IV second memo") << f8b << 1 << 5 << Value::text(QStringLiteral("Second memo"));
    QTest::newRow("dBase IV L Y") << f8b << 0 << 3 << Value::boolean(true);
    QTest::newRow("dBase IV F") << f8b << 0 << 4 << Value::real(1.23456789012346);
    QTest::newRow("dBase IV D 1970") << f8b << 0 << 2 << Value::date(QDate(1970, 1, 1));
    QTest::newRow("GBK roster name") << lo << 0 << 1 << Value::text(QStringLiteral("聂姬"));
    QTest::newRow("GBK roster class") << lo << 0 << 2 << Value::text(QStringLiteral("高二(20)班"));
    QTest::newRow("GBK roster mixed text")
        << lo << 2 << 1 << Value::text(QStringLiteral("Mary O'Connor（玛丽）"));
    QTest::newRow("GBK roster N 4.1") << lo << 0 << 3 << Value::real(20.5);
    QTest::newRow("GBK roster D") << lo << 0 << 4 << Value::date(QDate(2009, 4, 19));
    QTest::newRow("GBK roster blank C") << lo << 0 << 5 << Value::text(QString());
}

void TestDbf::fixtureValues()
{
    QFETCH(QString, file);
    QFETCH(int, record);
    QFETCH(int, field);
    QFETCH(Value, expected);
    const auto table = DbfTable::open(dataFile(file), file);
    const Value actual = table->value(record, field);
    QCOMPARE(actual.toText(), expected.toText());
    QCOMPARE(actual.kind(), expected.kind());
}

void TestDbf::dbase3MemoSpansBlocks()
{
    // 524 bytes of text: past the first 512-byte block, up to the 0x1A mark.
    const auto table = DbfTable::open(dataFile(QStringLiteral("infused_dbase_83.dbf")), "t83");
    const QString memo = table->value(0, 11).toText();
    QCOMPARE(memo.size(), 524);
    QVERIFY(memo.startsWith(
        QStringLiteral("Our Original assortment...a little taste of heaven for everyone.  Let us\r\n")));
    QVERIFY(memo.endsWith(QStringLiteral(", Plum Squares, Milk chocolate squares, and Raspberry Blanc.")));
}

void TestDbf::fieldTypes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("daoType");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("nullable");
    QTest::newRow("C") << "infused_dbase_03.dbf"
                       << "Type" << int(DaoText) << 20 << 0 << false;
    QTest::newRow("N") << "infused_dbase_03.dbf"
                       << "Max_PDOP" << int(DaoDouble) << 5 << 1 << false;
    QTest::newRow("D") << "infused_dbase_03.dbf"
                       << "GPS_Date" << int(DaoDate) << 8 << 0 << false;
    QTest::newRow("F") << "infused_dbase_8b.dbf"
                       << "FLOAT" << int(DaoDouble) << 20 << 18 << false;
    QTest::newRow("L") << "infused_dbase_8b.dbf"
                       << "LOGICAL" << int(DaoBoolean) << 1 << 0 << false;
    QTest::newRow("M") << "infused_dbase_8b.dbf"
                       << "MEMO" << int(DaoMemo) << 0 << 0 << false;
    QTest::newRow("T") << "infused_dbase_30.dbf"
                       << "UPDATED" << int(DaoDate) << 8 << 0 << false;
    QTest::newRow("I") << "infused_dbase_31.dbf"
                       << "PRODUCTID" << int(DaoLong) << 4 << 0 << false;
    QTest::newRow("nullable I") << "infused_dbase_31.dbf"
                                << "SUPPLIERID" << int(DaoLong) << 4 << 0 << true;
    QTest::newRow("Y") << "infused_dbase_31.dbf"
                       << "UNITPRICE" << int(DaoCurrency) << 8 << 4 << true;
    QTest::newRow("V") << "infused_dbase_32.dbf"
                       << "NAME" << int(DaoText) << 250 << 0 << false;
    QTest::newRow("_NullFlags hidden") << "infused_dbase_31.dbf"
                                       << "_NullFlags" << -1 << 0 << 0 << false;
}

void TestDbf::fieldTypes()
{
    QFETCH(QString, file);
    QFETCH(QString, field);
    QFETCH(int, daoType);
    QFETCH(int, width);
    QFETCH(int, decimals);
    QFETCH(bool, nullable);
    const auto table = DbfTable::open(dataFile(file), file);
    const int i = fieldIndex(*table, field);
    if (daoType < 0) {
        QCOMPARE(i, -1);
        return;
    }
    QVERIFY(i >= 0);
    const FieldInfo &info = table->fields()[i];
    QCOMPARE(int(info.daoType), daoType);
    QCOMPARE(info.width, width);
    QCOMPARE(info.decimals, decimals);
    QCOMPARE(info.nullable, nullable);
}

void TestDbf::decodesOddBytes_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Value>("expected");
    QTest::newRow("N leading blanks") << "N:N:8:2" << QByteArray("   12.50") << Value::real(12.5);
    QTest::newRow("N left aligned") << "N:N:8:2" << QByteArray("12.5    ") << Value::real(12.5);
    QTest::newRow("N negative") << "N:N:8:2" << QByteArray("   -0.25") << Value::real(-0.25);
    QTest::newRow("N blank is Null") << "N:N:8:2" << QByteArray("        ") << Value::null();
    QTest::newRow("N comma is no decimal point") << "N:N:8:2" << QByteArray("    1,50") << Value::null();
    QTest::newRow("N overflow stars") << "N:N:8:2" << QByteArray("********") << Value::null();
    QTest::newRow("N two numbers") << "N:N:8:0" << QByteArray(" 12 34  ") << Value::null();
    QTest::newRow("D zeros are Null") << "D:D:8" << QByteArray("00000000") << Value::null();
    QTest::newRow("D blank is Null") << "D:D:8" << QByteArray("        ") << Value::null();
    QTest::newRow("D impossible is Null") << "D:D:8" << QByteArray("20240230") << Value::null();
    QTest::newRow("D blank-padded month and day")
        << "D:D:8" << QByteArray("2024 3 9") << Value::date(QDate(2024, 3, 9));
    QTest::newRow("D blank-padded year")
        << "D:D:8" << QByteArray(" 990 1 5") << Value::date(QDate(990, 1, 5));
    QTest::newRow("D blank after a digit is Null") << "D:D:8" << QByteArray("20 40309") << Value::null();
    QTest::newRow("D blank as last digit is Null") << "D:D:8" << QByteArray("2024030 ") << Value::null();
    QTest::newRow("L lower y") << "L:L:1" << QByteArray("y") << Value::boolean(true);
    QTest::newRow("L n") << "L:L:1" << QByteArray("n") << Value::boolean(false);
    QTest::newRow("L ? is Null") << "L:L:1" << QByteArray("?") << Value::null();
    QTest::newRow("C NUL padding") << "C:C:6" << QByteArray("ab\0\0\0\0", 6)
                                   << Value::text(QStringLiteral("ab"));
    QTest::newRow("C keeps leading blanks")
        << "C:C:6" << QByteArray("  ab  ") << Value::text(QStringLiteral("  ab"));
    QTest::newRow("C cut GBK character") << "C:C:3" << QByteArray("\xB2\xE2\xCA", 3)
                                         << Value::text(QStringLiteral("测") + QChar::ReplacementCharacter);
    QTest::newRow("M blank pointer is Null") << "M:M:10" << QByteArray("          ") << Value::null();
}

void TestDbf::decodesOddBytes()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, bytes);
    QFETCH(Value, expected);
    const auto table = DbfTable::fromBytes(QStringLiteral("odd"), rawTable({field}, {bytes}));
    QCOMPARE(table->value(0, 0), expected);
}

void TestDbf::skipsDeletedRecords()
{
    const auto table = DbfTable::fromBytes(QStringLiteral("del"),
                                           rawTable({"C:C:2"}, {"a ", "b ", "c ", "d "}, 0x4D, " * *"));
    QCOMPARE(table->recordCount(), 2);
    QCOMPARE(table->value(0, 0).toText(), QStringLiteral("a"));
    QCOMPARE(table->value(1, 0).toText(), QStringLiteral("c"));
    QVERIFY_THROWS_EXCEPTION(EngineError, table->value(2, 0));
}

// Records are read from the file a block at a time: a table several blocks
// long, with deleted records on and beside block boundaries, read out of
// order gives what the same bytes give from memory; a file cut short after
// it was opened is an error, not a record read from past its end.
void TestDbf::readsFileInBlocks()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.dbf"));
    QList<QList<Value>> records;
    for (int i = 0; i < 5000; ++i)
        records.append({Value::text(QString::number(i)), Value::text(QStringLiteral("张%1").arg(i))});
    DbfWriter::write(path, {{QStringLiteral("N"), 'C', 8}, {QStringLiteral("XM"), 'C', 92}}, records);
    const int headerLength = 32 + 2 * 32 + 1;
    const int recordLength = 101; // 1297 records to a block of 128 KB
    QByteArray bytes = readAll(path);
    for (const int r : {0, 1296, 1297, 2593, 2594, 4999})
        bytes[headerLength + r * recordLength] = '*';
    writeAll(path, bytes);

    const auto file = DbfTable::open(path, "big");
    const auto memory = DbfTable::fromBytes(QStringLiteral("big"), bytes);
    QCOMPARE(file->recordCount(), 4994);
    QCOMPARE(memory->recordCount(), 4994);
    for (qsizetype r = file->recordCount() - 1; r >= 0; r -= 7)
        QCOMPARE(file->value(r, 1), memory->value(r, 1));
    for (qsizetype r = 0; r < file->recordCount(); ++r)
        QCOMPARE(file->value(r, 0), memory->value(r, 0));

    QCOMPARE(file->value(0, 0), Value::text(QStringLiteral("1")));
    QVERIFY(QFile::resize(path, headerLength + 3000 * recordLength));
    QVERIFY_THROWS_EXCEPTION(EngineError, file->value(file->recordCount() - 1, 0));
}

void TestDbf::folderListsTablesInAnyCase()
{
    QTemporaryDir dir;
    const QByteArray table = rawTable({"C:C:2"}, {"ok"});
    for (const char *name : {"Upper.DBF", "lower.dbf", "Mixed.Dbf"})
        writeAll(dir.filePath(QString::fromLatin1(name)), table);
    writeAll(dir.filePath(QStringLiteral("notes.txt")), "not a table");
    const auto backend = openDbfFolder(dir.path());
    QStringList names = backend->tableNames();
    names.sort();
    QCOMPARE(names, QStringList({"Mixed", "Upper", "lower"}));
    QCOMPARE(backend->openTable(QStringLiteral("UPPER"))->value(0, 0).toText(), QStringLiteral("ok"));
    QCOMPARE(backend->openTable(QStringLiteral("mixed"))->name(), QStringLiteral("Mixed"));
    QVERIFY_THROWS_EXCEPTION(EngineError, backend->openTable(QStringLiteral("notes")));
    // The path of one of its tables names the folder too.
    QCOMPARE(openDbfFolder(dir.filePath(QStringLiteral("lower.dbf")))->tableNames().size(), 3);
}

void TestDbf::honoursCpgAndMemoNameCase()
{
    QTemporaryDir dir;
    // A GBK table marked as code page 1252, with a .cpg that sets it right.
    QByteArray bytes = readAll(dataFile(QStringLiteral("dbasers_cp936.dbf")));
    bytes[29] = 0x03;
    writeAll(dir.filePath(QStringLiteral("marked.dbf")), bytes);
    QVERIFY(DbfTable::open(dir.filePath(QStringLiteral("marked.dbf")), "marked")->value(0, 0).toText() !=
            QStringLiteral("测试中文"));
    writeAll(dir.filePath(QStringLiteral("MARKED.CPG")), "CP936\r\n");
    const auto table = DbfTable::open(dir.filePath(QStringLiteral("marked.dbf")), "marked");
    QCOMPARE(table->codecName(), QByteArray("GBK"));
    QCOMPARE(table->value(0, 0).toText(), QStringLiteral("测试中文"));

    // A memo file whose name differs in letter case from its table's.
    QFile::copy(dataFile(QStringLiteral("infused_dbase_8b.dbf")), dir.filePath(QStringLiteral("T8B.DBF")));
    QFile::copy(dataFile(QStringLiteral("infused_dbase_8b.dbt")), dir.filePath(QStringLiteral("t8b.dbt")));
    const auto memo = DbfTable::open(dir.filePath(QStringLiteral("T8B.DBF")), "T8B");
    QCOMPARE(memo->value(0, 5).toText(), QStringLiteral("First memo\r\n"));
}

void TestDbf::refusesDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray good = rawTable({"C:C:4", "N:N:5:1"}, {"abcd 12.5", "efgh  1.0"});
    auto patched = [&good](int offset, QByteArray b) {
        QByteArray out = good;
        out.replace(offset, b.size(), b);
        return out;
    };
    QTest::newRow("empty file") << QByteArray() << "only 0 bytes";
    QTest::newRow("text file") << QByteArray("name,class\n张三,高二\n") << "not a dBase or FoxPro table";
    QTest::newRow("dBase 7") << patched(0, "\x04") << "dBase 7";
    QTest::newRow("truncated in the header") << good.left(40) << "longer than the file";
    QTest::newRow("header length too small")
        << patched(8, QByteArray("\x10\x00", 2)) << "header length 16 is too small";
    QTest::newRow("fields wider than the record")
        << patched(10, QByteArray("\x06\x00", 2)) << "does not fit the record length";
    QTest::newRow("no fields") << patched(32, "\x0D") << "declares no fields";
    QTest::newRow("record length zero") << patched(10, QByteArray("\x00\x00", 2)) << "record length 0";
    // Lying headers that would shift every value.
    QTest::newRow("record length one byte more than the fields")
        << patched(10, QByteArray("\x0B\x00", 2))
        << "fields add up to 10 bytes a record, but the header says 11";
    QTest::newRow("field of width 0") << patched(32 + 16, QByteArray("\x00", 1)) << "field C is 0 bytes wide";
    QTest::newRow("deletion flag of the second record")
        << patched(32 + 64 + 1 + 10, "#") << "record 2 starts with byte 0x23 at offset 107";
    QTest::newRow("deletion flag NUL")
        << patched(32 + 64 + 1, QByteArray(1, '\0')) << "record 1 starts with byte 0x00";
}

void TestDbf::refusesDamagedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    try {
        DbfTable::fromBytes(QStringLiteral("broken.dbf"), bytes);
        QFAIL("a damaged table was accepted");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(QStringLiteral("broken.dbf")), qPrintable(e.message()));
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
    }
}

void TestDbf::readsCompleteRecordsOfOvercountedTable_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("promised");
    QTest::addColumn<int>("present");
    // Three records of 10 bytes (flag, C4, N5.1) and the end mark.
    const QByteArray good = rawTable({"C:C:4", "N:N:5:1"}, {"abcd 12.5", "efgh  1.0", "ijkl  2.0"});
    auto counted = [](QByteArray b, quint32 count) {
        for (int i = 0; i < 4; ++i)
            b[4 + i] = char(count >> (8 * i));
        return b;
    };
    QTest::newRow("one too many, end mark follows") << counted(good, 4) << 4 << 3;
    QTest::newRow("one too many, no end mark") << counted(good.chopped(1), 4) << 4 << 3;
    QTest::newRow("one too many, end mark and 9 stray bytes") << counted(good + "xxxxxxxxx", 4) << 4 << 3;
    QTest::newRow("last record one byte short") << good.chopped(2) << 3 << 2;
    QTest::newRow("count 2147483647") << counted(good, 0x7FFFFFFF) << 0x7FFFFFFF << 3;
    QTest::newRow("no record present") << counted(good.left(32 + 64 + 1), 2) << 2 << 0;
}

// A header that promises more records than the file holds: the complete
// ones are read, and the table says how many the header promised.
void TestDbf::readsCompleteRecordsOfOvercountedTable()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, promised);
    QFETCH(int, present);
    const auto table = DbfTable::fromBytes(QStringLiteral("over.dbf"), bytes);
    QCOMPARE(table->recordCount(), present);
    const QStringList values{"abcd", "efgh", "ijkl"};
    for (int r = 0; r < present; ++r)
        QCOMPARE(table->value(r, 0).toText(), values[r]);
    QCOMPARE(table->notes().size(), 1);
    QVERIFY2(table->notes().first().message.contains(
                 QStringLiteral("over.dbf: its header promises %1 records, but only %2 are present")
                     .arg(promised)
                     .arg(present)),
             qPrintable(table->notes().first().message));
    QVERIFY(table->notes().first().warns &&
            table->notes().first().chinese.contains(QString::number(present)));
    // A table whose count is right has nothing to say.
    QVERIFY(DbfTable::fromBytes(QStringLiteral("ok.dbf"), rawTable({"C:C:4"}, {"abcd"}))->notes().isEmpty());
}

// Such a table may be written: an update changes its field in a complete
// record and the header date, never the record count or the length.
void TestDbf::updatesOvercountedTableWithinItsRecords()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("over.dbf"));
    QByteArray bytes = rawTable({"C:C:4", "N:N:5:1"}, {"abcd 12.5", "efgh  1.0"});
    bytes[4] = 3;
    writeAll(path, bytes);
    const auto table = DbfTable::open(path, "over");
    QCOMPARE(table->recordCount(), 2);
    table->update(1, 0, Value::text(QStringLiteral("zz")));
    const QByteArray after = readAll(path);
    QCOMPARE(after.size(), bytes.size());
    const qsizetype field = 32 + 64 + 1 + 10 + 1;
    for (const qsizetype at : differences(bytes, after))
        QVERIFY2((at >= 1 && at <= 3) || (at >= field && at < field + 4), qPrintable(QString::number(at)));
    QCOMPARE(after.mid(field, 4), QByteArray("zz  "));
}

void TestDbf::readsVisualFoxProVariants_data()
{
    QTest::addColumn<bool>("backlink");
    QTest::addColumn<bool>("offsets");
    QTest::newRow("as Visual FoxPro writes it") << true << true;
    QTest::newRow("without the backlink") << false << true;
    QTest::newRow("without the backlink, offsets 0") << false << false;
    QTest::newRow("with the backlink, offsets 0") << true << false;
}

// Visual FoxPro tables other writers made read the same as Visual FoxPro's own.
void TestDbf::readsVisualFoxProVariants()
{
    QFETCH(bool, backlink);
    QFETCH(bool, offsets);
    const QList<QByteArray> records{"ab12345", "cd67890"};
    const auto table =
        DbfTable::fromBytes(QStringLiteral("vfp.dbf"), rawVfpTable({2, 5}, records, backlink, offsets));
    QCOMPARE(table->fields().size(), 2);
    QCOMPARE(table->recordCount(), 2);
    for (int r = 0; r < 2; ++r) {
        QCOMPARE(table->value(r, 0).toText(), QString::fromLatin1(records[r].left(2)));
        QCOMPARE(table->value(r, 1).toText(), QString::fromLatin1(records[r].mid(2)));
    }
}

// A language-driver byte no format defines: the text reads as GBK with a
// note, and no text is written in a code page that was only guessed, until
// a .cpg beside the table names one.
void TestDbf::unknownLanguageDriver()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("odd.dbf"));
    const QByteArray bytes = rawTable({"C:C:4", "N:N:5:1"}, {"\xB2\xE2\xCA\xD4 12.5"}, 0x42);
    writeAll(path, bytes);
    {
        const auto table = DbfTable::open(path, "odd");
        QCOMPARE(table->codecName(), QByteArray("GBK"));
        QCOMPARE(table->value(0, 0).toText(), QStringLiteral("测试"));
        QCOMPARE(table->notes().size(), 1);
        QVERIFY2(table->notes().first().message.contains(
                     QStringLiteral("odd.dbf: its language-driver byte 0x42 names no code page")),
                 qPrintable(table->notes().first().message));
        QVERIFY(table->notes().first().warns &&
                table->notes().first().chinese.contains(QStringLiteral("0x42")));
        try {
            table->update(0, 0, Value::text(QStringLiteral("ab")));
            QFAIL("text was written in a guessed code page");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("0x42")), qPrintable(e.message()));
        }
        QVERIFY_THROWS_EXCEPTION(EngineError, table->checkUpdate(0, 0, Value::text(QStringLiteral("ab"))));
        QCOMPARE(readAll(path), bytes);
        // A number is not text in any code page.
        table->update(0, 1, Value::real(1.5));
        QCOMPARE(DbfTable::open(path, "odd")->value(0, 1), Value::real(1.5));
    }
    writeAll(dir.filePath(QStringLiteral("odd.cpg")), "936");
    const auto table = DbfTable::open(path, "odd");
    QVERIFY(table->notes().isEmpty());
    table->update(0, 0, Value::text(QStringLiteral("试")));
    QCOMPARE(DbfTable::open(path, "odd")->value(0, 0).toText(), QStringLiteral("试"));
}

void TestDbf::refusesMissingFile()
{
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(EngineError, DbfTable::open(dir.filePath(QStringLiteral("none.dbf")), "none"));
    QVERIFY_THROWS_EXCEPTION(EngineError, openDbfFolder(dir.filePath(QStringLiteral("no-such-folder"))));
    // A memo field whose memo file is gone.
    QFile::copy(dataFile(QStringLiteral("infused_dbase_83.dbf")), dir.filePath(QStringLiteral("m.dbf")));
    const auto table = DbfTable::open(dir.filePath(QStringLiteral("m.dbf")), "m");
    QVERIFY_THROWS_EXCEPTION(EngineError, table->value(0, 11));
}

void TestDbf::updatesGbkTextInPlace()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.dbf"));
    QVERIFY(QFile::copy(dataFile(QStringLiteral("roster_zh_30_lo_cp936.dbf")), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = readAll(path);
    {
        const auto table = DbfTable::open(path, "roster");
        table->update(3, 1, Value::text(QStringLiteral("王小明")));
        QCOMPARE(table->value(3, 1).toText(), QStringLiteral("王小明"));
    }
    const QByteArray after = readAll(path);
    QCOMPARE(after.size(), before.size());
    const auto table = DbfTable::open(path, "roster");
    QCOMPARE(table->value(3, 1).toText(), QStringLiteral("王小明"));
    QCOMPARE(table->value(2, 1).toText(), QStringLiteral("Mary O'Connor（玛丽）"));
    // Only the header date and the field's 44 bytes may differ.
    const qsizetype fieldStart = 225 + 3 * 78 + 1 + 10;
    for (const qsizetype at : differences(before, after))
        QVERIFY2((at >= 1 && at <= 3) || (at >= fieldStart && at < fieldStart + 44),
                 qPrintable(QString::number(at)));
    QCOMPARE(after.mid(fieldStart, 44), QByteArray("\xCD\xF5\xD0\xA1\xC3\xF7").leftJustified(44, ' '));
    const QDate today = QDate::currentDate();
    QCOMPARE(int(quint8(after[1])), today.year() % 100); // the writer stored 2-digit years
    QCOMPARE(int(after[2]), today.month());
    QCOMPARE(int(after[3]), today.day());
}

void TestDbf::updateKeepsTwoDigitYear()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    writeAll(path, rawTable({"C:C:4"}, {"abcd"})); // year byte 124: years after 1900
    DbfTable::open(path, "t")->update(0, 0, Value::text(QStringLiteral("x")));
    QCOMPARE(int(quint8(readAll(path)[1])), QDate::currentDate().year() - 1900);
}

void TestDbf::updatesNullableVisualFoxProField()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("products.dbf"));
    QVERIFY(QFile::copy(dataFile(QStringLiteral("infused_dbase_31.dbf")), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const int unitsOnOrder = fieldIndex(*DbfTable::open(path, "p"), QStringLiteral("UNITSONORD"));
    const int price = fieldIndex(*DbfTable::open(path, "p"), QStringLiteral("UNITPRICE"));
    // Record 4's _NullFlags byte is its last; UNITSONORD has null bit 5 (SUPPLIERID has bit 0).
    const qsizetype flagsAt = 648 + 4 * 95 + 94;
    DbfTable::open(path, "p")->update(4, unitsOnOrder, Value::null());
    QCOMPARE(DbfTable::open(path, "p")->value(4, unitsOnOrder), Value::null());
    QCOMPARE(int(quint8(readAll(path)[flagsAt])), 0x20);

    DbfTable::open(path, "p")->update(4, unitsOnOrder, Value::integer(250));
    DbfTable::open(path, "p")->update(4, price, Value::currency(123456));
    const auto table = DbfTable::open(path, "p");
    QCOMPARE(table->value(4, unitsOnOrder), Value::integer(250));
    QCOMPARE(table->value(4, price), Value::currency(123456));
    QCOMPARE(int(quint8(readAll(path)[flagsAt])), 0);
    QCOMPARE(table->value(3, unitsOnOrder),
             DbfTable::open(dataFile(QStringLiteral("infused_dbase_31.dbf")), "o")->value(3, unitsOnOrder));
    QVERIFY_THROWS_EXCEPTION(EngineError, table->update(4, 0, Value::null())); // PRODUCTID is not nullable
}

void TestDbf::updatesMemo_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("field");
    QTest::newRow("FoxPro .fpt") << "infused_dbase_30"
                                 << "fpt"
                                 << "CLASSES";
    QTest::newRow("dBase III .dbt") << "infused_dbase_83"
                                    << "dbt"
                                    << "DESC";
    QTest::newRow("dBase IV .dbt") << "infused_dbase_8b"
                                   << "dbt"
                                   << "MEMO";
}

void TestDbf::updatesMemo()
{
    QFETCH(QString, table);
    QFETCH(QString, memo);
    QFETCH(QString, field);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    const QString memoPath = dir.filePath(QStringLiteral("t.") + memo);
    QVERIFY(QFile::copy(dataFile(table + QStringLiteral(".dbf")), path));
    QVERIFY(QFile::copy(dataFile(table + QLatin1Char('.') + memo), memoPath));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(memoPath, QFile::ReadOwner | QFile::WriteOwner);

    auto original = DbfTable::open(path, "t");
    const int f = fieldIndex(*original, field);
    QList<Value> others;
    for (qsizetype r = 0; r < original->recordCount(); ++r)
        others.append(original->value(r, f));
    const qint64 memoSizeBefore = QFileInfo(memoPath).size();
    const QString text = original->codecName() == "GBK" ? QStringLiteral("照片 photo 001.jpg\r\nsecond line")
                                                        : QStringLiteral("photo 001.jpg\r\nsecond line");
    original->update(0, f, Value::text(text));
    QCOMPARE(original->value(0, f).toText(), text);
    QVERIFY(QFileInfo(memoPath).size() > memoSizeBefore);

    const auto reopened = DbfTable::open(path, "t");
    QCOMPARE(reopened->value(0, f).toText(), text);
    for (qsizetype r = 1; r < reopened->recordCount(); ++r)
        QCOMPARE(reopened->value(r, f), others[r]);
    // The memo header's next free block is the new end of the file.
    const QByteArray memoBytes = readAll(memoPath);
    const bool fpt = memo == QLatin1String("fpt");
    const quint32 next = fpt ? quint32(quint8(memoBytes[0])) << 24 | quint32(quint8(memoBytes[1])) << 16 |
                                   quint32(quint8(memoBytes[2])) << 8 | quint32(quint8(memoBytes[3]))
                             : quint32(quint8(memoBytes[0])) | quint32(quint8(memoBytes[1])) << 8 |
                                   quint32(quint8(memoBytes[2])) << 16;
    QCOMPARE(qint64(next) * (fpt ? 64 : 512), qint64(memoBytes.size()));
}

void TestDbf::updateGivesUpOnAnotherProgramsLock_data()
{
    QTest::addColumn<QString>("file"); // the file that is locked
    QTest::addColumn<short>("type");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("length");
    // FoxPro locks record n as one byte at 0x7FFFFFFE - n.
    QTest::newRow("record lock far past the end")
        << "t.dbf" << short(F_WRLCK) << qint64(0x7FFFFFFE - 1) << qint64(1);
    QTest::newRow("read lock on the header") << "t.dbf" << short(F_RDLCK) << qint64(0) << qint64(32);
    QTest::newRow("lock on the memo file") << "t.fpt" << short(F_WRLCK) << qint64(0) << qint64(1);
}

// A lock another program holds makes the update give up after about two
// seconds with a reason the window can recognise, and write nothing; once
// the lock is gone the same update goes through. The lock is an
// open-file-description lock, which conflicts with the engine's own even
// inside one process.
void TestDbf::updateGivesUpOnAnotherProgramsLock()
{
    QFETCH(QString, file);
    QFETCH(short, type);
    QFETCH(qint64, start);
    QFETCH(qint64, length);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    writeAll(path, readAll(dataFile(QStringLiteral("infused_dbase_30.dbf"))));
    writeAll(dir.filePath(QStringLiteral("t.fpt")),
             readAll(dataFile(QStringLiteral("infused_dbase_30.fpt"))));
    const QByteArray before = readAll(path);
    const QByteArray memoBefore = readAll(dir.filePath(QStringLiteral("t.fpt")));
    const auto table = DbfTable::open(path, "t");
    const int memo = fieldIndex(*table, QStringLiteral("CLASSES"));

    const int holder = ::open(QFile::encodeName(dir.filePath(file)).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(holder >= 0);
    struct flock lock
    {
    };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    QCOMPARE(::fcntl(holder, F_OFD_SETLK, &lock), 0);

    QElapsedTimer timer;
    timer.start();
    try {
        table->update(0, memo, Value::text(QStringLiteral("photo.jpg")));
        QFAIL("the update went through another program's lock");
    } catch (const EngineError &e) {
        QCOMPARE(e.code(), EngineError::Code::Locked);
        QVERIFY2(e.message().contains(file + QStringLiteral(" is locked by another program")),
                 qPrintable(e.message()));
    }
    QVERIFY2(timer.elapsed() >= 1500 && timer.elapsed() < 10000,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(readAll(path), before);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("t.fpt"))), memoBefore);

    ::close(holder);
    table->update(0, memo, Value::text(QStringLiteral("photo.jpg")));
    QCOMPARE(DbfTable::open(path, "t")->value(0, memo).toText(), QStringLiteral("photo.jpg"));
}

void TestDbf::updateMatchesWhatAnotherProgramLeft_data()
{
    // The table as the other program leaves it: the students of the first
    // table (0 to 8; 8 is new) in their new places, and their deletion flags.
    QTest::addColumn<QList<int>>("order");
    QTest::addColumn<QByteArray>("flags");
    QTest::addColumn<bool>("widened"); // the name field made a byte wider
    const QList<int> same = {0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("two records swapped")
        << QList<int>{0, 1, 2, 3, 5, 4, 6, 7} << QByteArray("        ") << false;
    QTest::newRow("a record appended")
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8} << QByteArray("         ") << false;
    QTest::newRow("packed, a record before it gone")
        << QList<int>{0, 1, 3, 4, 5, 6, 7} << QByteArray("       ") << false;
    QTest::newRow("a record before it deleted") << same << QByteArray("  *     ") << false;
    QTest::newRow("deleted, a copy appended")
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 4} << QByteArray("    *    ") << false;
    QTest::newRow("its record deleted") << same << QByteArray("    *   ") << false;
    QTest::newRow("packed away") << QList<int>{0, 1, 2, 3, 5, 6, 7} << QByteArray("       ") << false;
    QTest::newRow("its fields changed") << same << QByteArray("        ") << true;
}

// While an update waits for another program's lock, that program moves the
// records; the update must then match them as they are once it has the
// lock: the photo name goes into the record that holds the student (not
// into the one that held him before), or nowhere when he is gone, and no
// other byte changes. A table whose fields changed is refused untouched.
void TestDbf::updateMatchesWhatAnotherProgramLeft()
{
    QFETCH(QList<int>, order);
    QFETCH(QByteArray, flags);
    QFETCH(bool, widened);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.dbf"));
    QList<DbfWriter::Field> fields = {{QStringLiteral("学号"), 'C', 10},
                                      {QStringLiteral("姓名"), 'C', 20},
                                      {QStringLiteral("照片"), 'C', 40}};
    QList<QList<Value>> students;
    for (int i = 0; i < 9; ++i)
        students.append({Value::text(QStringLiteral("202400000%1").arg(i + 1)),
                         Value::text(QStringLiteral("学生%1").arg(i + 1)), Value::null()});
    DbfWriter::write(path, fields, students.first(8));
    QList<QList<Value>> moved;
    for (const int i : order)
        moved.append(students.at(i));
    const QString movedPath = dir.filePath(QStringLiteral("moved.dbf"));
    fields[1].length += widened ? 1 : 0;
    DbfWriter::write(movedPath, fields, moved);
    QByteArray after = readAll(movedPath);
    const int headerLength = quint8(after[8]) | quint8(after[9]) << 8;
    const int recordLength = quint8(after[10]) | quint8(after[11]) << 8;
    for (qsizetype i = 0; i < flags.size(); ++i)
        after[headerLength + i * recordLength] = flags[i];

    // Student 5 written into whichever live record now holds him.
    QByteArray expected = after;
    for (qsizetype i = 0; i < order.size(); ++i)
        if (order[i] == 4 && flags[i] == ' ' && !widened)
            expected.replace(headerLength + i * recordLength + 31, 40,
                             QByteArray("2024000005.jpg").leftJustified(40, ' '));

    // LUMORA_DBF_RACE_ROUNDS=n (scripts/dbf-lock-race.sh) runs n rounds
    // with the lock held for a random time within the update's wait.
    const QByteArray first = readAll(path);
    const int rounds = std::max(1, qEnvironmentVariableIntValue("LUMORA_DBF_RACE_ROUNDS"));
    QList<qint64> waits;
    for (int round = 0; round < rounds; ++round) {
        writeAll(path, first);
        const int holdMs = rounds == 1 ? 500 : QRandomGenerator::global()->bounded(1500);
        const auto db = Database::open(path, QStringLiteral("dBASE IV"));
        QCOMPARE(db->fields(QStringLiteral("roster")).size(), 3); // opened before the other program writes
        LockingWriter other(path, after, holdMs);
        QVERIFY(other.locked());
        QElapsedTimer timer;
        timer.start();
        UpdateResult result;
        try {
            result = db->executeIfMatches(
                QStringLiteral("update roster set 照片='2024000005.jpg' where 学号='2024000005'"), 1);
            QVERIFY(!widened);
        } catch (const EngineError &e) {
            QVERIFY2(widened &&
                         e.message() == QStringLiteral("roster.dbf was changed by another program since it "
                                                       "was opened; open it again"),
                     qPrintable(e.message()));
        }
        waits << timer.elapsed();
        QCOMPARE(other.finish(), 0);
        QVERIFY2(waits.last() >= holdMs * 3 / 5, qPrintable(QString::number(waits.last()))); // it did wait
        QCOMPARE(result.written, expected != after);
        QByteArray now = readAll(path);
        now.replace(1, 3, after.mid(1, 3)); // the date of the last update
        QCOMPARE(differences(now, expected), QList<qsizetype>());
    }
    std::sort(waits.begin(), waits.end());
    if (rounds > 1)
        qInfo("%d rounds, each right; the update waited %lld to %lld ms (median %lld)", rounds, waits.first(),
              waits.last(), waits.at(waits.size() / 2));
}

// A memo file of 6 GB (sparse: an earlier writer's block far past the end)
// opens, reads and takes a new memo with 1 GB of address space: blocks are
// read when asked for, never the whole file.
void TestDbf::hugeMemoFileNeedsNoMemory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    const QString memoPath = dir.filePath(QStringLiteral("t.fpt"));
    writeAll(path, readAll(dataFile(QStringLiteral("infused_dbase_30.dbf"))));
    writeAll(memoPath, readAll(dataFile(QStringLiteral("infused_dbase_30.fpt"))));
    const auto original = DbfTable::open(path, "t");
    const int f = fieldIndex(*original, QStringLiteral("CLASSES"));
    const QString first = original->value(0, f).toText();
    QFile memo(memoPath);
    const qint64 huge = qint64(6) << 30;
    QVERIFY(memo.resize(huge));
    const int status = inChildWithAddressLimit([&] {
        const auto table = DbfTable::open(path, "t");
        if (table->value(0, f).toText() != first)
            throw std::runtime_error("memo misread");
        table->update(1, f, Value::text(QStringLiteral("photo.jpg")));
        if (table->value(1, f).toText() != QStringLiteral("photo.jpg"))
            throw std::runtime_error("new memo misread");
    });
    QCOMPARE(status, 0);
    QCOMPARE(QFileInfo(memoPath).size(), huge + 64);
}

void TestDbf::memoUpdateIgnoresLyingNextFree_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("nextFree"); // the memo header's first four bytes, as found
    // The .fpt holds 730 blocks of 64 bytes; its header is big-endian.
    QTest::newRow("fpt, written little-endian") << "infused_dbase_30"
                                                << "fpt"
                                                << "CLASSES" << QByteArray("\x0b\x00\x00\x00", 4);
    QTest::newRow("fpt, one block past the end") << "infused_dbase_30"
                                                 << "fpt"
                                                 << "CLASSES" << QByteArray("\x00\x00\x02\xdb", 4);
    QTest::newRow("fpt, exactly the end") << "infused_dbase_30"
                                          << "fpt"
                                          << "CLASSES" << QByteArray("\x00\x00\x02\xda", 4);
    QTest::newRow("fpt, behind the end") << "infused_dbase_30"
                                         << "fpt"
                                         << "CLASSES" << QByteArray("\x00\x00\x00\x08", 4);
    QTest::newRow("fpt, all ones") << "infused_dbase_30"
                                   << "fpt"
                                   << "CLASSES" << QByteArray("\xff\xff\xff\xff", 4);
    // The dBase III .dbt holds 79 blocks of 512 bytes (the last one short); little-endian.
    QTest::newRow("dbt, written big-endian") << "infused_dbase_83"
                                             << "dbt"
                                             << "DESC" << QByteArray("\x00\x00\x00\x0b", 4);
    QTest::newRow("dbt, behind the end") << "infused_dbase_83"
                                         << "dbt"
                                         << "DESC" << QByteArray("\x02\x00\x00\x00", 4);
}

// Whatever the header's next free block says, a new memo goes right after
// the last block of the file, the header is set right, and no other memo
// changes. The update runs with 1 GB of address space: an engine that
// trusted the header wrote gigabytes past the end and then could not read
// the file back.
void TestDbf::memoUpdateIgnoresLyingNextFree()
{
    QFETCH(QString, table);
    QFETCH(QString, memo);
    QFETCH(QString, field);
    QFETCH(QByteArray, nextFree);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    const QString memoPath = dir.filePath(QStringLiteral("t.") + memo);
    QVERIFY(QFile::copy(dataFile(table + QStringLiteral(".dbf")), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QByteArray memoBytes = readAll(dataFile(table + QLatin1Char('.') + memo));
    memoBytes.replace(0, 4, nextFree);
    writeAll(memoPath, memoBytes);

    const auto before = DbfTable::open(path, "t");
    const int f = fieldIndex(*before, field);
    const bool fpt = memo == QLatin1String("fpt");
    const qint64 blockSize = fpt ? 64 : 512;
    QList<Value> values;
    for (qsizetype r = 0; r < before->recordCount(); ++r)
        values.append(before->value(r, f));
    const QString text = QStringLiteral("photo 001.jpg");

    const int status =
        inChildWithAddressLimit([&] { DbfTable::open(path, "t")->update(0, f, Value::text(text)); });
    QCOMPARE(status, 0);

    // One block after the old end: 8 + 13 bytes, or 13 bytes and the end mark.
    const qint64 start = (memoBytes.size() + blockSize - 1) / blockSize * blockSize;
    QCOMPARE(QFileInfo(memoPath).size(), start + blockSize);
    const QByteArray after = readAll(memoPath);
    QCOMPARE(after.mid(4, memoBytes.size() - 4), memoBytes.mid(4));
    QCOMPARE(qint64(fpt ? be32(after, 0) : le32(after, 0)), qint64(after.size()) / blockSize);
    const auto reopened = DbfTable::open(path, "t");
    QCOMPARE(reopened->value(0, f).toText(), text);
    for (qsizetype r = 1; r < reopened->recordCount(); ++r)
        QCOMPARE(reopened->value(r, f), values[r]);
}

void TestDbf::refusesValuesThatDoNotFit_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("field");
    QTest::addColumn<Value>("value");
    QTest::addColumn<QString>("message");
    const QString lo = QStringLiteral("roster_zh_30_lo_cp936.dbf");
    QTest::newRow("text too long in bytes")
        << lo << 2 << Value::text(QStringLiteral("高二(20)班级")) << "is 10 bytes wide";
    QTest::newRow("character outside GBK")
        << lo << 1 << Value::text(QStringLiteral("😀")) << "code page GBK lacks";
    QTest::newRow("Chr(0) inside a text")
        << lo << 1 << Value::text(QStringLiteral("张") + QChar(0) + QStringLiteral("三"))
        << QStringLiteral("\"张␀三\": it has the character Chr(0)");
    QTest::newRow("long text quoted in part") << lo << 0 << Value::text(QString(100, QChar(0x957F)))
                                              << QString(40, QChar(0x957F)) + QStringLiteral("…\"");
    QTest::newRow("number too wide") << lo << 3 << Value::real(123.5) << "is 4 characters wide";
    QTest::newRow("too many decimals") << lo << 3 << Value::real(1.25) << "allows 1 decimals";
    QTest::newRow("text in a number") << lo << 3 << Value::text(QStringLiteral("1,5")) << "is not one";
    QTest::newRow("date with time") << lo << 4
                                    << Value::dateTime(QDateTime(QDate(2024, 1, 1), QTime(8, 0), Qt::UTC))
                                    << "has a time";
    QTest::newRow("not a date") << lo << 4 << Value::text(QStringLiteral("2024-02-30")) << "is not one";
    QTest::newRow("boolean text") << "infused_dbase_83.dbf" << 13 << Value::text(QStringLiteral("maybe"))
                                  << "True or False";
    QTest::newRow("integer out of range")
        << "infused_dbase_31.dbf" << 6 << Value::real(3e9) << "whole numbers";
}

void TestDbf::refusesValuesThatDoNotFit()
{
    QFETCH(QString, file);
    QFETCH(int, field);
    QFETCH(Value, value);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    QVERIFY(QFile::copy(dataFile(file), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = readAll(path);
    try {
        DbfTable::open(path, "t")->update(0, field, value);
        QFAIL("a value that does not fit was written");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QVERIFY(!e.chinese().isEmpty());
    }
    QCOMPARE(readAll(path), before);
}

void TestDbf::textReadsBackAsWrittenOrIsRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("field");
    const QDir dir(dataFile(QString()));
    for (const QString &file : dir.entryList({QStringLiteral("*.dbf")}, QDir::Files, QDir::Name)) {
        const auto table = DbfTable::open(dir.filePath(file), file);
        for (const char type : {'C', 'V', 'M'}) {
            const QList<DbfField> &fields = table->header().fields;
            const auto f = std::find_if(fields.begin(), fields.end(),
                                        [type](const DbfField &d) { return d.type == type; });
            if (f != fields.end())
                QTest::addRow("%s %c", qPrintable(file), type) << file << int(f - fields.begin());
        }
    }
}

// Every text written into the first text field of a type, in every table
// here, either reads back as it was written (less the trailing blanks that
// pad a field) or is refused with the file untouched: a NUL, which ends a
// field's text, characters the code page lacks, lone surrogates.
void TestDbf::textReadsBackAsWrittenOrIsRefused()
{
    QFETCH(QString, file);
    QFETCH(int, field);
    QTemporaryDir dir;
    const QString base = QFileInfo(file).completeBaseName();
    QStringList copies;
    for (const QFileInfo &f : QDir(dataFile(QString())).entryInfoList({base + QStringLiteral(".*")})) {
        copies << dir.filePath(QStringLiteral("t.") + f.suffix());
        writeAll(copies.last(), readAll(f.filePath()));
    }
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    const bool memo = DbfTable::open(path, "t")->header().fields[field].isMemo();
    const QStringList probes = {QStringLiteral("a") + QChar(0) + QStringLiteral("b"),
                                QStringLiteral("ab") + QChar(0),
                                QString(QChar(0)),
                                QStringLiteral("\tA\x1A\r\n"),
                                QStringLiteral("张三"),
                                QStringLiteral("café Ω"),
                                QStringLiteral("😀"),
                                QString(QChar(0xFFFD)),
                                QString(QChar(0xD800)) + QStringLiteral("x")};
    for (const QString &probe : probes) {
        QList<QByteArray> before;
        for (const QString &copy : copies)
            before << readAll(copy);
        try {
            DbfTable::open(path, "t")->update(0, field, Value::text(probe));
        } catch (const EngineError &e) {
            for (qsizetype i = 0; i < copies.size(); ++i)
                QVERIFY2(readAll(copies[i]) == before[i], qPrintable(e.message()));
            continue;
        }
        QString expected = probe;
        while (!memo && expected.endsWith(QLatin1Char(' ')))
            expected.chop(1);
        QCOMPARE(DbfTable::open(path, "t")->value(0, field).toText(), expected);
    }
}

void TestDbf::writerRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.dbf"));
    const QList<DbfWriter::Field> fields = {{QStringLiteral("学号"), 'C', 10},
                                            {QStringLiteral("XM"), 'C', 8},
                                            {QStringLiteral("CJ"), 'N', 6, 2},
                                            {QStringLiteral("SR"), 'D', 8},
                                            {QStringLiteral("ZX"), 'L', 1}};
    DbfWriter::write(path, fields,
                     {{Value::text(QStringLiteral("2024000001")), Value::text(QStringLiteral("张三")),
                       Value::real(-3.5), Value::date(QDate(2009, 4, 19)), Value::boolean(true)},
                      {Value::text(QStringLiteral("2024000002")), Value::null(), Value::null(), Value::null(),
                       Value::null()}});
    const auto table = DbfTable::open(path, "new");
    QCOMPARE(table->header().version, quint8(0x03));
    QCOMPARE(table->header().languageDriver, quint8(0x4D));
    QCOMPARE(table->fields()[0].name, QStringLiteral("学号"));
    QCOMPARE(table->recordCount(), 2);
    QCOMPARE(table->value(0, 1), Value::text(QStringLiteral("张三")));
    QCOMPARE(table->value(0, 2), Value::real(-3.5));
    QCOMPARE(table->value(0, 3), Value::date(QDate(2009, 4, 19)));
    QCOMPARE(table->value(0, 4), Value::boolean(true));
    QCOMPARE(table->value(1, 1), Value::text(QString()));
    QCOMPARE(table->value(1, 2), Value::null());
    QCOMPARE(table->value(1, 3), Value::null());
    QCOMPARE(table->value(1, 4), Value::null());
    QCOMPARE(readAll(path).back(), '\x1A');

    // A value too long leaves the old file in place.
    const QByteArray before = readAll(path);
    QVERIFY_THROWS_EXCEPTION(EngineError, DbfWriter::write(path, fields,
                                                           {{Value::text(QStringLiteral("2024000001")),
                                                             Value::text(QStringLiteral("欧阳小明明")),
                                                             Value::null(), Value::null(), Value::null()}}));
    QCOMPARE(readAll(path), before);
}

QTEST_GUILESS_MAIN(TestDbf)
#include "tst_dbf.moc"
