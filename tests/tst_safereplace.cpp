// The safe replace keeps what belongs to a file (owner, group, mode,
// extended attributes and ACLs, its other hard links) and settles what a
// dead writer left beside it: a working copy goes, an old content a writer
// in place saved goes back into the file.

#include "data/engine/EngineError.h"
#include "data/engine/io/SafeReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace lumora::engine;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct stat statOf(const QString &path)
{
    struct stat st
    {
    };
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Every extended attribute of a file, "name=value" each, in a stable order.
QStringList attributes(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    QByteArray names(4096, '\0');
    names.truncate(std::max<ssize_t>(0, ::listxattr(p.constData(), names.data(), size_t(names.size()))));
    QStringList out;
    for (const QByteArray &name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        QByteArray value(4096, '\0');
        value.truncate(std::max<ssize_t>(0, ::getxattr(p.constData(), name.constData(), value.data(), 4096)));
        out << QString::fromLatin1(name + '=' + value.toHex());
    }
    out.sort();
    return out;
}

// An access ACL giving user 4321 read and write, as setfacl -m u:4321:rw
// stores it: version 2, then tag, permissions and id of each entry.
const QByteArray kAccessAcl = QByteArray::fromHex(
    "0200000001000600ffffffff02000600e110000004000400ffffffff10000600ffffffff20000400ffffffff");

QStringList copiesBeside(const QString &path)
{
    return QFileInfo(path).dir().entryList({QStringLiteral("*.lumora-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TstSafeReplace : public QObject
{
    Q_OBJECT
private slots:
    void keepsWhatBelongsToTheFile_data();
    void keepsWhatBelongsToTheFile();
    void settlesWhatADeadWriterLeft_data();
    void settlesWhatADeadWriterLeft();
};

void TstSafeReplace::keepsWhatBelongsToTheFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("one name: renamed over") << "one name";
    QTest::newRow("a second hard link: written in place") << "hard link";
    QTest::newRow("through a symbolic link") << "symbolic link";
}

void TstSafeReplace::keepsWhatBelongsToTheFile()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("名单.xls"));
    const QString other = dir.filePath(QStringLiteral("other.xls"));
    QVERIFY(writeAll(path, "the old content"));
    const QByteArray p = QFile::encodeName(path);
    QVERIFY(::chmod(p.constData(), 02640) == 0);
    if (::geteuid() == 0)
        QVERIFY(::chown(p.constData(), 4321, 4322) == 0); // an owner the writer is not
    const bool attributesWork = ::setxattr(p.constData(), "user.origin", "camera", 6, 0) == 0;
    const bool aclsWork = ::setxattr(p.constData(), "system.posix_acl_access", kAccessAcl.constData(),
                                     size_t(kAccessAcl.size()), 0) == 0;
    QVERIFY(::chmod(p.constData(), 02640) == 0); // the ACL's mask is the group's bits
    QString written = path;
    if (how == QLatin1String("hard link"))
        QVERIFY(::link(p.constData(), QFile::encodeName(other).constData()) == 0);
    else if (how == QLatin1String("symbolic link"))
        QVERIFY(QFile::link(path, written = other));
    const struct stat before = statOf(path);
    const QStringList attributesBefore = attributes(path);

    try {
        SafeReplace file(written, QStringLiteral("名单.xls"));
        file.checkHolds("the old content");
        file.replace("the new content, longer than the old");
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }

    QCOMPARE(readAll(path), QByteArray("the new content, longer than the old"));
    QCOMPARE(readAll(other), how == QLatin1String("one name") ? QByteArray() : readAll(path));
    const struct stat after = statOf(path);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_nlink, before.st_nlink);
    QCOMPARE(after.st_ino == before.st_ino, how == QLatin1String("hard link"));
    QCOMPARE(attributes(path), attributesBefore);
    QVERIFY(QFileInfo(other).isSymLink() == (how == QLatin1String("symbolic link")));
    QCOMPARE(copiesBeside(path), QStringList());
    if (!attributesWork || !aclsWork)
        QSKIP("this file system keeps no extended attributes or ACLs: the rest holds");
    QCOMPARE(attributesBefore.size(), 2);
}

void TstSafeReplace::settlesWhatADeadWriterLeft_data()
{
    QTest::addColumn<bool>("sameFile");    // the old content was saved from the file there now
    QTest::addColumn<bool>("writerLives"); // the writer holds its copies
    QTest::newRow("a writer died writing in place") << true << false;
    QTest::newRow("the file was replaced after the writer died") << false << false;
    QTest::newRow("the writer is still at work") << true << true;
}

// Copies as a writer leaves them: a working copy, an old content saved
// before writing in place, each held (locked) by the writer while it lives.
void TstSafeReplace::settlesWhatADeadWriterLeft()
{
    QFETCH(bool, sameFile);
    QFETCH(bool, writerLives);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.xls"));
    QVERIFY(writeAll(path, "half written"));
    const quint64 inode = quint64(statOf(path).st_ino) + (sameFile ? 0 : 1);
    const QString old = dir.filePath(QStringLiteral(".roster.xls.lumora-Ab12Cd.old-%1").arg(inode));
    const QString working = dir.filePath(QStringLiteral(".roster.xls.lumora-Zz9Yy8"));
    const QStringList notOurs = {QStringLiteral(".other.xls.lumora-Ab12Cd"),
                                 QStringLiteral(".roster.xls.lumora-Ab12Cd.bak"),
                                 QStringLiteral(".roster.xls.lumora-Ab12")};
    QVERIFY(writeAll(old, "the old content"));
    QVERIFY(writeAll(working, "a new content"));
    for (const QString &name : notOurs)
        QVERIFY(writeAll(dir.filePath(name), "someone else's"));
    QList<int> held;
    if (writerLives) {
        for (const QString &copy : {old, working}) {
            held << ::open(QFile::encodeName(copy).constData(), O_RDWR | O_CLOEXEC);
            struct flock lock
            {
            };
            lock.l_type = F_WRLCK;
            QVERIFY(::fcntl(held.last(), F_OFD_SETLK, &lock) == 0);
        }
    }

    try {
        // Opening the file puts the old content back; writing removes the rest.
        SafeReplace::recover(path, QStringLiteral("roster.xls"));
        QCOMPARE(readAll(path), QByteArray(sameFile && !writerLives ? "the old content" : "half written"));
        SafeReplace file(path, QStringLiteral("roster.xls"));
        file.replace("new");
    } catch (const EngineError &e) {
        QFAIL(qPrintable(e.message()));
    }
    for (int fd : std::as_const(held))
        ::close(fd);
    QCOMPARE(readAll(path), QByteArray("new"));
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.removeOne(QStringLiteral("roster.xls"));
    QStringList expected = notOurs;
    if (writerLives)
        expected << QFileInfo(old).fileName() << QFileInfo(working).fileName();
    left.sort();
    expected.sort();
    QCOMPARE(left, expected);
}

QTEST_GUILESS_MAIN(TstSafeReplace)
#include "tst_safereplace.moc"
