#include "DbfMaker.h"
#include "MemoryBackend.h"

#include "DbfWriter.h"
#include "data/FailureText.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace lumora::engine;

// Builds files in `folder` and does one thing with them that the engine
// refuses.
using Provoke = std::function<void(const QString &folder)>;
Q_DECLARE_METATYPE(Provoke)

// What the window shows for an engine failure: Chinese, naming the file,
// table or field concerned, with the facts of the English text lumora-sql
// prints.
class TstFailureText : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void engineFailuresReadInChinese_data();
    void engineFailuresReadInChinese();
    void lockedTableSaysSo();
    void partialUpdateKeepsBothTextsAndCode();
    void otherFailuresAreFramedInChinese();
    void systemErrorsAnOperatorCanFix();
};

namespace {

QStringList g_warnings;

void recordWarning(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_warnings << text;
}

struct Caught
{
    bool thrown = false;
    bool engine = false; // an EngineError
    QString english;     // EngineError::message()
    QString shown;       // CurrentFailureText()
    EngineError::Code code = EngineError::Code::Other;
};

Caught provoke(const std::function<void()> &f)
{
    Caught c;
    try {
        f();
    } catch (...) {
        c.thrown = true;
        c.shown = CurrentFailureText();
        try {
            throw;
        } catch (const EngineError &e) {
            c.engine = true;
            c.english = e.message();
            c.code = e.code();
        } catch (...) {
        }
    }
    return c;
}

bool hasChinese(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// Three or more English words in a row: a sentence left untranslated.
QString englishRun(const QString &text)
{
    static const QRegularExpression words(QStringLiteral("[A-Za-z]+(?:[ ,;:]+[A-Za-z]+){2,}"));
    return words.match(text).captured();
}

// The numbers and quoted values of an English message, which the Chinese
// text must carry too.
QStringList factsOf(QString english, const QString &folder)
{
    english.remove(folder);
    QStringList facts;
    static const QRegularExpression numbers(QStringLiteral("0x[0-9a-f]+|\\d+"));
    for (auto it = numbers.globalMatch(english); it.hasNext();)
        facts << it.next().captured();
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
    for (auto it = quoted.globalMatch(english); it.hasNext();)
        facts << it.next().captured(1);
    return facts;
}

// 学生.dbf: 学号 C10, 姓名 C10, 照片 C8, 班级 N3, 生日 D, 在校 L, in GBK.
QString writeRoster(const QString &folder, const QString &file = QStringLiteral("学生.dbf"))
{
    DbfMaker roster({{"学号", 'C', 10},
                     {"姓名", 'C', 10},
                     {"照片", 'C', 8},
                     {"班级", 'N', 3},
                     {"生日", 'D', 8},
                     {"在校", 'L', 1}});
    roster.add({"101", "张三", "", "1", "2010-05-01", "T"});
    roster.add({"102", "聂姬", "", "2", "2010-06-02", "F"});
    const QString path = folder + QLatin1Char('/') + file;
    if (!roster.write(path))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

std::unique_ptr<Database> openRoster(const QString &folder)
{
    return Database::open(writeRoster(folder), QStringLiteral("dBASE IV"));
}

void patch(const QString &path, qint64 offset, QByteArray bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset) || f.write(bytes) != bytes.size())
        qFatal("cannot patch %s", qPrintable(path));
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A damaged copy of the roster, read through a database.
Provoke damaged(qint64 offset, QByteArray bytes)
{
    return [offset, bytes](const QString &folder) {
        const QString path = writeRoster(folder);
        patch(path, offset, bytes);
        Database::open(path, QStringLiteral("dBASE IV"))->fields(QStringLiteral("学生"));
    };
}

// notes.dbf, a FoxPro 2 table with one memo field 备注 (10 digits) whose
// one record points to memo block `block`; `fpt` is notes.fpt unless null.
Provoke memoTable(quint32 block, std::optional<QByteArray> fpt)
{
    return [block, fpt](const QString &folder) {
        QByteArray header(32, '\0');
        header[0] = char(0xF5);
        header[4] = 1;                 // one record
        header[8] = char(32 + 32 + 1); // header length
        header[10] = 11;               // record length
        header[29] = 0x4D;             // GBK
        QByteArray field(32, '\0');
        const QByteArray name = QByteArray("\xB1\xB8\xD7\xA2"); // 备注 in GBK
        std::copy(name.begin(), name.end(), field.begin());
        field[11] = 'M';
        field[16] = 10;
        const QByteArray record = ' ' + QByteArray::number(block).rightJustified(10, ' ');
        writeBytes(folder + QStringLiteral("/notes.dbf"), header + field + '\x0D' + record + '\x1A');
        if (fpt)
            writeBytes(folder + QStringLiteral("/notes.fpt"), *fpt);
        Database::open(folder + QStringLiteral("/notes.dbf"), QStringLiteral("FoxPro 2.6"))
            ->openRecordset(QStringLiteral("[notes]"));
    };
}

// An .fpt file of 512 bytes with 64-byte blocks and nothing in them.
QByteArray emptyFpt()
{
    QByteArray fpt(512, '\0');
    fpt[3] = 8;  // next free block, big-endian
    fpt[7] = 64; // block size, big-endian
    return fpt;
}

Provoke statement(const QString &text)
{
    return [text](const QString &folder) {
        const auto db = openRoster(folder);
        if (text.startsWith(QLatin1String("select")))
            db->openRecordset(text);
        else
            db->execute(text);
    };
}

} // namespace

void TstFailureText::init()
{
    g_warnings.clear();
    qInstallMessageHandler(recordWarning);
}

void TstFailureText::cleanup()
{
    qInstallMessageHandler(nullptr);
}

void TstFailureText::engineFailuresReadInChinese_data()
{
    QTest::addColumn<Provoke>("provoke");
    QTest::addColumn<QStringList>("named"); // what the Chinese text must name

    QTest::newRow("value too long for its field")
        << statement("update [学生] set 照片='聂姬的照片.jpg' where 学号='102'")
        << QStringList{"照片", "聂姬的照片.jpg"};
    QTest::newRow("number too wide") << statement("update [学生] set 班级=12345")
                                     << QStringList{"班级", "12345"};
    QTest::newRow("text in a date field")
        << statement("update [学生] set 生日='abc'") << QStringList{"生日", "abc"};
    QTest::newRow("text in a logical field")
        << statement("update [学生] set 在校='maybe'") << QStringList{"在校", "maybe"};
    QTest::newRow("character the code page lacks")
        << statement("update [学生] set 姓名='한국'") << QStringList{"姓名", "한국", "GBK"};
    QTest::newRow("unknown table in a statement") << statement("select * from [老师]") << QStringList{"老师"};
    QTest::newRow("unknown table by name")
        << Provoke([](const QString &folder) { openRoster(folder)->fields(QStringLiteral("老师")); })
        << QStringList{"老师"};
    QTest::newRow("unknown field in where")
        << statement("select * from [学生] where 年龄=1") << QStringList{"学生", "年龄"};
    QTest::newRow("unknown field in a column")
        << statement("select 学号 & Chr(9) & 班 from [学生]") << QStringList{"学生", "班"};
    QTest::newRow("unknown field to set")
        << statement("update [学生] set 年龄=1") << QStringList{"学生", "年龄"};
    QTest::newRow("misspelt keyword") << statement("select * form [学生]") << QStringList{"form", "from"};
    QTest::newRow("statement cut short") << statement("select * from") << QStringList{};
    QTest::newRow("neither select nor update") << statement("delete from [学生]") << QStringList{"delete"};
    QTest::newRow("unterminated text") << statement("select * from [学生] where 姓名='abc") << QStringList{};
    QTest::newRow("unterminated brackets") << statement("select * from [学生") << QStringList{};
    QTest::newRow("unknown function") << statement("select Len(姓名) from [学生]") << QStringList{"Len"};
    QTest::newRow("impossible date") << statement("select * from [学生] where 生日=#2024-13-45#")
                                     << QStringList{"2024-13-45"};
    QTest::newRow("unexpected character")
        << statement("select * from [学生] where 学号 ! 1") << QStringList{"!"};
    QTest::newRow("malformed number") << statement("select * from [学生] where 班级=12abc") << QStringList{};
    QTest::newRow("Chr out of range") << statement("select Chr(300) from [学生]") << QStringList{"300"};
    QTest::newRow("minus before text") << statement("select -姓名 from [学生]") << QStringList{"张三"};
    QTest::newRow("text as a condition")
        << statement("select * from [学生] where 姓名") << QStringList{"张三"};
    QTest::newRow("ambiguous table name") << Provoke([](const QString &folder) {
        writeRoster(folder, QStringLiteral("Ab.dbf"));
        writeRoster(folder, QStringLiteral("AB.DBF"));
        Database::open(folder + QStringLiteral("/Ab.dbf"), QStringLiteral("dBASE IV"))
            ->openRecordset(QStringLiteral("select * from [ab]"));
    }) << QStringList{"ab", "Ab", "AB"};
    QTest::newRow("missing file") << Provoke([](const QString &folder) {
        Database::open(folder + QStringLiteral("/没有.dbf"), QStringLiteral("dBASE IV"));
    }) << QStringList{"没有.dbf"};
    QTest::newRow("excel workbook") << Provoke([](const QString &folder) {
        writeBytes(folder + QStringLiteral("/成绩.xls"), "not really");
        Database::open(folder + QStringLiteral("/成绩.xls"), QStringLiteral("Excel 8.0"));
    }) << QStringList{"成绩.xls", "Excel"};
    QTest::newRow("not a table at all") << Provoke([](const QString &folder) {
        writeBytes(folder + QStringLiteral("/文本.dbf"), QByteArray("zhang san, li si, wang wu, zhao liu\n"));
        Database::open(folder + QStringLiteral("/文本.dbf"), QStringLiteral("dBASE IV"))
            ->fields(QStringLiteral("文本"));
    }) << QStringList{"文本.dbf", "0x7a"};
    QTest::newRow("too short to be a table") << Provoke([](const QString &folder) {
        writeBytes(folder + QStringLiteral("/短.dbf"), QByteArray("\x03\x01", 2));
        Database::open(folder + QStringLiteral("/短.dbf"), QStringLiteral("dBASE IV"))
            ->fields(QStringLiteral("短"));
    }) << QStringList{"短.dbf"};
    QTest::newRow("dBase 7 table") << damaged(0, "\x04") << QStringList{"学生.dbf"};
    QTest::newRow("header length too small")
        << damaged(8, QByteArray("\x10\x00", 2)) << QStringList{"学生.dbf"};
    QTest::newRow("header longer than the file")
        << damaged(8, QByteArray("\xFF\x7F", 2)) << QStringList{"学生.dbf"};
    QTest::newRow("record length too small")
        << damaged(10, QByteArray("\x01\x00", 2)) << QStringList{"学生.dbf"};
    QTest::newRow("record length not the fields' sum")
        << damaged(10, QByteArray("\x30\x00", 2)) << QStringList{"学生.dbf"};
    QTest::newRow("field of width 0")
        << damaged(32 + 16, QByteArray(1, '\0')) << QStringList{"学生.dbf", "学号"};
    QTest::newRow("date field of odd width")
        << damaged(32 + 4 * 32 + 16, QByteArray(1, '\x07')) << QStringList{"学生.dbf", "生日"};
    QTest::newRow("no fields") << damaged(32, QByteArray(1, '\x0D')) << QStringList{"学生.dbf"};
    QTest::newRow("bad deletion flag") << damaged(32 + 6 * 32 + 1, "X") << QStringList{"学生.dbf", "0x58"};
    QTest::newRow("memo file missing") << memoTable(1, std::nullopt) << QStringList{"notes", "notes.fpt"};
    QTest::newRow("memo file too short") << memoTable(1, QByteArray(4, '\0')) << QStringList{"notes.fpt"};
    QTest::newRow("memo block size 0") << memoTable(1, QByteArray(512, '\0')) << QStringList{"notes.fpt"};
    QTest::newRow("memo block outside the file")
        << memoTable(100, emptyFpt()) << QStringList{"notes.fpt", "100"};
    QTest::newRow("memo longer than the file")
        << memoTable(8, emptyFpt() + QByteArray("\0\0\0\1\0\0\x10\0", 8) + QByteArray(56, 'x'))
        << QStringList{"notes.fpt", "4096"};
    QTest::newRow("file removed after opening") << Provoke([](const QString &folder) {
        const auto db = openRoster(folder);
        db->fields(QStringLiteral("学生"));
        QFile::remove(folder + QStringLiteral("/学生.dbf"));
        db->execute(QStringLiteral("update [学生] set 照片='1.jpg'"));
    }) << QStringList{"学生.dbf", "不存在"};
    QTest::newRow("read-only file") << Provoke([](const QString &folder) {
        const auto db = openRoster(folder);
        QFile::setPermissions(folder + QStringLiteral("/学生.dbf"), QFileDevice::ReadOwner);
        db->execute(QStringLiteral("update [学生] set 照片='1.jpg'"));
    }) << QStringList{"学生.dbf", "权限不够"};
    QTest::newRow("changed by another program") << Provoke([](const QString &folder) {
        const auto db = openRoster(folder);
        db->fields(QStringLiteral("学生"));
        DbfMaker other({{"学号", 'C', 10}});
        other.add({"999"});
        other.write(folder + QStringLiteral("/学生.dbf"));
        db->execute(QStringLiteral("update [学生] set 照片='1.jpg'"));
    }) << QStringList{"学生.dbf"};
    QTest::newRow("code page unknown") << Provoke([](const QString &folder) {
        const QString path = writeRoster(folder);
        patch(path, 29, "\xEE");
        Database::open(path, QStringLiteral("dBASE IV"))
            ->execute(QStringLiteral("update [学生] set 姓名='x'"));
    }) << QStringList{"姓名", "学生", "0xee", ".cpg"};
    QTest::newRow("writer: field name too long") << Provoke([](const QString &folder) {
        DbfWriter::write(folder + QStringLiteral("/新表.dbf"), {{"很长很长的字段名字", 'C', 10}}, {});
    }) << QStringList{"新表", "很长很长的字段名字"};
    QTest::newRow("writer: folder missing") << Provoke([](const QString &folder) {
        DbfWriter::write(folder + QStringLiteral("/没有的文件夹/新表.dbf"), {{"A", 'C', 10}}, {});
    }) << QStringList{"新表.dbf", "不存在"};
    QTest::newRow("writer: value too long") << Provoke([](const QString &folder) {
        DbfWriter::write(folder + QStringLiteral("/新表.dbf"), {{"姓名", 'C', 2}}, {{Value::text("聂姬")}});
    }) << QStringList{"姓名", "聂姬"};
}

// Every failure the engine reports reaches the window as Chinese naming
// what it concerns, with no English sentence left in it, while the English
// text keeps the same facts for lumora-sql.
void TstFailureText::engineFailuresReadInChinese()
{
    QFETCH(Provoke, provoke);
    QFETCH(QStringList, named);
    if (QByteArrayView(QTest::currentDataTag()) == "read-only file" && ::geteuid() == 0)
        QSKIP("file permissions do not bind the superuser");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Caught c = ::provoke([&] { provoke(dir.path()); });
    QVERIFY2(c.thrown, "nothing was refused");
    QVERIFY(c.engine);
    const QString shown = c.shown;
    QVERIFY2(hasChinese(shown), qPrintable(shown));
    QVERIFY2(englishRun(shown).isEmpty(), qPrintable(shown));
    for (const QString &name : named)
        QVERIFY2(shown.contains(name, Qt::CaseInsensitive),
                 qPrintable(name + QStringLiteral(" not in ") + shown));
    for (const QString &fact : factsOf(c.english, dir.path()))
        QVERIFY2(shown.contains(fact, Qt::CaseInsensitive),
                 qPrintable(QStringLiteral("%1 (from %2) not in %3").arg(fact, c.english, shown)));
    static const QRegularExpression twoWords(QStringLiteral("[A-Za-z]+[ ,;:]+[A-Za-z]+"));
    QVERIFY2(c.english.contains(twoWords), qPrintable(c.english));
    for (const QString &w : std::as_const(g_warnings))
        QVERIFY2(!w.contains(QLatin1String("QString::arg")), qPrintable(w));
}

// An update another program's lock holds off says so first, names the
// file, and keeps the code a caller words its own way.
void TstFailureText::lockedTableSaysSo()
{
    QTemporaryDir dir;
    const auto db = openRoster(dir.path());
    db->fields(QStringLiteral("学生"));
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("学生.dbf")));
    const int holder = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(holder >= 0);
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    // An open-file-description lock conflicts with the engine's lock even
    // inside one process, as another program's would.
    QCOMPARE(::fcntl(holder, F_OFD_SETLK, &lock), 0);
    const Caught c = provoke([&] { db->execute(QStringLiteral("update [学生] set 照片='1.jpg'")); });
    ::close(holder);
    QVERIFY(c.engine);
    QCOMPARE(c.code, EngineError::Code::Locked);
    QVERIFY2(c.shown.startsWith(QStringLiteral("数据表被其他程序锁定：学生.dbf")), qPrintable(c.shown));
    QVERIFY2(englishRun(c.shown).isEmpty(), qPrintable(c.shown));
    QVERIFY2(c.english.startsWith(QStringLiteral("学生.dbf is locked by another program")),
             qPrintable(c.english));
}

