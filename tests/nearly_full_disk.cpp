// Loaded with LD_PRELOAD into a program under test, it plays a nearly full
// disk: writes to regular files stop with ENOSPC once LUMORA_DISK_ROOM bytes
// have been written (the write that crosses the limit writes what fits, as
// the kernel does), and fallocate() is not supported, as on some file
// systems, so that a writer meets the full disk in the middle of a write.
// Pipes and terminals are written as usual.

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

long long written = 0;

// How many bytes may still go to regular files; -1 for any number.
long long room(int fd)
{
    static const long long limit = [] {
        const char *v = std::getenv("LUMORA_DISK_ROOM");
        return v ? std::atoll(v) : -1;
    }();
    struct stat st
    {
    };
    if (limit < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return limit > written ? limit - written : 0;
}

// The bytes of a write that fit, or -1 with errno ENOSPC when none does.
long long fitting(int fd, size_t n)
{
    const long long left = room(fd);
    if (left < 0 || (long long)n <= left)
        return (long long)n;
    if (left == 0) {
        errno = ENOSPC;
        return -1;
    }
    return left;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *bytes, size_t n)
{
    const long long fits = fitting(fd, n);
    if (fits < 0)
        return -1;
    const long r = ::syscall(SYS_write, fd, bytes, size_t(fits));
    if (r > 0 && room(fd) >= 0)
        written += r;
    return r;
}

ssize_t pwrite(int fd, const void *bytes, size_t n, off_t offset)
{
    const long long fits = fitting(fd, n);
    if (fits < 0)
        return -1;
    const long r = ::syscall(SYS_pwrite64, fd, bytes, size_t(fits), offset);
    if (r > 0 && room(fd) >= 0)
        written += r;
    return r;
}

ssize_t pwrite64(int fd, const void *bytes, size_t n, off_t offset)
{
    return pwrite(fd, bytes, n, offset);
}

int fallocate(int, int, off_t, off_t)
{
    errno = EOPNOTSUPP;
    return -1;
}

int fallocate64(int, int, off_t, off_t)
{
    errno = EOPNOTSUPP;
    return -1;
}
}
