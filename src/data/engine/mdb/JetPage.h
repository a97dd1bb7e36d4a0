#pragma once

#include "data/engine/mdb/JetFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

namespace lumora::engine {

// The row slots of a data page, and the one way this writer lays rows out
// on a page. A data page holds: 0x00 u8 0x01, 0x01 u8 0x01, 0x02 u16 free
// bytes, 0x04 u32 owner, then (JetFormat::rowCountAt) u16 slot count and
// one u16 per slot: the row's offset in the low 13 bits, 0x4000 "moved" (the
// row holds a 4-byte pointer to where it lives now: u8 row, u24 page) and
// 0x8000 "deleted, or the target of a move". Rows lie from the page's end
// backwards: row 0 ends at the end of the page, row i ends where row i - 1
// starts.
namespace JetPage {

constexpr quint16 kDeleted = 0x8000;
constexpr quint16 kMoved = 0x4000;
constexpr quint16 kOffsetMask = 0x1FFF;
constexpr quint8 kDataPage = 0x01;
constexpr quint8 kTableDefinitionPage = 0x02;
constexpr quint8 kUsageMapPage = 0x05;

struct Slot
{
    quint16 flags = 0; // kDeleted, kMoved
    int start = 0;     // bytes from the page's start
    int end = 0;       // one past the row's last byte
    int length() const { return end - start; }
};

// The slots of a data page; nothing when the page is not one or its slot
// table does not fit (a damaged page).
std::optional<std::vector<Slot>> rowSlots(const JetFormat &format, QByteArrayView page);
// Whether the rows lie as this writer lays them: slot order from the
// page's end, each ending where the one before it starts, the slot table
// before them all. Only such a page is rewritten.
bool isPacked(const JetFormat &format, QByteArrayView page, const std::vector<Slot> &rowSlots);
// Bytes between the slot table and the lowest row.
int freeBytes(const JetFormat &format, const std::vector<Slot> &rowSlots);

// The page with the rows of `page` in slot order (flags kept), slot
// `replace` holding `row` with `flags` instead (or, when `replace` is the
// slot count, a new slot appended), the free-byte count set to the gap left.
// Nothing when they do not fit. Every other row keeps its bytes and its
// slot number.
std::optional<QByteArray> repack(const JetFormat &format, QByteArrayView page,
                                 const std::vector<Slot> &rowSlots, int replace, QByteArrayView row,
                                 quint16 flags);

// A page-row: the page in the upper three bytes, the slot in the lowest.
constexpr quint32 pageOf(quint32 pageRow)
{
    return pageRow >> 8;
}
constexpr int rowOf(quint32 pageRow)
{
    return int(pageRow & 0xFF);
}

} // namespace JetPage

} // namespace lumora::engine
