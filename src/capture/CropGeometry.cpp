#include "capture/CropGeometry.h"

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

QRect guideInPicture(QSize picture, QSize shown, QSize crop)
{
    const QRect part = centredCropRect(picture, crop);
    if (part.isEmpty() || shown.isEmpty())
        return {};
    const double sx = double(shown.width()) / picture.width();
    const double sy = double(shown.height()) / picture.height();
    return QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy)
        .toAlignedRect()
        .intersected(QRect(QPoint(0, 0), shown));
}
