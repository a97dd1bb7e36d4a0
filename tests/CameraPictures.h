#pragma once
// Pictures as a camera writes them, for the suites of the sources beyond the
// webcam: a JPEG whose EXIF orientation says how to turn it upright.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// Stored 300 wide and 200 high: its left third red, the rest blue. Upright
// it is the same picture turned as `orientation` says; for 6 (turn a
// quarter clockwise) that is 200 x 300 with its top third red.
inline QImage sidewaysPicture()
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(QColor(Qt::blue));
    QPainter(&image).fillRect(0, 0, 100, 200, Qt::red);
    return image;
}

// Writes sidewaysPicture() as a JPEG at `path` and has exiftool, an
// independent writer of the tag, set its orientation. False with the reason.
inline bool writeRotatedJpeg(const QString &path, int orientation, QString *why)
{
    if (!sidewaysPicture().save(path, "JPEG", 95)) {
        *why = QStringLiteral("cannot write ") + path;
        return false;
    }
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty()) {
        *why = QStringLiteral("exiftool is not installed (libimage-exiftool-perl)");
        return false;
    }
    QProcess tool;
    tool.start(exiftool, {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-n"),
                          QStringLiteral("-Orientation=%1").arg(orientation), path});
    if (!tool.waitForFinished(30000)) {
        tool.kill();
        tool.waitForFinished();
        *why = QStringLiteral("exiftool did not finish");
        return false;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        *why = QString::fromLocal8Bit(tool.readAllStandardError());
        return false;
    }
    return true;
}

// The colour is mostly red, or mostly blue: JPEG noise aside.
inline bool reddish(QRgb c)
{
    return qRed(c) > 180 && qBlue(c) < 90;
}
inline bool bluish(QRgb c)
{
    return qBlue(c) > 180 && qRed(c) < 90;
}
