#include "capture/StillWriter.h"

#include "capture/CaptionPainter.h"
#include "capture/CropGeometry.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <cmath>

namespace {
constexpr int JpegQuality = 95;
// Dots per inch as dots per metre, which Qt turns back into whole dots per
// inch (rounded) for the JFIF header: 96 -> 3780, 300 -> 11811.
int dotsPerMetre(int dpi)
{
    return int(std::lround(qBound(1, dpi, 65535) / 0.0254));
}
} // namespace

StillWriter::Format StillWriter::formatFromText(const QString &text)
{
    return text.compare(QLatin1String("BMP"), Qt::CaseInsensitive) == 0 ? Format::Bmp : Format::Jpeg;
}

QImage StillWriter::cropped(const QImage &frame, QSize crop, QRectF framing, int dpi)
{
    const QRect region = cropRectAt(frame.size(), crop, framing);
    if (region.isEmpty() || crop.width() > MaxSide || crop.height() > MaxSide)
        return {};
    QImage part = frame.copy(region);
    if (part.isNull())
        return {};
    QImage out =
        part.size() == crop ? part : part.scaled(crop, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (out.isNull() || out.size() != crop)
        return {};
    // Neither format keeps alpha; RGB32 keeps the bitmap at 24 bits per pixel.
    if (out.format() != QImage::Format_RGB32)
        out = out.convertToFormat(QImage::Format_RGB32);
    out.setDotsPerMeterX(dotsPerMetre(dpi));
    out.setDotsPerMeterY(dotsPerMetre(dpi));
    return out;
}

bool StillWriter::write(const QImage &frame, QSize crop, Format format, const QString &path, QString *error,
                        const Caption &caption, QRectF region, int dpi)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (frame.isNull())
        return fail(QStringLiteral("没有可保存的照片"));
    if (crop.width() < 1 || crop.height() < 1)
        return fail(QStringLiteral("裁剪尺寸无效：%1 × %2").arg(crop.width()).arg(crop.height()));
    if (crop.width() > MaxSide || crop.height() > MaxSide)
        return fail(QStringLiteral("裁剪尺寸过大：%1 × %2").arg(crop.width()).arg(crop.height()));
    if (path.isEmpty())
        return fail(QStringLiteral("没有给出保存路径"));
    const QFileInfo target(path);
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("文件夹不存在：%1").arg(QDir::toNativeSeparators(target.absolutePath())));
    if (target.isDir())
        return fail(QStringLiteral("保存路径是一个文件夹：%1").arg(QDir::toNativeSeparators(path)));

    QImage out = cropped(frame, crop, region, dpi);
    if (out.isNull())
        return fail(QStringLiteral("无法裁剪照片"));
    CaptionPainter::paint(out, caption);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(
            QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    QImageWriter writer(&file, format == Format::Bmp ? QByteArrayLiteral("bmp") : QByteArrayLiteral("jpeg"));
    if (format == Format::Jpeg)
        writer.setQuality(JpegQuality);
    if (!writer.write(out)) {
        const QString why = writer.errorString();
        file.cancelWriting();
        return fail(QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), why));
    }
    if (!file.commit())
        return fail(
            QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return true;
}
