#include "data/engine/io/SafeReplace.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace lumora::engine {

namespace {

// How long opening waits for another program's lock on the file.
constexpr int kLockWaitMs = 2000;
constexpr int kLockRetryMs = 50;
// What marks a working copy's name after the file's own.
constexpr char kMark[] = ".lumora-";
constexpr int kRandomLength = 6;
constexpr char kOldMark[] = ".old-";
// An old copy is put back only into a file last changed within this many
// seconds of the copy: a file written later was written by someone else.
constexpr int kOldCopySlackS = 60;

// A lock on the whole file that belongs to the open file, not to the
// process, so that no other descriptor of this process releases it: 0, or
// EAGAIN when another holds a conflicting one, or the error.
int tryLock(int fd, short type)
{
    struct flock lock
    {
    };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end, however far it grows
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR)
            return errno == EACCES ? EAGAIN : errno;
    }
    return 0;
}

// Other programs may hold a lock for as long as a form is open: waiting
// without a bound (F_OFD_SETLKW) could freeze the window for good.
int lockWaiting(int fd)
{
    for (int waited = 0;; waited += kLockRetryMs) {
        const int error = tryLock(fd, F_WRLCK);
        if (error != EAGAIN || waited >= kLockWaitMs)
            return error;
        ::usleep(kLockRetryMs * 1000);
    }
}

// 0, or the error of the write that failed.
int writeAll(int fd, QByteArrayView bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}

// The whole file; false with errno set when it cannot be read.
bool readAll(int fd, QByteArray *out)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    out->resize(qsizetype(st.st_size) + 1);
    qint64 done = 0;
    for (;;) {
        if (done == out->size())
            out->resize(out->size() * 2);
        const ssize_t n = ::pread(fd, out->data() + done, size_t(out->size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += n;
    }
    out->truncate(done);
    return true;
}

// The same bytes, truncated after them, on the disk: 0 or the error.
int overwrite(int fd, const QByteArray &bytes)
{
    if (const int error = writeAll(fd, bytes))
        return error;
    if (::ftruncate(fd, off_t(bytes.size())) != 0 || ::fsync(fd) != 0)
        return errno;
    return 0;
}

// Why a call failed, in both languages; a full disk says so in words a
// person acts on, not only as the system puts it.
SystemErrorText reason(int error)
{
    SystemErrorText why = systemErrorText(error);
    if (error == ENOSPC)
        why.english = QStringLiteral("the disk is full (%1)").arg(why.english);
    else if (error == EDQUOT)
        why.english = QStringLiteral("the disk quota is used up (%1)").arg(why.english);
    return why;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The names of a file's extended attributes; false when they cannot be
// listed (a file system without them has none).
bool attributeNames(int fd, QList<QByteArray> *names)
{
    QByteArray list;
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP || errno == ENOSYS;
        list.resize(size);
        const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, list.data(), size_t(size));
        if (got >= 0) {
            list.truncate(got);
            break;
        }
        if (errno != ERANGE)
            return false;
    }
    for (const QByteArray &name : list.split('\0'))
        if (!name.isEmpty())
            names->append(name);
    return true;
}

