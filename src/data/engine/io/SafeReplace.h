#pragma once

#include <QByteArray>
#include <QString>

namespace lumora::engine {

// A data file whose whole content is replaced so that a crash, a full disk
// or another writer never leaves it half written nor loses what belongs to
// it. Opening takes a write lock on the file (waiting at most two seconds
// for another program's); every failure throws an EngineError naming
// `what` (the file's name) and the system's reason.
//
//     SafeReplace file(path, name);
//     file.checkHolds(bytesRead); // Code::Changed: another program changed or replaced it
//     file.replace(newBytes);     // the new bytes on disk, or the old ones
//
// replace() writes a working copy ".NAME.lumora-XXXXXX" beside the file,
// gives it the file's owner, group, mode and extended attributes (ACLs
// among them), syncs it, renames it over the file and syncs the folder.
// Where that would lose something (the file has other hard links, or the
// copy cannot take its owner, group or an attribute) the file is written
// in place instead: first a synced copy of the old bytes, renamed to
// ".NAME.lumora-XXXXXX.old-INODE" once whole, then the new bytes in place,
// synced, then the copy removed. A writer holds a lock on its copy while
// it exists. A copy nobody holds is a dead writer's: replace() removes it;
// recover() (run before the file is read) and replace() write an ".old-"
// copy back into the file it was made from, whose writing never finished.
class SafeReplace
{
public:
    SafeReplace(const QString &path, QString what);
    ~SafeReplace();
    SafeReplace(const SafeReplace &) = delete;
    SafeReplace &operator=(const SafeReplace &) = delete;

    // The file's bytes now.
    QByteArray read() const;
    // Throws Code::Changed when the file at the path is no longer the one
    // locked (another program renamed a new file over it) or does not hold
    // exactly `expected`.
    void checkHolds(const QByteArray &expected) const;
    // Replaces the file's content by `bytes`, once.
    void replace(const QByteArray &bytes);

    // Puts back the old content of the file at `path` when a writer died
    // while writing it in place; waits a little for one that is writing it
    // now. Throws only when old content that must be put back cannot be.
    static void recover(const QString &path, const QString &what);

private:
    // Removes dead writers' copies beside the file and puts back an old
    // content left by one; m_fd holds the lock.
    void settle();
    // Makes and locks a new working copy; returns its descriptor.
    int makeCopy(QByteArray *name) const;
    // Gives the copy the file's owner, group, mode and attributes; false
    // when one of them cannot be given.
    bool keepWhatBelongs(int copy) const;
    void replaceByRename(const QByteArray &bytes);
    void replaceInPlace(const QByteArray &bytes);
    void syncFolder() const;
    // Throws the error `error` of a system call; `doing` says what could
    // not be done, in English and in Chinese.
    [[noreturn]] void fail(int error, QStringView doing = u"cannot be written",
                           QStringView chinese = u"无法写入") const;

    QString m_what;
    QByteArray m_path; // the file, its links followed, as the system spells it
    QByteArray m_dir;
    QByteArray m_name;
    int m_fd = -1;
};

} // namespace lumora::engine
