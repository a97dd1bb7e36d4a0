#include "data/engine/xls/CompoundFile.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/ByteCursor.h"
#include "data/engine/dbf/ByteWriter.h"

#include <algorithm>

namespace lumora::engine {

namespace {

constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr int kHeaderDifat = 109; // allocation-table sectors listed in the header itself
constexpr qint64 kDifatOffset = 76;

} // namespace

bool CompoundFile::hasSignature(const QByteArray &bytes)
{
    return bytes.startsWith(QByteArrayView(kSignature, 8));
}

void CompoundFile::damaged(const QString &why, const QString &chinese) const
{
    throw EngineError(QStringLiteral("%1 is damaged: %2").arg(m_what, why),
                      QStringLiteral("文件 %1 已损坏：%2").arg(m_what, chinese));
}

CompoundFile::CompoundFile(QByteArray bytes, QString what)
    : m_bytes(std::move(bytes))
    , m_what(std::move(what))
{
    const ByteCursor c(m_bytes, m_what);
    if (!hasSignature(m_bytes) || m_bytes.size() < 512)
        damaged(QStringLiteral("it is not an OLE2 compound file"), QStringLiteral("它不是 OLE2 复合文档"));
    m_sectorShift = c.u16le(30);
    m_miniShift = c.u16le(32);
    if ((m_sectorShift != 9 && m_sectorShift != 12) || m_miniShift != 6)
        damaged(QStringLiteral("its sector sizes (2^%1, 2^%2) are not those of a compound file")
                    .arg(m_sectorShift)
                    .arg(m_miniShift),
                QStringLiteral("扇区大小（2^%1、2^%2）不是复合文档的").arg(m_sectorShift).arg(m_miniShift));
    m_miniCutoff = c.u32le(56);
    const quint32 fatCount = c.u32le(44);
    const quint32 sectors = quint32((m_bytes.size() + sectorSize() - 1) / sectorSize());
    if (fatCount > sectors)
        damaged(QStringLiteral("its header names %1 allocation sectors in a file of %2 sectors")
                    .arg(fatCount)
                    .arg(sectors),
                QStringLiteral("文件头说有 %1 个分配表扇区，而整个文件只有 %2 个扇区")
                    .arg(fatCount)
                    .arg(sectors));

    // The allocation table's sectors: 109 in the header, the rest in the
    // DIFAT chain, whose sectors end with the number of the next one.
    for (int i = 0; i < kHeaderDifat && m_fatSectors.size() < fatCount; ++i)
        m_fatSectors.push_back(c.u32le(kDifatOffset + 4 * i));
    quint32 difat = c.u32le(68);
    const qint64 perDifat = sectorSize() / 4 - 1;
    while (m_fatSectors.size() < fatCount) {
        if (difat >= sectors || m_difatChain.size() > sectors)
            damaged(QStringLiteral("its list of allocation sectors breaks off"),
                    QStringLiteral("分配表扇区的列表中途断了"));
        m_difatChain.push_back(difat);
        const qint64 at = sectorOffset(difat);
        for (qint64 i = 0; i < perDifat && m_fatSectors.size() < fatCount; ++i)
            m_fatSectors.push_back(c.u32le(at + 4 * i));
        difat = c.u32le(at + 4 * perDifat);
    }
    const qint64 perSector = sectorSize() / 4;
    m_fat.reserve(size_t(fatCount * perSector));
    for (quint32 s : m_fatSectors) {
        if (s >= sectors)
            damaged(QStringLiteral("an allocation sector lies past its end"),
                    QStringLiteral("有分配表扇区在文件末尾之后"));
        const qint64 at = sectorOffset(s);
        for (qint64 i = 0; i < perSector; ++i)
            m_fat.push_back(c.has(at + 4 * i, 4) ? c.u32le(at + 4 * i) : kFree);
    }

    m_dirSectors = chain(m_fat, c.u32le(48), "directory");
    for (quint32 s : m_dirSectors)
        for (qint64 at = sectorOffset(s); at < sectorOffset(s) + sectorSize(); at += 128) {
            Entry e;
            if (c.has(at, 128)) {
                const int nameBytes = std::min<int>(c.u16le(at + 64), 64);
                const QByteArrayView raw = c.view(at, std::max(0, nameBytes - 2));
                e.name = QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.data()), raw.size() / 2);
                e.type = c.u8(at + 66);
                e.left = c.u32le(at + 68);
                e.right = c.u32le(at + 72);
                e.child = c.u32le(at + 76);
                e.start = c.u32le(at + 116);
                e.size = c.u16le(26) == 3 ? c.u32le(at + 120) : c.u64le(at + 120);
            }
            m_entries.append(e);
        }
    if (m_entries.isEmpty() || m_entries.first().type != 5)
        damaged(QStringLiteral("its directory has no root entry"), QStringLiteral("目录中没有根目录项"));
    const quint32 count = quint32(m_entries.size());
    for (const Entry &e : std::as_const(m_entries))
        for (quint32 link : {e.left, e.right, e.child})
            if (e.type != 0 && link != kFree && link >= count)
                damaged(QStringLiteral("its directory links to entry %1 of %2").arg(link).arg(count),
                        QStringLiteral("目录指向第 %1 项，而目录只有 %2 项").arg(link).arg(count));

    m_miniFatSectors = chain(m_fat, c.u32le(60), "mini allocation table");
    for (quint32 s : m_miniFatSectors)
        for (qint64 i = 0; i < perSector; ++i)
            m_miniFat.push_back(c.u32le(sectorOffset(s) + 4 * i));
}

