#pragma once

#include "capture/Caption.h"

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

// Writes a camera frame as a photo: the part cropRectAt(frame, crop, region)
// (the centred part unless a framing gives a region), scaled smoothly to
// exactly the crop size, encoded as JPEG (quality 95) or Windows bitmap,
// at the dots per inch given (96 unless a photo rule asks for 300; JPEG's
// JFIF header and the bitmap's header carry it), with the caption (if any)
// drawn into it. The file goes to a temporary name in
// the target's folder and is renamed over the target, so it is complete or absent.
class StillWriter
{
public:
    enum class Format {
        Jpeg,
        Bmp
    };

    // The largest crop side accepted; larger sizes would need gigabytes.
    static constexpr int MaxSide = 16384;
    // The resolution photo programs expect from a screen-sized picture.
    static constexpr int DefaultDpi = 96;

    // "" (or anything but "BMP", in any letter case) means JPEG.
    static Format formatFromText(const QString &text);

    // The frame cropped and scaled to `crop`; a null image when the frame or
    // the crop size is unusable.
    static QImage cropped(const QImage &frame, QSize crop, QRectF region = {}, int dpi = DefaultDpi);

    // false with the reason in *error when the picture could not be written;
    // no file is left behind then.
    static bool write(const QImage &frame, QSize crop, Format format, const QString &path, QString *error,
                      const Caption &caption = {}, QRectF region = {}, int dpi = DefaultDpi);
};
