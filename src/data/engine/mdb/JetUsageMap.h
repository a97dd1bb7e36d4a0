#pragma once

#include "data/engine/mdb/JetFile.h"

#include <functional>
#include <optional>
#include <vector>

namespace lumora::engine {

// A usage map: the set of pages a table owns, or of its pages with room.
// The map is a row on a data page, at a page-row the table definition
// names. Its first byte is its kind: 0 "inline", u32 first page then a
// bitmap over the pages from it on; 1 "reference", u32 page numbers of
// usage-map pages (type 0x05), each holding from byte 4 a bitmap over the
// next (page size - 4) * 8 pages.
class JetUsageMap
{
public:
    // Reads the map at `pageRow`; throws EngineError naming `table` when it
    // is not there or is of an unknown kind.
    static JetUsageMap read(const JetFile &db, quint32 pageRow, const QString &table);

    // Every page the map holds that the file has, in ascending order.
    const std::vector<quint32> &pages() const { return m_pages; }
    // How many pages the map names past the end of the file (a file cut
    // short); a bitmap page past the end counts as one.
    quint32 pagesPastEnd() const { return m_pastEnd; }
    bool contains(quint32 page) const;
    // The page to write so that the map holds `page` (or not), made from
    // `current(n)`, the bytes page n will have before it; nothing when the
    // map cannot name that page, or when the bit is as asked already.
    std::optional<JetFile::PageWrite> with(const std::function<QByteArray(quint32)> &current,
                                           const JetFormat &format, quint32 page, bool held) const;

    // Where the map's row is, and its kind (0 inline, 1 reference).
    quint32 rowPage() const { return m_rowPage; }
    int rowStart() const { return m_rowStart; }
    int rowLength() const { return m_rowLength; }
    quint8 kind() const { return m_kind; }

private:
    quint32 m_rowPage = 0; // the data page holding the map's row
    int m_rowStart = 0;    // where the row starts on it
    int m_rowLength = 0;
    quint8 m_kind = 0;
    quint32 m_first = 0;             // inline: the page of bit 0
    std::vector<quint32> m_mapPages; // reference: the bitmap pages, 0 where none
    std::vector<quint32> m_pages;
    quint32 m_pastEnd = 0;
};

} // namespace lumora::engine
