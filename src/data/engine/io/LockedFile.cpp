#include "data/engine/io/LockedFile.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"

#include <QFile>
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

LockedFile::LockedFile(const QString &path, QString what, Mode mode)
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

LockedFile::LockedFile(int fd, QString what)
    : m_fd(fd)
    , m_what(std::move(what))
{
}

std::unique_ptr<LockedFile> LockedFile::lockedIfWritable(const QString &path, QString what)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<LockedFile> file(new LockedFile(fd, std::move(what)));
    file->lock();
    return file;
}

LockedFile::~LockedFile()
{
    if (m_fd >= 0)
        ::close(m_fd); // also releases the lock
}

void LockedFile::lock()
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

qint64 LockedFile::size() const
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        fail(u"cannot be measured", u"无法取得大小");
    return qint64(st.st_size);
}

qint64 LockedFile::read(qint64 offset, char *into, qint64 length) const
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

QByteArray LockedFile::read(qint64 offset, qint64 length) const
{
    QByteArray out(length, '\0');
    out.truncate(read(offset, out.data(), length));
    return out;
}

void LockedFile::write(qint64 offset, QByteArrayView bytes) const
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

void LockedFile::sync() const
{
    if (::fsync(m_fd) != 0)
        fail(u"cannot be flushed to disk", u"无法存到磁盘上");
}

void LockedFile::unlock()
{
    struct flock lock
    {
    };
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(m_fd, F_SETLK, &lock) != 0 && errno == EINTR) {
    }
}

void LockedFile::fail(QStringView doing, QStringView chinese) const
{
    const SystemErrorText why = systemErrorText(errno);
    throw EngineError(QStringLiteral("%1 %2: %3").arg(m_what, doing, why.english),
                      QStringLiteral("%1 %2：%3").arg(m_what, chinese, why.chinese));
}

LockedFile::OtherLock LockedFile::heldByOther(const QString &path)
{
    OtherLock other;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        other.unopenable = errno != ENOENT;
        return other;
    }
    struct flock probe
    {
    };
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
        other.held = true;
        other.pid = probe.l_pid;
    }
    ::close(fd);
    return other;
}

} // namespace lumora::engine
