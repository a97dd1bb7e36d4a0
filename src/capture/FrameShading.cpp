#include "capture/FrameShading.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

OverlayRuns::OverlayRuns(const QImage &overlay, const QRegion &parts)
    : m_size(overlay.size())
{
    if (overlay.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    const QRect all = overlay.rect();
    for (const QRect &rect : parts) {
        const QRect part = rect.intersected(all);
        for (int y = part.top(); y <= part.bottom(); ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(overlay.constScanLine(y));
            for (int x = part.left(); x <= part.right();) {
                if (line[x] >> 24 == 0) {
                    ++x;
                    continue;
                }
                const int from = x;
                while (x <= part.right() && line[x] >> 24 != 0)
                    ++x;
                m_runs.push_back({y, from, x - from, int(m_pixels.size())});
                m_pixels.insert(m_pixels.end(), line + from, line + x);
            }
        }
    }
    std::sort(m_runs.begin(), m_runs.end(),
              [](const Run &a, const Run &b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
}

namespace {

// Each channel times 145 / 256, about what 110 / 255 of black over it leaves.
void dim(quint32 *pixel, int from, int to)
{
    int x = from;
#if defined(__SSE2__)
    // Four pixels at a time: each byte widened to 16 bits, multiplied, and
    // narrowed back.
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(145);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    for (; x + 3 < to; x += 4) {
        auto *at = reinterpret_cast<__m128i *>(pixel + x);
        const __m128i c = _mm_loadu_si128(at);
        const __m128i low = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(c, zero), factor), 8);
        const __m128i high = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(c, zero), factor), 8);
        _mm_storeu_si128(at, _mm_or_si128(_mm_packus_epi16(low, high), opaque));
    }
#endif
    // The rest one at a time: red and blue in one multiplication, green in
    // another.
    for (; x < to; ++x) {
        const quint32 c = pixel[x];
        pixel[x] = 0xff000000u | ((((c & 0x00ff00ffu) * 145u) >> 8) & 0x00ff00ffu) |
                   ((((c >> 8) & 0x00ff00ffu) * 145u) & 0x0000ff00u);
    }
}

// Each channel of x times a / 255, rounded as Qt rounds it.
quint32 times(quint32 x, quint32 a)
{
    quint32 t = (x & 0x00ff00ffu) * a;
    t = ((t + ((t >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
    x = ((x >> 8) & 0x00ff00ffu) * a;
    x = (x + ((x >> 8) & 0x00ff00ffu) + 0x00800080u) & 0xff00ff00u;
    return x | t;
}

} // namespace

void shadeFrame(uchar *bits, qsizetype bytesPerLine, QSize size, QRect keep, const OverlayRuns &over)
{
    shadeRows(bits, bytesPerLine, size, keep, over, 0, size.height());
}

void shadeRows(uchar *bits, qsizetype bytesPerLine, QSize size, QRect keep, const OverlayRuns &over,
               int firstRow, int endRow)
{
    const bool dimming = !keep.isEmpty();
    keep = keep.intersected(QRect(QPoint(0, 0), size));
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, size.height());
    const bool drawing = !over.isEmpty() && over.size() == size;
    const auto end = over.m_runs.end();
    auto run = drawing ? std::lower_bound(over.m_runs.begin(), end, firstRow,
                                          [](const OverlayRuns::Run &r, int y) { return r.y < y; })
                       : end;
    for (int y = firstRow; y < endRow; ++y) {
        auto *line = reinterpret_cast<quint32 *>(bits + y * bytesPerLine);
        if (dimming) {
            if (keep.isEmpty() || y < keep.top() || y > keep.bottom()) {
                dim(line, 0, size.width());
            } else {
                dim(line, 0, keep.left());
                dim(line, keep.right() + 1, size.width());
            }
        }
        // Source over: the overlay's pixel plus the picture's times what
        // the overlay lets through.
        for (; run != end && run->y == y; ++run) {
            const quint32 *from = over.m_pixels.data() + run->offset;
            quint32 *to = line + run->x;
            for (int i = 0; i < run->count; ++i) {
                const quint32 c = from[i];
                to[i] = 0xff000000u | (c + times(to[i], 255 - (c >> 24)));
            }
        }
    }
}