// An update that fails after writing some records says how many in both
// texts and keeps the code of the failure under it.
void TstFailureText::partialUpdateKeepsBothTextsAndCode()
{
    auto backend = std::make_unique<MemoryBackend>();
    const auto students = backend->add(QStringLiteral("学生"), {memoryField(QStringLiteral("照片"), DaoText)},
                                       {{Value()}, {Value()}, {Value()}, {Value()}});
    students->failAfter = 2;
    const auto db = Database::fromBackend(std::move(backend));
    const Caught c = provoke([&] { db->execute(QStringLiteral("update [学生] set 照片='p'")); });
    QVERIFY(c.engine);
    QCOMPARE(c.code, EngineError::Code::Locked);
    QCOMPARE(c.english, QStringLiteral("the file is locked (2 of 4 records were updated before this one)"));
    QVERIFY2(c.shown.startsWith(QStringLiteral("数据表被其他程序锁定：学生")), qPrintable(c.shown));
    const QString tail = c.shown.mid(c.shown.indexOf(QStringLiteral("（")));
    QVERIFY2(tail.contains(QLatin1Char('2')) && tail.contains(QLatin1Char('4')), qPrintable(c.shown));
}

// What is not an engine error with Chinese words still reads as Chinese.
void TstFailureText::otherFailuresAreFramedInChinese()
{
    const QList<std::function<void()>> throwers{
        [] { throw std::runtime_error("disk on fire"); },
        [] { throw std::bad_alloc(); },
        [] { throw EngineError(QStringLiteral("the grid shows no complete load")); },
        [] { throw EngineError(QStringLiteral("t.dbf is busy"), EngineError::Code::Locked); },
        [] { throw 42; },
    };
    for (const auto &thrower : throwers) {
        const Caught c = provoke(thrower);
        QVERIFY2(hasChinese(c.shown), qPrintable(c.shown));
        if (c.engine)
            QVERIFY2(c.shown.contains(c.english), qPrintable(c.shown));
        if (c.code == EngineError::Code::Locked)
            QVERIFY2(c.shown.startsWith(QStringLiteral("数据表被其他程序锁定")), qPrintable(c.shown));
    }
    QVERIFY(provoke([] {
                throw std::runtime_error("disk on fire");
            }).shown.contains(QLatin1String("disk on fire")));
}

// The system errors an operator can do something about read as plain
// Chinese; any other keeps the system's words.
void TstFailureText::systemErrorsAnOperatorCanFix()
{
    for (const int error : {EACCES, EPERM, EROFS, ENOSPC, ENOENT, EDQUOT, EIO}) {
        const SystemErrorText text = systemErrorText(error);
        QVERIFY2(hasChinese(text.chinese), qPrintable(text.chinese));
        QVERIFY2(!text.chinese.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}"))),
                 qPrintable(text.chinese));
        QCOMPARE(text.english, QString::fromLocal8Bit(std::strerror(error)));
    }
    QVERIFY(systemErrorText(EACCES).chinese.contains(QStringLiteral("权限")));
    QVERIFY(systemErrorText(ENOSPC).chinese.contains(QStringLiteral("满")));
    const SystemErrorText other = systemErrorText(EXDEV);
    QVERIFY(hasChinese(other.chinese));
    QVERIFY2(other.chinese.contains(other.english), qPrintable(other.chinese));
}

QTEST_GUILESS_MAIN(TstFailureText)
#include "tst_failuretext.moc"
