#pragma once

#include <QColor>
#include <QPoint>
#include <QString>

// One line of text drawn into every saved photo and over the live video where
// it will land: the text's top-left corner `offset` pixels from the photo's
// top-left corner, in a font of `pointSize` points (at the photo's 96 dpi) and
// in `colour`. An empty text draws nothing.
struct Caption
{
    QString text;
    QPoint offset;
    double pointSize = 9;
    QColor colour = Qt::black;
    // The font family; empty: an installed font that has Chinese characters.
    QString family;

    bool isEmpty() const { return text.isEmpty() || pointSize <= 0; }
    friend bool operator==(const Caption &, const Caption &) = default;
};
