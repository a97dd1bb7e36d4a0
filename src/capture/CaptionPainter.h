#pragma once

#include "capture/Caption.h"

#include <QFont>
#include <QRect>
#include <QSize>

class QImage;
class QPainter;

// Draws a Caption into a photo: anti-aliased, on one line (control characters
// become blanks, nothing wraps), cut off at the photo's edges.
//
//     QImage photo = StillWriter::cropped(frame, {150, 200});
//     CaptionPainter::paint(photo, {QStringLiteral("初三（二）班 张三"), {10, 170}, 9, Qt::white});
class CaptionPainter
{
public:
    // The resolution a caption's points are measured at: the saved photo's.
    static constexpr double Dpi = 96.0;

    // The font the caption is drawn in, sized in pixels for Dpi.
    static QFont font(const Caption &caption);
    // The text as drawn: one line, control characters as blanks.
    static QString lineText(const QString &text);
    // The rectangle the line's glyphs may touch in a photo of size `photo`
    // (the font's line box, cut at the photo's edges); empty when nothing
    // of it lies inside.
    static QRect box(const Caption &caption, QSize photo);
    // Paints with `painter` set up in photo pixels; clips to `photo`.
    static void paint(QPainter &painter, const Caption &caption, QSize photo);
    static void paint(QImage &photo, const Caption &caption);
    // The first installed family that has Simplified Chinese characters,
    // preferring WenQuanYi Micro Hei and Noto Sans CJK; empty when none is.
    static QString chineseFamily();
};
