#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>

namespace lumora::engine {

// One open data file read or written in place: a dBase table or memo file,
// an Access database, a workbook read for its bytes. Opened for reading it
// takes no lock; opened for writing it holds a whole-file write lock until
// it is closed, waiting at most two seconds for another program's lock to
// go. Every failure throws an EngineError naming `what` (the file's name)
// and the system's reason. (A file whose whole content is replaced goes
// through SafeReplace instead.)
//
//     LockedFile dbf(path, name, LockedFile::Mode::WriteLocked);
//     dbf.write(recordOffset + field.offset, bytes);
//     dbf.sync();
class LockedFile
{
public:
    enum class Mode {
        Read,
        WriteLocked
    };

    LockedFile(const QString &path, QString what, Mode mode);
    ~LockedFile();
    // The file opened for writing and locked, as Mode::WriteLocked does;
    // null when it cannot be opened for writing at all (a read-only file),
    // leaving the refusal to whatever would write. Throws as the
    // constructor does when the lock cannot be had.
    static std::unique_ptr<LockedFile> lockedIfWritable(const QString &path, QString what);
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    const QString &what() const { return m_what; }
    // The file's size now; another program may have changed it since it opened.
    qint64 size() const;
    // Reads up to `length` bytes at `offset` into `into` and returns how many
    // were read: fewer only at the end of the file.
    qint64 read(qint64 offset, char *into, qint64 length) const;
    // Up to `length` bytes at `offset`; fewer at the end of the file.
    QByteArray read(qint64 offset, qint64 length) const;
    // Writes all of `bytes` at `offset` (Mode::WriteLocked only).
    void write(qint64 offset, QByteArrayView bytes) const;
    // Returns once everything written is on the disk.
    void sync() const;
    // Gives up the lock and keeps the file open for reading. (Closing any
    // descriptor of the file would give up this process's locks on it, so a
    // lock is never left to the closing of another descriptor.)
    void unlock();

    // Another program's lock on any part of the file at `path`, as F_GETLK
    // sees it: one that would keep a write lock of the whole file from
    // being had. This process's own record locks are not seen (its
    // open-file-description locks, as SafeReplace takes, are).
    struct OtherLock
    {
        bool held = false;       // such a lock is held
        qint64 pid = 0;          // its holder's process id; -1 for an open-file-description lock
        bool unopenable = false; // the file is there but cannot be opened to ask
    };
    static OtherLock heldByOther(const QString &path);

private:
    LockedFile(int fd, QString what);
    void lock();
    // Throws the error of the system call that just failed; `doing` says
    // what could not be done, in English and in Chinese.
    [[noreturn]] void fail(QStringView doing, QStringView chinese) const;

    int m_fd = -1;
    QString m_what;
};

} // namespace lumora::engine
