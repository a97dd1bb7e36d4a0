#include "capture/TetherFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

namespace {

// The suffixes of the pictures Qt can read here, lower case.
const QSet<QString> &readableSuffixes()
{
    static const QSet<QString> suffixes = [] {
        QSet<QString> s;
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            s.insert(QString::fromLatin1(format).toLower());
        s.insert(QStringLiteral("jpg"));
        s.insert(QStringLiteral("jpeg"));
        return s;
    }();
    return suffixes;
}

// A JPEG ends with its end-of-image marker; one still being written does
// not yet. Some cameras pad the file after it: the tail is searched.
bool jpegComplete(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 tail = std::min<qint64>(file.size(), 64 * 1024);
    if (tail < 4 || !file.seek(file.size() - tail))
        return false;
    return file.read(tail).contains(QByteArrayLiteral("\xFF\xD9"));
}

} // namespace

TetherFolder::TetherFolder(QObject *parent)
    : QObject(parent)
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &TetherFolder::scan);
    m_poll.setInterval(1000);
    connect(&m_poll, &QTimer::timeout, this, &TetherFolder::scan);
    m_check.setInterval(100);
    connect(&m_check, &QTimer::timeout, this, &TetherFolder::checkPending);
}

bool TetherFolder::unreadablePhonePicture(const QString &name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    return (suffix == QLatin1String("heic") || suffix == QLatin1String("heif")) &&
           !readableSuffixes().contains(suffix) && !name.startsWith(QLatin1Char('.'));
}

bool TetherFolder::ignoredName(const QString &name)
{
    if (name.startsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char('~')))
        return true;
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == QLatin1String("part") || suffix == QLatin1String("tmp") ||
        suffix == QLatin1String("crdownload"))
        return true;
    return !readableSuffixes().contains(suffix);
}

bool TetherFolder::start(const QString &folder, QString *error)
{
    stop();
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isReadable()) {
        if (error)
            *error = folder.isEmpty() ? QStringLiteral("没有选择联机拍摄文件夹")
                                      : QStringLiteral("联机拍摄文件夹不存在或无法读取：%1").arg(folder);
        return false;
    }
    m_folder = info.absoluteFilePath();
    // What is there already was taken before: only what comes from now on counts.
    const QDir dir(m_folder);
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        m_known.insert(info.fileName(), seenNow(info));
    m_watcher.addPath(m_folder);
    m_poll.start();
    return true;
}

void TetherFolder::stop()
{
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    m_poll.stop();
    m_check.stop();
    m_known.clear();
    m_pending.clear();
    m_folder.clear();
}

void TetherFolder::scan()
{
    if (m_folder.isEmpty())
        return;
    const QDir dir(m_folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    // A name that went away (renamed over, deleted) may come back as a new picture.
    QSet<QString> present;
    for (const QFileInfo &info : entries)
        present.insert(info.fileName());
    for (auto it = m_known.begin(); it != m_known.end();)
        it = present.contains(it.key()) ? std::next(it) : m_known.erase(it);
    for (auto it = m_pending.begin(); it != m_pending.end();)
        it = present.contains(it.key()) ? std::next(it) : m_pending.erase(it);
    for (const QFileInfo &info : entries) {
        const QString name = info.fileName();
        if (m_pending.contains(name))
            continue;
        // Written again since it was looked at: a new picture under an old name.
        const auto known = m_known.constFind(name);
        if (known != m_known.cend() && known.value() == seenNow(info))
            continue;
        if (ignoredName(name)) {
            // A phone's own format is a picture the operator meant to take:
            // say why nothing happens, once per file.
            if (unreadablePhonePicture(name)) {
                m_known.insert(name, seenNow(info));
                emit pictureSkipped(info.absoluteFilePath(),
                                    QStringLiteral("联机拍摄文件夹中的 %1 是 HEIF/HEIC 格式，本程序读不了；"
                                                   "请把相机或手机设为拍 JPEG 照片")
                                        .arg(name));
            }
            continue;
        }
        m_known.remove(name);
        Pending p;
        p.seen.start();
        p.settled.start();
        m_pending.insert(name, p);
    }
    if (!m_pending.isEmpty() && !m_check.isActive())
        m_check.start();
}

void TetherFolder::checkPending()
{
    struct Ready
    {
        QDateTime modified;
        QString name;
        QImage picture;
    };
    QList<Ready> ready;
    QList<std::pair<QString, QString>> skipped;
    const QDir dir(m_folder);
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        Pending &p = it.value();
        const QString path = dir.filePath(it.key());
        const QFileInfo info(path);
        if (info.size() != p.size || info.lastModified() != p.modified) {
            p.size = info.size();
            p.modified = info.lastModified();
            p.settled.start();
        }
        bool done = false;
        if (p.size > 0 && p.settled.elapsed() >= SettleMs) {
            const QString suffix = info.suffix().toLower();
            const bool jpeg = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
            if (!jpeg || jpegComplete(path)) {
                QImageReader reader(path);
                reader.setAutoTransform(true); // EXIF orientation: the picture comes upright
                QImage picture = reader.read();
                if (!picture.isNull()) {
                    ready.append({p.modified, it.key(), std::move(picture)});
                    done = true;
                }
            }
        }
        if (!done && p.seen.elapsed() >= m_giveUpMs) {
            skipped.append({path, QStringLiteral("联机拍摄文件夹中的 %1 在 %2 秒内没有写完或无法读取，已跳过")
                                      .arg(it.key())
                                      .arg(m_giveUpMs / 1000.0, 0, 'g', 3)});
            done = true;
        }
        if (done) {
            m_known.insert(it.key(), seenNow(info));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    if (m_pending.isEmpty())
        m_check.stop();
    // Oldest first: the newest picture is the one left as the still.
    std::sort(ready.begin(), ready.end(), [](const Ready &a, const Ready &b) {
        return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
    });
    const QString folder = m_folder;
    for (const auto &[path, reason] : skipped)
        emit pictureSkipped(path, reason);
    for (const Ready &r : ready) {
        // A receiver may stop the watch: what it stopped is not handed on.
        if (m_folder != folder)
            return;
        emit pictureArrived(r.picture, QDir(folder).filePath(r.name));
    }
}
