#include "capture/CropGeometry.h"

#include <cmath>

QRect centredCropRect(QSize frame, QSize crop)
{
    if (frame.width() < 1 || frame.height() < 1 || crop.width() < 1 || crop.height() < 1)
        return {};
    // Compare frame.w / frame.h with crop.w / crop.h in 64-bit integers: the
    // crop size comes from the operator and has no upper bound.
    const qint64 fw = frame.width(), fh = frame.height();
    const qint64 cw = crop.width(), ch = crop.height();
    qint64 w, h;
    if (fw * ch > cw * fh) {
        // Frame wider than the crop: full height, width from the ratio.
        h = fh;
        w = (fh * cw + ch / 2) / ch;
    } else {
        w = fw;
        h = (fw * ch + cw / 2) / cw;
    }
    w = qBound<qint64>(1, w, fw);
    h = qBound<qint64>(1, h, fh);
    const int x = int((fw - w) / 2);
    const int y = int((fh - h) / 2);
    return QRect(x, y, int(w), int(h));
}

QRect fitRect(QSize picture, QRect area)
{
    if (picture.isEmpty() || area.isEmpty())
        return {};
    const QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
    if (fitted.isEmpty())
        return {};
    return QRect(area.x() + (area.width() - fitted.width()) / 2,
                 area.y() + (area.height() - fitted.height()) / 2, fitted.width(), fitted.height());
}

QRect cropRectAt(QSize frame, QSize crop, QRectF region)
{
    const QRect centred = centredCropRect(frame, crop);
    if (centred.isEmpty() || !region.isValid() || !std::isfinite(region.x()) || !std::isfinite(region.y()) ||
        !std::isfinite(region.width()) || !std::isfinite(region.height()))
        return centred;
    // The region's height in pixels decides the size; the width follows
    // from the crop's shape, so the photo is never stretched.
    const double ratio = double(crop.width()) / crop.height();
    double h = region.height() * frame.height();
    double w = h * ratio;
    // No larger than the centred part, the largest the frame holds.
    if (w > centred.width() || h > centred.height()) {
        w = centred.width();
        h = centred.height();
    }
    const int iw = qMax(1, int(std::lround(w))), ih = qMax(1, int(std::lround(h)));
    const double cx = (region.x() + region.width() / 2) * frame.width();
    const double cy = (region.y() + region.height() / 2) * frame.height();
    const int x = qBound(0, int(std::lround(cx - iw / 2.0)), frame.width() - iw);
    const int y = qBound(0, int(std::lround(cy - ih / 2.0)), frame.height() - ih);
    return QRect(x, y, iw, ih);
}

QRect guideInPicture(QSize picture, QSize shown, QSize crop, QRectF region)
{
    const QRect part = cropRectAt(picture, crop, region);
    if (part.isEmpty() || shown.isEmpty())
        return {};
    const double sx = double(shown.width()) / picture.width();
    const double sy = double(shown.height()) / picture.height();
    return QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy)
        .toAlignedRect()
        .intersected(QRect(QPoint(0, 0), shown));
}
