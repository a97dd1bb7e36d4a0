#pragma once

#include <QRect>
#include <QSize>

// The largest region centred in a frame of size `frame` whose aspect ratio is
// that of `crop`; an empty rectangle when either size is empty. This is the
// part of the camera picture a saved photo shows, and what the guide
// rectangle over the live video outlines.
QRect centredCropRect(QSize frame, QSize crop);

// Where a picture of size `picture` is painted inside `area`: as large as fits
// with its aspect ratio kept, centred. Empty when either size is empty.
QRect fitRect(QSize picture, QRect area);

// The guide rectangle around centredCropRect(picture, crop) when the picture
// is shown at size `shown`, in the shown picture's pixels: what the video
// window outlines, and leaves undimmed. Empty when any size is empty.
QRect guideInPicture(QSize picture, QSize shown, QSize crop);
