#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>

namespace lumora::engine {

// One open .dbf, .dbt or .fpt file: the only place the dBase codec calls the
// operating system. Opened for reading it takes no lock; opened for writing
// it holds a whole-file write lock until it is closed, waiting at most two
// seconds for another program's lock to go. Every failure throws an
// EngineError naming `what` (the file's name) and the system's reason.
//
//     DbfFile dbf(path, name, DbfFile::Mode::WriteLocked);
//     dbf.write(recordOffset + field.offset, bytes);
//     dbf.sync();
class DbfFile
{
public:
    enum class Mode {
        Read,
        WriteLocked
    };

    DbfFile(const QString &path, QString what, Mode mode);
    ~DbfFile();
    // The file opened for writing and locked, as Mode::WriteLocked does;
    // null when it cannot be opened for writing at all (a read-only file),
    // leaving the refusal to whatever would write. Throws as the
    // constructor does when the lock cannot be had.
    static std::unique_ptr<DbfFile> lockedIfWritable(const QString &path, QString what);
    DbfFile(const DbfFile &) = delete;
    DbfFile &operator=(const DbfFile &) = delete;

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

    // The file beside `path` with the same base name and extension `ext`,
    // in any letter case (the exact spelling wins); empty when there is none.
    static QString sibling(const QString &path, const QString &ext);

private:
    DbfFile(int fd, QString what);
    void lock();
    // Throws the error of the system call that just failed; `doing` says
    // what could not be done, in English and in Chinese.
    [[noreturn]] void fail(QStringView doing, QStringView chinese) const;

    int m_fd = -1;
    QString m_what;
};

} // namespace lumora::engine
