#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>

#include <vector>

// What the pipeline draws over a live frame besides the dimming: the parts of
// an overlay that are not transparent, kept as runs of pixels a row at a
// time. A few thousand pixels for a guide's border and a caption: they stay
// in the cache from frame to frame, where the overlay image itself, as large
// as the frame, would be read again from memory a row at a time.
class OverlayRuns
{
public:
    OverlayRuns() = default;
    // The pixels of `overlay` (premultiplied ARGB) inside `parts` whose
    // alpha is not 0.
    OverlayRuns(const QImage &overlay, const QRegion &parts);

    bool isEmpty() const { return m_runs.empty(); }
    // The size of the overlay they came from: the frames they fit.
    QSize size() const { return m_size; }

private:
    friend void shadeRows(uchar *, qsizetype, QSize, QRect, const OverlayRuns &, int, int);
    struct Run
    {
        int y;
        int x;
        int count;
        int offset; // into m_pixels
    };
    QSize m_size;
    std::vector<Run> m_runs; // by row, then column
    std::vector<quint32> m_pixels;
};

// Dims an RGB32 picture outside `keep` in place, about as the video window
// dims it, and draws `over` (when it fits the picture) on it: in one pass,
// row by row, while each row is in the cache. What the pipeline does to a
// live frame it owns.
void shadeFrame(uchar *bits, qsizetype bytesPerLine, QSize size, QRect keep, const OverlayRuns &over);
// The same for rows firstRow to endRow − 1 alone (`bits` is still the first
// row's): for a frame shaded a band at a time, as it is being written.
void shadeRows(uchar *bits, qsizetype bytesPerLine, QSize size, QRect keep, const OverlayRuns &over,
               int firstRow, int endRow);

// The dimming alone.
inline void dimOutside(uchar *bits, qsizetype bytesPerLine, QSize size, QRect keep)
{
    shadeFrame(bits, bytesPerLine, size, keep, {});
}
