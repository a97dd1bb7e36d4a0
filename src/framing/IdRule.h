#pragma once

#include <QSize>
#include <QString>

#include <span>

// The photo sizes of the "证件照规格" list on the "照片设置" page: a rule
// fixes the photo's size in pixels, the dots per inch written into the file
// (so that it prints at its size in millimetres) and the share of the
// photo's height the head (crown to chin) should take.
//
//     idRules()[1]: 一寸, 25 x 35 mm, 295 x 413 px at 300 dpi, head 0.55 to 0.70
//
// The first rule, 自定义, takes its size from the boxes "照片高" and "照片宽"
// (as before there were rules) and is written at 96 dpi.
struct IdRule
{
    const char *name;  // as the list shows it
    double widthMm;    // 0 for 自定义
    double heightMm;   // 0 for 自定义
    int dpi;           // dots per inch written into the file
    QSize pixels;      // the photo's size; empty for 自定义
    double headMin;    // head height / photo height, least accepted
    double headMax;    // and most
    double headTarget; // what a face-centred crop aims at

    bool isCustom() const { return pixels.isEmpty(); }
    QString displayName() const { return QString::fromUtf8(name); }
};

// Every rule, in the order of the list; the first is 自定义.
std::span<const IdRule> idRules();
// The rule at a list index; 自定义 for an index out of range.
const IdRule &idRule(int index);
// Pixels for a length at a resolution, rounded: 25 mm at 300 dpi -> 295.
int pixelsFor(double mm, int dpi);
