#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>

// The largest region centred in a frame of size `frame` whose aspect ratio is
// that of `crop`; an empty rectangle when either size is empty. This is the
// part of the camera picture a saved photo shows, and what the guide
// rectangle over the live video outlines.
QRect centredCropRect(QSize frame, QSize crop);

// Where a picture of size `picture` is painted inside `area`: as large as fits
// with its aspect ratio kept, centred. Empty when either size is empty.
QRect fitRect(QSize picture, QRect area);

// The part of a frame of size `frame` a photo of size `crop` is cut from:
// `region` (fractions of the frame's width and height, as a face-centred
// framing gives it) in the frame's pixels, given the crop's aspect ratio
// about its centre and kept inside the frame; centredCropRect(frame, crop)
// when `region` is empty.
//     cropRectAt({640, 480}, {150, 200}, {}) == centredCropRect(...)
//     cropRectAt({1000, 1000}, {100, 100}, {0.1, 0.2, 0.3, 0.3}) == {100, 200, 300, 300}
QRect cropRectAt(QSize frame, QSize crop, QRectF region);

// The guide rectangle around cropRectAt(picture, crop, region) when the
// picture is shown at size `shown`, in the shown picture's pixels: what the
// video window outlines, and leaves undimmed. Empty when any size is empty.
QRect guideInPicture(QSize picture, QSize shown, QSize crop, QRectF region = {});
