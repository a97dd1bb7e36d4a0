#pragma once
// A child process that holds an fcntl write lock on bytes of a file, as
// another program holding a roster open does. The lock is taken before the
// constructor returns; the child is killed and reaped when the holder goes,
// on every path out of a test, and ends itself after a minute in any case,
// so a failing check can never leave it keeping the test's output open.

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

class LockHolder
{
public:
    LockHolder(const QString &path, off_t start, off_t length)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::alarm(60);
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = start;
            lock.l_len = length;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char ok = '0';
        m_locked = m_pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    // Whether the child holds the lock.
    bool locked() const { return m_locked; }
    pid_t pid() const { return m_pid; }
    // Ends the child, and with it the lock.
    void release()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
        m_locked = false;
    }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};
