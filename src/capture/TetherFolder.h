#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QTimer>

// A folder another program saves a real camera's pictures into (gphoto2
// --capture-tethered, Entangle, darktable, a phone's sync folder). Each
// picture that appears there after start(), or is written again over a name
// already there (a tether program that always saves under one name), is
// handed on once it is complete:
// its size has stayed the same for a while, it decodes, and a JPEG has its
// end marker. The picture comes upright (EXIF orientation applied). Files
// already there at start() are never taken; hidden and partial names (".x",
// "*.part", "*.tmp", "*~") and files that are no picture Qt reads (a camera's
// raw file beside its JPEG) are ignored; a phone's HEIF picture is skipped
// with a reason. A file that does not become a picture within
// giveUpAfterMs() is skipped with a reason.
class TetherFolder : public QObject
{
    Q_OBJECT
public:
    explicit TetherFolder(QObject *parent = nullptr);

    // Starts watching `folder`; false with the reason in *error when it is
    // not a readable folder.
    bool start(const QString &folder, QString *error);
    void stop();
    bool isWatching() const { return !m_folder.isEmpty(); }
    QString folder() const { return m_folder; }

    // How long a file may stay unfinished before it is skipped.
    int giveUpAfterMs() const { return m_giveUpMs; }
    void setGiveUpAfterMs(int ms) { m_giveUpMs = ms; }
    // How long a file's size must stay unchanged before it is read.
    static constexpr int SettleMs = 300;

signals:
    void pictureArrived(const QImage &picture, const QString &path);
    void pictureSkipped(const QString &path, const QString &reason);

private:
    struct Pending
    {
        qint64 size = -1;
        QDateTime modified;
        QElapsedTimer seen;    // since the file appeared
        QElapsedTimer settled; // since its size or time last changed
    };

    // A file's size and time when it was last looked at as a whole.
    struct Seen
    {
        qint64 size = -1;
        QDateTime modified;
        friend bool operator==(const Seen &, const Seen &) = default;
    };
    static Seen seenNow(const QFileInfo &info) { return {info.size(), info.lastModified()}; }

    void scan();
    void checkPending();
    static bool ignoredName(const QString &name);
    // A phone's HEIF picture, which Qt here does not read.
    static bool unreadablePhonePicture(const QString &name);

    QString m_folder;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;                // some file systems (network shares) send no change notices
    QTimer m_check;               // runs while files are pending
    QHash<QString, Seen> m_known; // taken, skipped, or there before the start
    QHash<QString, Pending> m_pending;
    int m_giveUpMs = 20000;
};