// An attribute's value; false when the file has none of that name.
bool attribute(int fd, const QByteArray &name, QByteArray *value)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        value->resize(size);
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(fd, name.constData(), value->data(), size_t(size));
        if (got >= 0) {
            value->truncate(got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// What a name beside the file NAME is: a working copy
// ".NAME.lumora-XXXXXX", an old content ".NAME.lumora-XXXXXX.old-INODE",
// or not a copy this program makes.
enum class Leftover {
    None,
    Copy,
    Old
};

Leftover leftoverKind(QByteArrayView entry, QByteArrayView prefix, quint64 *inode)
{
    if (!entry.startsWith(prefix) || entry.size() < prefix.size() + kRandomLength)
        return Leftover::None;
    for (qsizetype i = prefix.size(); i < prefix.size() + kRandomLength; ++i)
        if (!std::isalnum(static_cast<unsigned char>(entry[i])))
            return Leftover::None;
    const QByteArrayView rest = entry.sliced(prefix.size() + kRandomLength);
    if (rest.isEmpty())
        return Leftover::Copy;
    if (!rest.startsWith(QByteArrayView(kOldMark)))
        return Leftover::None;
    bool ok = false;
    *inode = rest.sliced(qsizetype(sizeof kOldMark) - 1).toULongLong(&ok);
    return ok ? Leftover::Old : Leftover::None;
}

QByteArray prefixFor(const QByteArray &name)
{
    return '.' + name + kMark;
}

// The names of the copies beside the file `name`: only old contents, or
// working copies too.
QList<QByteArray> leftovers(const QByteArray &dir, const QByteArray &name, bool oldOnly)
{
    QList<QByteArray> found;
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return found;
    const QByteArray prefix = prefixFor(name);
    quint64 inode = 0;
    while (const dirent *entry = ::readdir(d)) {
        const Leftover kind = leftoverKind(entry->d_name, prefix, &inode);
        if (kind == Leftover::Old || (kind == Leftover::Copy && !oldOnly))
            found.append(QByteArray(entry->d_name));
    }
    ::closedir(d);
    return found;
}

} // namespace

SafeReplace::SafeReplace(const QString &path, QString what)
    : m_what(std::move(what))
{
    // A symbolic link stays one: the file it leads to is replaced.
    const QFileInfo info(path);
    const QString real = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    m_path = QFile::encodeName(real.isEmpty() ? path : real);
    const qsizetype slash = m_path.lastIndexOf('/');
    m_dir = slash <= 0 ? QByteArray("/") : m_path.left(slash);
    m_name = m_path.mid(slash + 1);
    m_fd = ::open(m_path.constData(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0)
        fail(errno, u"cannot be opened for writing");
    if (const int error = lockWaiting(m_fd)) {
        ::close(m_fd);
        m_fd = -1;
        if (error == EAGAIN)
            throw EngineError(
                QStringLiteral("%1 is locked by another program; close it there and try again").arg(m_what),
                QStringLiteral("数据表被其他程序锁定：%1，请在那个程序中关闭它后再试").arg(m_what),
                EngineError::Code::Locked);
        fail(error, u"cannot be locked", u"无法加锁");
    }
}

SafeReplace::~SafeReplace()
{
    if (m_fd >= 0)
        ::close(m_fd); // also releases the lock
}

QByteArray SafeReplace::read() const
{
    QByteArray bytes;
    if (!readAll(m_fd, &bytes))
        fail(errno, u"cannot be read", u"无法读取");
    return bytes;
}

void SafeReplace::checkHolds(const QByteArray &expected) const
{
    struct stat locked
    {
    }, named{};
    if (::fstat(m_fd, &locked) != 0)
        fail(errno, u"cannot be read", u"无法读取");
    if (::stat(m_path.constData(), &named) != 0 || !sameFile(locked, named) || read() != expected)
        throw EngineError(
            QStringLiteral("%1 was changed by another program since it was opened; open it again")
                .arg(m_what),
            QStringLiteral("文件 %1 在打开之后被其他程序改过了，请重新打开").arg(m_what),
            EngineError::Code::Changed);
}

void SafeReplace::replace(const QByteArray &bytes)
{
    settle();
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        fail(errno, u"cannot be read", u"无法读取");
    if (st.st_nlink > 1)
        replaceInPlace(bytes); // a new file would leave the other names with the old content
    else
        replaceByRename(bytes);
}

void SafeReplace::recover(const QString &path, const QString &what)
{
    // Nearly always nothing to do, as the folder shows.
    const QFileInfo info(path);
    const QFileInfo real(info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath());
    if (leftovers(QFile::encodeName(real.absolutePath()), QFile::encodeName(real.fileName()), true).isEmpty())
        return;
    // The lock waits for a writer still at work; what one that died left
    // is settled.
    std::unique_ptr<SafeReplace> file;
    try {
        file = std::make_unique<SafeReplace>(path, what);
    } catch (const EngineError &) {
        return; // it cannot be written now; reading it may still work
    }
    file->settle();
}

void SafeReplace::settle()
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        return;
    bool removed = false;
    for (const QByteArray &entry : leftovers(m_dir, m_name, false)) {
        const QByteArray copyPath = m_dir + '/' + entry;
        const int fd = ::open(copyPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // A writer holds a write lock on its copy while it lives.
        struct stat cs
        {
        };
        if (::fstat(fd, &cs) != 0 || !S_ISREG(cs.st_mode) || tryLock(fd, F_RDLCK) != 0) {
            ::close(fd);
            continue;
        }
        quint64 inode = 0;
        if (leftoverKind(entry, prefixFor(m_name), &inode) == Leftover::Old && inode == quint64(st.st_ino) &&
            st.st_mtime <= cs.st_mtime + kOldCopySlackS) {
            // A writer died while writing the file in place: its old
            // content, whole on the disk, goes back.
            QByteArray old;
            int error = readAll(fd, &old) ? 0 : errno;
            if (error == 0)
                error = overwrite(m_fd, old);
            if (error != 0) {
                ::close(fd);
                const SystemErrorText why = reason(error);
                const QString copy = QFile::decodeName(copyPath);
                throw EngineError(
                    QStringLiteral(
                        "%1 was left half written; its old content is in %2 but cannot be put back: %3")
                        .arg(m_what, copy, why.english),
                    QStringLiteral("%1 上次没有写完；它原来的内容在 %2 里，但无法放回去：%3")
                        .arg(m_what, copy, why.chinese));
            }
        }
        if (::unlink(copyPath.constData()) == 0)
            removed = true;
        ::close(fd);
    }
    if (removed)
        syncFolder();
}

int SafeReplace::makeCopy(QByteArray *name) const
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray copy = m_dir + '/' + prefixFor(m_name);
        for (int i = 0; i < kRandomLength; ++i)
            copy.append(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        const int fd = ::open(copy.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            tryLock(fd, F_WRLCK); // new, so no one else's; the file's own lock worked
            *name = copy;
            return fd;
        }
        if (errno == EEXIST)
            continue;
        const int error = errno;
        if (error != EACCES && error != EPERM && error != EROFS)
            fail(error);
        // The folder refuses new files: say which folder.
        const QString folder = QFile::decodeName(m_dir);
        const SystemErrorText why = reason(error);
        const QString chinese = error == EROFS ? why.chinese : QStringLiteral("没有在这个文件夹里写入的权限");
        throw EngineError(
            QStringLiteral("%1 cannot be written: no new file can be made in its folder %2 (%3)")
                .arg(m_what, folder, why.english),
            QStringLiteral("无法写入 %1：在它所在的文件夹 %2 里不能新建文件（%3）")
                .arg(m_what, folder, chinese));
    }
    fail(EEXIST);
}

bool SafeReplace::keepWhatBelongs(int copy) const
{
    struct stat st
    {
    }, cs{};
    if (::fstat(m_fd, &st) != 0 || ::fstat(copy, &cs) != 0)
        return false;
    // Only the owner or root may give a file away.
    if ((cs.st_uid != st.st_uid || cs.st_gid != st.st_gid) && ::fchown(copy, st.st_uid, st.st_gid) != 0)
        return false;
    // The file's extended attributes (ACLs among them), and no others: a
    // new file may have taken the folder's default ACL.
    QList<QByteArray> names, copyNames;
    if (!attributeNames(m_fd, &names) || !attributeNames(copy, &copyNames))
        return false;
    for (const QByteArray &name : std::as_const(copyNames))
        if (!names.contains(name) && ::fremovexattr(copy, name.constData()) != 0)
            return false;
    for (const QByteArray &name : std::as_const(names)) {
        QByteArray value, current;
        if (!attribute(m_fd, name, &value))
            continue; // gone meanwhile
        if (attribute(copy, name, &current) && current == value)
            continue;
        if (::fsetxattr(copy, name.constData(), value.constData(), size_t(value.size()), 0) != 0)
            return false;
    }
    // Last, as an ACL sets the group's bits.
    return ::fchmod(copy, st.st_mode & 07777) == 0;
}

void SafeReplace::replaceByRename(const QByteArray &bytes)
{
    QByteArray copyName;
    const int copy = makeCopy(&copyName);
    const auto drop = [&] {
        ::unlink(copyName.constData());
        ::close(copy);
    };
    if (!keepWhatBelongs(copy)) {
        // Written in place, the file keeps all it has.
        drop();
        replaceInPlace(bytes);
        return;
    }
    int error = writeAll(copy, bytes);
    if (error == 0 && ::fsync(copy) != 0)
        error = errno;
    if (error != 0) {
        drop();
        fail(error);
    }
    // Only over the file that is locked: another program that saved
    // without taking the lock would lose its work.
    struct stat locked
    {
    }, named{};
    if (::fstat(m_fd, &locked) != 0 || ::stat(m_path.constData(), &named) != 0 || !sameFile(locked, named)) {
        drop();
        throw EngineError(
            QStringLiteral("%1 was changed by another program since it was opened; open it again")
                .arg(m_what),
            QStringLiteral("文件 %1 在打开之后被其他程序改过了，请重新打开").arg(m_what),
            EngineError::Code::Changed);
    }
    if (::rename(copyName.constData(), m_path.constData()) != 0) {
        error = errno;
        drop();
        fail(error);
    }
    syncFolder();
    ::close(copy);
}

void SafeReplace::replaceInPlace(const QByteArray &bytes)
{
    const QByteArray old = read();
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        fail(errno, u"cannot be read", u"无法读取");

    // The old content, whole on the disk under a name that says so, before
    // a byte of the file changes.
    QByteArray copyName;
    const int copy = makeCopy(&copyName);
    const QByteArray oldName = copyName + kOldMark + QByteArray::number(quint64(st.st_ino));
    int error = writeAll(copy, old);
    if (error == 0 && ::fsync(copy) != 0)
        error = errno;
    if (error == 0 && ::rename(copyName.constData(), oldName.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(copyName.constData());
        ::close(copy);
        fail(error);
    }
    syncFolder();
    const auto dropOld = [&] {
        ::unlink(oldName.constData());
        ::close(copy);
        syncFolder();
    };

    // Room for the new bytes first, so that a full disk stops the write
    // before it begins.
    if (bytes.size() > old.size() && ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        error = errno;
        dropOld();
        fail(error);
    }
    error = overwrite(m_fd, bytes);
    if (error == 0) {
        dropOld();
        return;
    }
    // The old bytes go straight back; failing that, they wait in the copy
    // for the next time the file is opened.
    if (overwrite(m_fd, old) == 0) {
        dropOld();
        fail(error);
    }
    ::close(copy);
    const SystemErrorText why = reason(error);
    const QString kept = QFile::decodeName(oldName);
    throw EngineError(
        QStringLiteral("%1 cannot be written: %2; its old content is kept in %3 and is put back when it is "
                       "next opened")
            .arg(m_what, why.english, kept),
        QStringLiteral("%1 无法写入：%2；它原来的内容保存在 %3 里，下次打开时会放回去")
            .arg(m_what, why.chinese, kept));
}

void SafeReplace::syncFolder() const
{
    // Without it a rename or a removal may not outlive a power cut. A
    // folder that cannot be synced (some network file systems) is left.
    const int fd = ::open(m_dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void SafeReplace::fail(int error, QStringView doing, QStringView chinese) const
{
    const SystemErrorText why = reason(error);
    throw EngineError(QStringLiteral("%1 %2: %3").arg(m_what, doing, why.english),
                      QStringLiteral("%1 %2：%3").arg(m_what, chinese, why.chinese));
}

} // namespace lumora::engine
