#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <vector>

namespace lumora::engine {

// The sector-level layout of an OLE2 compound file, for changing one stream
// and nothing else: every byte outside that stream's sectors, its chain in
// the allocation table and its directory entry stays as it was. (libgsf
// reads the container; its writer lays out a new file, which loses the
// directory's class ids and times and moves every stream.) Throws
// EngineError naming `what` for a file whose tables cannot be read at all;
// lesser faults that readers forgive (a stream's chain running past its
// size into another's sectors, a lost sector) are listed as flaws, which a
// rewrite must not add to. Every structure is followed as far as its size
// goes, as other readers follow it, not as far as its chain runs.
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

    // A way the tables fail to hold together that readers may forgive.
    struct Flaw
    {
        QString english;
        QString chinese;
        bool operator==(const Flaw &) const = default;
    };

    CompoundFile(QByteArray bytes, QString what);

    const QList<Entry> &entries() const { return m_entries; }
    // The index of the stream of that name (any letter case) directly
    // under the root storage, or -1.
    int find(QStringView name) const;
    // The stream's bytes, read through the allocation tables.
    QByteArray streamBytes(int entry) const;
    // Every stream the directory reaches from the root, by its path of
    // names ("Workbook", "_VBA_PROJECT_CUR/VBA/dir").
    QMap<QString, QByteArray> streams() const;
    // What a strict reading of the header, the allocation tables, the
    // directory and every stream found amiss; empty for a sound file.
    const QList<Flaw> &flaws() const { return m_flaws; }
    // Entries of the allocation table (of the mini allocation table)
    // marked in use for a sector (mini sector) that no structure uses.
    qint64 lostSectors() const { return m_lostSectors; }
    qint64 lostMiniSectors() const { return m_lostMiniSectors; }

    // The bytes withStream() stores for `data`: a stream no longer than the
    // mini-stream cutoff is padded with zero bytes (whole empty records) to
    // just past it, so that it lives in ordinary sectors. FreeXL (GDAL)
    // refuses a Workbook stream of exactly 4,096 bytes in ordinary sectors:
    // it reads one of the cutoff's size as if it were in the mini stream.
    QByteArray stored(const QByteArray &data) const;
    // The whole file with stream `entry` holding stored(data): the sectors
    // it held within its size reused as far as they go, further ones
    // appended at the end of the file, those it no longer needs (or the
    // mini sectors it leaves) marked free. Sectors its chain ran through
    // past its size are left to whatever uses them. Throws EngineError when
    // the stream shares a sector with another structure.
    QByteArray withStream(int entry, const QByteArray &data) const;

    static bool hasSignature(const QByteArray &bytes);

private:
    qint64 sectorOffset(quint32 sector) const { return qint64(sector + 1) << m_sectorShift; }
    qint64 sectorSize() const { return qint64(1) << m_sectorShift; }
    // The sectors of the chain starting at `start` in `table`; throws on a
    // loop or a sector outside the table.
    std::vector<quint32> chain(const std::vector<quint32> &table, quint32 start, const char *what) const;
    // The sectors (mini sectors for a small stream) holding entry's bytes,
    // as many as its size needs; throws when the chain breaks off first.
    std::vector<quint32> sectorsOf(int entry) const;
    [[noreturn]] void damaged(const QString &why, const QString &chinese) const;

    // Who uses each sector and mini sector, and the flaws met on the way.
    void survey();
    void flaw(const QString &english, const QString &chinese);
    // The structure `owner` names (an entry index, or one of the kOwned*).
    std::pair<QString, QString> ownerName(qint32 owner) const;
    // Claims for `owner` the chain from `start` in the (mini) allocation
    // table: `count` sectors, or up to its end when count < 0.
    std::vector<quint32> claim(bool mini, quint32 start, qint64 count, qint32 owner);
    // Calls visit(entry, path) for every stream the directory reaches from
    // the root, each once, and bad(english, chinese) for a link that leads
    // nowhere or back.
    template <typename Visit, typename Bad> void walk(Visit visit, Bad bad) const;

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

    // Owners besides directory entries; kShared marks a sector claimed twice.
    static constexpr qint32 kNobody = -1, kShared = -2, kOwnedFat = -3, kOwnedDifat = -4,
                            kOwnedDirectory = -5, kOwnedMiniFat = -6, kOwnedMiniStream = -7;
    std::vector<qint32> m_owner;     // per sector of the file (and of the allocation table)
    std::vector<qint32> m_miniOwner; // per mini sector of the mini allocation table
    qint64 m_miniCapacity = 0;       // mini sectors the mini stream holds
    QList<Flaw> m_flaws;
    qint64 m_lostSectors = 0;
    qint64 m_lostMiniSectors = 0;
};

} // namespace lumora::engine
