#include "data/engine/mdb/JetUsageMap.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/mdb/JetPage.h"

#include <algorithm>

namespace lumora::engine {

namespace {

void addBits(std::vector<quint32> &pages, quint32 &pastEnd, QByteArrayView bitmap, quint64 first,
             quint32 pageCount)
{
    for (qsizetype byte = 0; byte < bitmap.size(); ++byte) {
        const quint8 bits = quint8(bitmap[byte]);
        if (bits == 0)
            continue;
        for (int bit = 0; bit < 8; ++bit)
            if (bits & (1u << bit)) {
                const quint64 page = first + quint64(byte) * 8 + quint64(bit);
                if (page < pageCount)
                    pages.push_back(quint32(page));
                else
                    ++pastEnd;
            }
    }
}

} // namespace

JetUsageMap JetUsageMap::read(const JetFile &db, quint32 pageRow, const QString &table)
{
    const JetFormat &f = db.format();
    JetUsageMap map;
    map.m_rowPage = JetPage::pageOf(pageRow);
    const int slot = JetPage::rowOf(pageRow);
    const QByteArrayView page = db.page(map.m_rowPage);
    const auto rowSlots = JetPage::rowSlots(f, page);
    if (!rowSlots || slot >= int(rowSlots->size()) || (*rowSlots)[size_t(slot)].length() < 1 ||
        (*rowSlots)[size_t(slot)].start < f.rowOffsetAt)
        throw EngineError::format(u"%1 is damaged: the page map of table %2 (page %3, row %4) is missing",
                                  u"文件 %1 已损坏：数据表 %2 的页面表（第 %3 页第 %4 行）不见了", db.what(),
                                  table, map.m_rowPage, slot);
    map.m_rowStart = (*rowSlots)[size_t(slot)].start;
    map.m_rowLength = (*rowSlots)[size_t(slot)].length();
    const QByteArrayView row = page.sliced(map.m_rowStart, map.m_rowLength);
    const ByteCursor c(row, db.what());
    map.m_kind = quint8(row[0]);
    if (map.m_kind == 0) {
        map.m_first = c.u32le(1);
        addBits(map.m_pages, map.m_pastEnd, row.sliced(5), map.m_first, db.pageCount());
    } else if (map.m_kind == 1) {
        const quint64 perPage = quint64(f.pageSize - 4) * 8;
        for (qsizetype at = 1; at + 4 <= row.size(); at += 4) {
            const quint32 mapPage = c.u32le(at);
            map.m_mapPages.push_back(mapPage);
            if (mapPage == 0)
                continue;
            if (mapPage >= db.pageCount()) {
                ++map.m_pastEnd;
                continue;
            }
            const QByteArrayView bitmap = db.page(mapPage);
            if (quint8(bitmap[0]) != JetPage::kUsageMapPage)
                throw EngineError::format(u"%1 is damaged: page %2, part of the page map of table %3, is no "
                                          u"page map",
                                          u"文件 %1 已损坏：第 %2 页属于数据表 %3 的页面表，但不是页面表",
                                          db.what(), mapPage, table);
            addBits(map.m_pages, map.m_pastEnd, bitmap.sliced(4), perPage * (map.m_mapPages.size() - 1),
                    db.pageCount());
        }
    } else {
        throw EngineError::format(u"%1 is damaged: the page map of table %2 is of unknown kind %3",
                                  u"文件 %1 已损坏：数据表 %2 的页面表类型 %3 无法识别", db.what(), table,
                                  map.m_kind);
    }
    std::sort(map.m_pages.begin(), map.m_pages.end());
    map.m_pages.erase(std::unique(map.m_pages.begin(), map.m_pages.end()), map.m_pages.end());
    return map;
}

bool JetUsageMap::contains(quint32 page) const
{
    return std::binary_search(m_pages.begin(), m_pages.end(), page);
}

std::optional<JetFile::PageWrite> JetUsageMap::with(const std::function<QByteArray(quint32)> &current,
                                                    const JetFormat &f, quint32 page, bool held) const
{
    if (contains(page) == held)
        return std::nullopt;
    quint32 target = 0;
    qint64 byteAt = 0;
    quint64 bit = 0;
    if (m_kind == 0) {
        if (page < m_first)
            return std::nullopt;
        bit = page - m_first;
        if (5 + qint64(bit / 8) >= m_rowLength)
            return std::nullopt;
        target = m_rowPage;
        byteAt = m_rowStart + 5 + qint64(bit / 8);
    } else {
        const quint64 perPage = quint64(f.pageSize - 4) * 8;
        const quint64 index = page / perPage;
        if (index >= m_mapPages.size() || m_mapPages[size_t(index)] == 0)
            return std::nullopt;
        target = m_mapPages[size_t(index)];
        bit = page % perPage;
        byteAt = 4 + qint64(bit / 8);
    }
    QByteArray bytes = current(target);
    const quint8 mask = quint8(1u << (bit % 8));
    bytes[byteAt] = char(held ? (quint8(bytes[byteAt]) | mask) : (quint8(bytes[byteAt]) & ~mask));
    return JetFile::PageWrite{target, bytes};
}

} // namespace lumora::engine