std::vector<quint32> CompoundFile::chain(const std::vector<quint32> &table, quint32 start,
                                         const char *what) const
{
    std::vector<quint32> out;
    for (quint32 s = start; s != kEndOfChain && s != kFree;) {
        if (s >= table.size() || out.size() >= table.size())
            damaged(
                QStringLiteral("the chain of its %1 leaves the allocation table").arg(QLatin1String(what)),
                QStringLiteral("其%1的扇区链超出了分配表").arg(QLatin1String(what)));
        out.push_back(s);
        s = table[s];
    }
    return out;
}

int CompoundFile::find(QStringView name) const
{
    // The root's children form a tree through left, right and child links;
    // a stack walk that counts its steps stops on a damaged tree's loops.
    std::vector<quint32> stack{m_entries.first().child};
    for (int steps = 0; !stack.empty() && steps <= m_entries.size(); ++steps) {
        const quint32 i = stack.back();
        stack.pop_back();
        if (i >= quint32(m_entries.size()))
            continue;
        const Entry &e = m_entries[i];
        if (e.type == 2 && e.name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
        stack.push_back(e.left);
        stack.push_back(e.right);
    }
    return -1;
}

QByteArray CompoundFile::streamBytes(int entry) const
{
    const Entry &e = m_entries.at(entry);
    QByteArray out;
    out.reserve(qsizetype(std::min<quint64>(e.size, quint64(m_bytes.size()))));
    const ByteCursor c(m_bytes, m_what);
    if (e.size < m_miniCutoff) {
        const std::vector<quint32> rootChain = chain(m_fat, m_entries.first().start, "mini stream");
        const qint64 mini = qint64(1) << m_miniShift;
        for (quint32 m : chain(m_miniFat, e.start, "stream")) {
            const qint64 at = qint64(m) * mini;
            const qint64 sector = at / sectorSize();
            if (sector >= qint64(rootChain.size()))
                damaged(QStringLiteral("a mini sector lies past the mini stream"),
                        QStringLiteral("有小扇区在小流之外"));
            out.append(c.view(sectorOffset(rootChain[size_t(sector)]) + at % sectorSize(), mini));
        }
    } else {
        for (quint32 s : chain(m_fat, e.start, "stream"))
            out.append(
                c.view(sectorOffset(s), std::min<qint64>(sectorSize(), m_bytes.size() - sectorOffset(s))));
    }
    if (quint64(out.size()) < e.size)
        damaged(QStringLiteral("stream %1 is shorter than its directory entry says").arg(e.name),
                QStringLiteral("数据流 %1 比目录项所说的短").arg(e.name));
    out.truncate(qsizetype(e.size));
    return out;
}

QByteArray CompoundFile::withStream(int entry, const QByteArray &data) const
{
    const Entry &old = m_entries.at(entry);
    QByteArray content = data;
    if (quint64(content.size()) < m_miniCutoff)
        content.append(QByteArray(qsizetype(m_miniCutoff) - content.size(), '\0'));

    QByteArray out = m_bytes;
    const qint64 ssz = sectorSize();
    // Appended sectors start at a sector boundary, whatever the writer left.
    if (out.size() % ssz)
        out.append(QByteArray(ssz - out.size() % ssz, '\0'));
    std::vector<quint32> fat = m_fat;
    std::vector<quint32> fatSectors = m_fatSectors;
    std::vector<quint32> difatChain = m_difatChain;
    quint32 nextSector = quint32(out.size() / ssz - 1);
    const qint64 perSector = ssz / 4;
    const qint64 perDifat = perSector - 1;

    // A sector at the end of the file, with room for its entry in the
    // allocation table, which may itself need new sectors, and those a
    // place in the DIFAT list.
    const auto appendSector = [&](quint32 mark) -> quint32 {
        const quint32 s = nextSector++;
        out.append(QByteArray(ssz, '\0'));
        std::vector<std::pair<quint32, quint32>> marks{{s, mark}};
        while (qint64(fat.size()) < qint64(nextSector)) {
            const quint32 fs = nextSector++;
            out.append(QByteArray(ssz, '\xFF'));
            fat.resize(fat.size() + size_t(perSector), kFree);
            fatSectors.push_back(fs);
            marks.emplace_back(fs, kFatSector);
            const qint64 slot = qint64(fatSectors.size()) - 1 - kHeaderDifat;
            if (slot >= 0 && slot >= qint64(difatChain.size()) * perDifat) {
                const quint32 ds = nextSector++;
                out.append(QByteArray(ssz, '\xFF'));
                difatChain.push_back(ds);
                marks.emplace_back(ds, kDifatSector);
            }
        }
        for (const auto &[sector, value] : marks)
            fat[sector] = value;
        return s;
    };

    std::vector<quint32> sectors;
    if (old.size >= m_miniCutoff)
        sectors = chain(m_fat, old.start, "stream");
    const qint64 needed = (content.size() + ssz - 1) / ssz;
    while (qint64(sectors.size()) > needed) {
        fat[sectors.back()] = kFree;
        sectors.pop_back();
    }
    while (qint64(sectors.size()) < needed)
        sectors.push_back(appendSector(kEndOfChain));
    for (size_t i = 0; i < sectors.size(); ++i) {
        fat[sectors[i]] = i + 1 < sectors.size() ? sectors[i + 1] : kEndOfChain;
        const qint64 from = qint64(i) * ssz;
        const qint64 n = std::min<qint64>(ssz, content.size() - from);
        std::copy_n(content.constData() + from, n, out.data() + sectorOffset(sectors[i]));
        if (n < ssz)
            std::fill_n(out.data() + sectorOffset(sectors[i]) + n, ssz - n, '\0');
    }

    ByteWriter w(out);
    // A stream that lived in the mini stream gives its mini sectors back.
    if (old.size < m_miniCutoff) {
        const std::vector<quint32> minis = chain(m_miniFat, old.start, "stream");
        for (quint32 m : minis) {
            const qint64 sector = qint64(m) / perSector;
            w.le32(sectorOffset(m_miniFatSectors[size_t(sector)]) + 4 * (qint64(m) % perSector), kFree);
        }
    }

    // The allocation table, its list (header and DIFAT sectors) and the
    // header's counts; unchanged entries are written back as they were.
    for (size_t i = 0; i < fatSectors.size(); ++i)
        for (qint64 j = 0; j < perSector; ++j) {
            const size_t k = i * size_t(perSector) + size_t(j);
            w.le32(sectorOffset(fatSectors[i]) + 4 * j, k < fat.size() ? fat[k] : kFree);
        }
    for (size_t i = m_fatSectors.size(); i < fatSectors.size(); ++i) {
        if (i < size_t(kHeaderDifat)) {
            w.le32(kDifatOffset + 4 * qint64(i), fatSectors[i]);
        } else {
            const qint64 k = qint64(i) - kHeaderDifat;
            w.le32(sectorOffset(difatChain[size_t(k / perDifat)]) + 4 * (k % perDifat), fatSectors[i]);
        }
    }
    for (size_t i = m_difatChain.size(); i < difatChain.size(); ++i) {
        if (i == 0)
            w.le32(68, difatChain[i]);
        else
            w.le32(sectorOffset(difatChain[i - 1]) + 4 * perDifat, difatChain[i]);
        w.le32(sectorOffset(difatChain[i]) + 4 * perDifat, kEndOfChain);
    }
    w.le32(44, quint32(fatSectors.size()));
    w.le32(72, quint32(difatChain.size()));

    // The directory entry: where the stream starts and how long it is.
    const qint64 dirAt =
        sectorOffset(m_dirSectors[size_t(entry) / size_t(ssz / 128)]) + (entry % (ssz / 128)) * 128;
    w.le32(dirAt + 116, sectors.front());
    w.le32(dirAt + 120, quint32(content.size()));
    w.le32(dirAt + 124, 0);
    return out;
}

} // namespace lumora::engine
