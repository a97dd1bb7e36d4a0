#include "data/engine/mdb/JetPage.h"

#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"

#include <cstring>

namespace lumora::engine::JetPage {

namespace {

quint16 u16(QByteArrayView b, qsizetype at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

} // namespace

std::optional<std::vector<Slot>> rowSlots(const JetFormat &format, QByteArrayView page)
{
    if (page.size() != format.pageSize || quint8(page[0]) != kDataPage)
        return std::nullopt;
    const int count = u16(page, format.rowCountAt);
    const int tableEnd = format.rowOffsetAt + 2 * count;
    if (tableEnd > format.pageSize)
        return std::nullopt;
    std::vector<Slot> out(static_cast<size_t>(count));
    int previousStart = format.pageSize;
    for (int i = 0; i < count; ++i) {
        const quint16 raw = u16(page, format.rowOffsetAt + 2 * i);
        Slot &s = out[size_t(i)];
        s.flags = raw & (kDeleted | kMoved);
        s.start = raw & kOffsetMask;
        s.end = previousStart;
        previousStart = s.start;
    }
    return out;
}

bool isPacked(const JetFormat &format, QByteArrayView, const std::vector<Slot> &rowSlots)
{
    int end = format.pageSize;
    for (const Slot &s : rowSlots) {
        if (s.end != end || s.start > s.end)
            return false;
        end = s.start;
    }
    return end >= format.rowOffsetAt + 2 * int(rowSlots.size());
}

int freeBytes(const JetFormat &format, const std::vector<Slot> &rowSlots)
{
    const int lowest = rowSlots.empty() ? format.pageSize : rowSlots.back().start;
    return lowest - (format.rowOffsetAt + 2 * int(rowSlots.size()));
}

std::optional<QByteArray> repack(const JetFormat &format, QByteArrayView page,
                                 const std::vector<Slot> &rowSlots, int replace, QByteArrayView row,
                                 quint16 flags)
{
    const int count = int(rowSlots.size()) + (replace == int(rowSlots.size()) ? 1 : 0);
    if (count > 0xFF + 1)
        return std::nullopt; // a page-row names at most 256 rowSlots
    int used = 0;
    for (int i = 0; i < count; ++i)
        used += i == replace ? int(row.size()) : rowSlots[size_t(i)].length();
    const int tableEnd = format.rowOffsetAt + 2 * count;
    if (tableEnd + used > format.pageSize)
        return std::nullopt;
    QByteArray out(format.pageSize, '\0');
    std::memcpy(out.data(), page.data(), size_t(format.rowOffsetAt));
    ByteWriter w(out);
    int end = format.pageSize;
    for (int i = 0; i < count; ++i) {
        const QByteArrayView bytes =
            i == replace ? row : page.sliced(rowSlots[size_t(i)].start, rowSlots[size_t(i)].length());
        const quint16 rowFlags = i == replace ? flags : rowSlots[size_t(i)].flags;
        end -= int(bytes.size());
        if (!bytes.isEmpty()) // a deleted row keeps no bytes, and its view may hold no pointer
            std::memcpy(out.data() + end, bytes.data(), size_t(bytes.size()));
        w.le16(format.rowOffsetAt + 2 * i, quint16(end | rowFlags));
    }
    w.le16(format.rowCountAt, quint16(count));
    w.le16(2, quint16(end - tableEnd));
    return out;
}

} // namespace lumora::engine::JetPage
