#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <vector>

namespace lumora::engine {

// The sector-level layout of an OLE2 compound file, for changing one stream
// and nothing else: every byte outside that stream's sectors, its chain in
// the allocation table and its directory entry stays as it was. (libgsf
// reads the container; its writer lays out a new file, which loses the
// directory's class ids and times and moves every stream.) Throws
// EngineError naming `what` for a file whose tables do not hold together.
//
//     CompoundFile cf(bytes, name);
//     QByteArray patched = cf.withStream(cf.find(u"Workbook"), newWorkbook);
class CompoundFile
{
public:
    // Allocation-table markers.
    static constexpr quint32 kFree = 0xFFFFFFFFu;
    static constexpr quint32 kEndOfChain = 0xFFFFFFFEu;
    static constexpr quint32 kFatSector = 0xFFFFFFFDu;
    static constexpr quint32 kDifatSector = 0xFFFFFFFCu;

    // One 128-byte directory entry.
    struct Entry
    {
        QString name;          // 0: UTF-16LE, 64 bytes; 64: length in bytes with the NUL
        quint8 type = 0;       // 66: 1 storage, 2 stream, 5 root
        quint32 left = kFree;  // 68: left sibling
        quint32 right = kFree; // 72: right sibling
        quint32 child = kFree; // 76: first child of a storage
        quint32 start = 0;     // 116: first sector (mini sector when size < cutoff)
        quint64 size = 0;      // 120: stream size in bytes (version 3 uses the low 32 bits)
    };

    CompoundFile(QByteArray bytes, QString what);

    const QList<Entry> &entries() const { return m_entries; }
    // The index of the stream of that name (any letter case) directly
    // under the root storage, or -1.
    int find(QStringView name) const;
    // The stream's bytes, read through the allocation tables.
    QByteArray streamBytes(int entry) const;
    // The whole file with stream `entry` holding `data`: its sectors reused
    // as far as they go, further ones appended at the end of the file. A
    // stream shorter than the mini-stream cutoff is padded with zero bytes
    // to the cutoff, so that it lives in ordinary sectors (some readers
    // refuse a workbook kept in the mini stream).
    QByteArray withStream(int entry, const QByteArray &data) const;

    static bool hasSignature(const QByteArray &bytes);

private:
    qint64 sectorOffset(quint32 sector) const { return qint64(sector + 1) << m_sectorShift; }
    qint64 sectorSize() const { return qint64(1) << m_sectorShift; }
    // The sectors of the chain starting at `start` in `table`; throws on a
    // loop or a sector outside the table.
    std::vector<quint32> chain(const std::vector<quint32> &table, quint32 start, const char *what) const;
    [[noreturn]] void damaged(const QString &why, const QString &chinese) const;

    QByteArray m_bytes;
    QString m_what;
    int m_sectorShift = 9;
    int m_miniShift = 6;
    quint32 m_miniCutoff = 4096;
    std::vector<quint32> m_fatSectors; // where each sector of the allocation table lies
    std::vector<quint32> m_difatChain; // the sectors holding the table's list beyond the header's 109
    std::vector<quint32> m_fat;        // the allocation table
    std::vector<quint32> m_miniFat;    // the mini-stream allocation table
    std::vector<quint32> m_miniFatSectors;
    std::vector<quint32> m_dirSectors;
    QList<Entry> m_entries;
};

} // namespace lumora::engine
