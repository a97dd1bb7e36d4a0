#include "data/engine/dbf/DbfFile.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::engine {

namespace {

// How long a write waits for another program's lock on the file to go.
constexpr int kLockWaitMs = 2000;
constexpr int kLockRetryMs = 50;

} // namespace

DbfFile::DbfFile(const QString &path, QString what, Mode mode)
    : m_what(std::move(what))
{
    const bool writing = mode == Mode::WriteLocked;
    m_fd = ::open(QFile::encodeName(path).constData(), (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (m_fd < 0) {
        if (writing)
            fail(u"cannot be opened for writing", u"无法写入");
        fail(u"cannot be read", u"无法读取");
    }
    if (writing)
        lock();
}

DbfFile::DbfFile(int fd, QString what)
    : m_fd(fd)
    , m_what(std::move(what))
{
}

std::unique_ptr<DbfFile> DbfFile::lockedIfWritable(const QString &path, QString what)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<DbfFile> file(new DbfFile(fd, std::move(what)));
    file->lock();
    return file;
}

DbfFile::~DbfFile()
{
    if (m_fd >= 0)
        ::close(m_fd); // also releases the lock
}

void DbfFile::lock()
{
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end, however far it grows
    // xBase programs lock a record with one byte far past the end of the
    // file and may hold it for as long as a form is open: waiting for the
    // lock (F_SETLKW) could freeze the window for good.
    for (int waited = 0; ::fcntl(m_fd, F_SETLK, &lock) != 0;) {
        if (errno == EINTR)
            continue;
        if (errno != EACCES && errno != EAGAIN) {
            const int error = errno;
            ::close(m_fd);
            m_fd = -1;
            errno = error;
            fail(u"cannot be locked", u"无法加锁");
        }
        if (waited >= kLockWaitMs) {
            ::close(m_fd);
            m_fd = -1;
            throw EngineError(
                QStringLiteral("%1 is locked by another program; close it there and try again").arg(m_what),
                QStringLiteral("数据表被其他程序锁定：%1，请在那个程序中关闭它后再试").arg(m_what),
                EngineError::Code::Locked);
        }
        ::usleep(kLockRetryMs * 1000);
        waited += kLockRetryMs;
    }
}

qint64 DbfFile::size() const
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        fail(u"cannot be measured", u"无法取得大小");
    return qint64(st.st_size);
}

qint64 DbfFile::read(qint64 offset, char *into, qint64 length) const
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, into + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(u"cannot be read", u"无法读取");
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

QByteArray DbfFile::read(qint64 offset, qint64 length) const
{
    QByteArray out(length, '\0');
    out.truncate(read(offset, out.data(), length));
    return out;
}

void DbfFile::write(qint64 offset, QByteArrayView bytes) const
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(m_fd, bytes.data() + done, size_t(bytes.size() - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(u"cannot be written", u"无法写入");
        done += n;
    }
}

void DbfFile::sync() const
{
    if (::fsync(m_fd) != 0)
        fail(u"cannot be flushed to disk", u"无法存到磁盘上");
}

void DbfFile::unlock()
{
    struct flock lock
    {
    };
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(m_fd, F_SETLK, &lock) != 0 && errno == EINTR) {
    }
}

void DbfFile::fail(QStringView doing, QStringView chinese) const
{
    const SystemErrorText why = systemErrorText(errno);
    throw EngineError(QStringLiteral("%1 %2: %3").arg(m_what, doing, why.english),
                      QStringLiteral("%1 %2：%3").arg(m_what, chinese, why.chinese));
}

QString DbfFile::sibling(const QString &path, const QString &ext)
{
    const QFileInfo info(path);
    const QDir dir = info.dir();
    const QString base = info.completeBaseName();
    const QString exact = dir.filePath(base + QLatin1Char('.') + ext);
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString &n : names) {
        const QFileInfo candidate(n);
        if (candidate.suffix().compare(ext, Qt::CaseInsensitive) == 0 &&
            candidate.completeBaseName().compare(base, Qt::CaseInsensitive) == 0)
            return dir.filePath(n);
    }
    return {};
}

} // namespace lumora::engine
