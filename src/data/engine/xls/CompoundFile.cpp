#include "data/engine/xls/CompoundFile.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"

#include <algorithm>

namespace lumora::engine {

namespace {

constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr int kHeaderDifat = 109; // allocation-table sectors listed in the header itself
constexpr qint64 kDifatOffset = 76;
constexpr qint64 kMiniSector = 64;
constexpr int kMaxFlaws = 200; // a garbled file is not listed in full

// How many units of `unit` bytes hold `size` bytes.
quint64 unitsFor(quint64 size, quint64 unit)
{
    return size / unit + (size % unit != 0);
}

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
    survey();
}

// ---- the strict reading ---------------------------------------------------

void CompoundFile::flaw(const QString &english, const QString &chinese)
{
    if (m_flaws.size() < kMaxFlaws)
        m_flaws.append({english, chinese});
}

std::pair<QString, QString> CompoundFile::ownerName(qint32 owner) const
{
    switch (owner) {
    case kShared: return {QStringLiteral("two structures"), QStringLiteral("两个结构")};
    case kOwnedFat: return {QStringLiteral("the allocation table"), QStringLiteral("分配表")};
    case kOwnedDifat:
        return {QStringLiteral("the list of allocation sectors"), QStringLiteral("分配表扇区列表")};
    case kOwnedDirectory: return {QStringLiteral("the directory"), QStringLiteral("目录")};
    case kOwnedMiniFat: return {QStringLiteral("the mini allocation table"), QStringLiteral("小扇区分配表")};
    case kOwnedMiniStream: return {QStringLiteral("the mini stream"), QStringLiteral("小流")};
    default: {
        const QString &name = m_entries.at(owner).name;
        return {QStringLiteral("stream %1").arg(name), QStringLiteral("数据流 %1").arg(name)};
    }
    }
}

std::vector<quint32> CompoundFile::claim(bool mini, quint32 start, qint64 count, qint32 owner)
{
    const std::vector<quint32> &table = mini ? m_miniFat : m_fat;
    std::vector<qint32> &owners = mini ? m_miniOwner : m_owner;
    // Sectors past the end of the file (mini sectors past the end of the
    // mini stream) have entries in the table but hold nothing.
    const qint64 limit = mini ? m_miniCapacity : std::max<qint64>(0, (m_bytes.size() - 1) / sectorSize());
    const auto [name, chinese] = ownerName(owner);
    const QString unit = mini ? QStringLiteral("mini sector") : QStringLiteral("sector");
    const QString unitZh = mini ? QStringLiteral("小扇区") : QStringLiteral("扇区");
    std::vector<quint32> out;
    for (quint32 s = start; count < 0 ? s != kEndOfChain : qint64(out.size()) < count; s = table[s]) {
        if (s >= table.size()) {
            flaw(
                QStringLiteral("the chain of %1 breaks off after %2 %3s").arg(name).arg(out.size()).arg(unit),
                QStringLiteral("%1的%2链在第 %3 个%2之后断了").arg(chinese, unitZh).arg(out.size()));
            break;
        }
        if (qint64(s) >= limit) {
            flaw(QStringLiteral("%1 %2 of %3 lies past the end of the %4")
                     .arg(unit)
                     .arg(s)
                     .arg(name, mini ? QStringLiteral("mini stream") : QStringLiteral("file")),
                 QStringLiteral("%1的第 %2 号%3在%4末尾之后")
                     .arg(chinese)
                     .arg(s)
                     .arg(unitZh, mini ? QStringLiteral("小流") : QStringLiteral("文件")));
            break;
        }
        if (owners[s] == owner) {
            flaw(QStringLiteral("the chain of %1 runs in a loop").arg(name),
                 QStringLiteral("%1的%2链绕成了圈").arg(chinese, unitZh));
            break;
        }
        if (owners[s] != kNobody) {
            const auto [other, otherZh] = ownerName(owners[s]);
            flaw(QStringLiteral("%1 %2 is used both by %3 and by %4").arg(unit).arg(s).arg(other, name),
                 QStringLiteral("第 %1 号%2同时被%3和%4使用").arg(s).arg(unitZh, otherZh, chinese));
            owners[s] = kShared;
            break;
        }
        owners[s] = owner;
        out.push_back(s);
    }
    if (count > 0 && qint64(out.size()) == count && table[out.back()] == kFree)
        flaw(QStringLiteral("the chain of %1 ends in a free %2").arg(name, unit),
             QStringLiteral("%1的%2链以空闲%2结尾").arg(chinese, unitZh));
    return out;
}

template <typename Visit, typename Bad> void CompoundFile::walk(Visit visit, Bad bad) const
{
    std::vector<bool> seen(size_t(m_entries.size()), false);
    seen[0] = true;
    std::vector<std::pair<quint32, QString>> stack{{m_entries.first().child, QString()}};
    while (!stack.empty()) {
        const auto [i, prefix] = stack.back();
        stack.pop_back();
        if (i == kFree)
            continue;
        if (i >= quint32(m_entries.size()) || seen[i]) {
            bad(QStringLiteral("its directory reaches entry %1 twice or from outside").arg(i),
                QStringLiteral("目录两次或从目录之外指向第 %1 项").arg(i));
            continue;
        }
        seen[i] = true;
        const Entry &e = m_entries[i];
        if (e.type != 1 && e.type != 2) {
            bad(QStringLiteral("its directory links to entry %1, which is not in use").arg(i),
                QStringLiteral("目录指向未使用的第 %1 项").arg(i));
            continue;
        }
        stack.emplace_back(e.left, prefix);
        stack.emplace_back(e.right, prefix);
        if (e.type == 1)
            stack.emplace_back(e.child, prefix + e.name + QLatin1Char('/'));
        else
            visit(int(i), prefix + e.name);
    }
}

void CompoundFile::survey()
{
    const ByteCursor c(m_bytes, m_what);
    const qint64 ssz = sectorSize();
    const qint64 fileSectors = std::max<qint64>(0, (m_bytes.size() - 1) / ssz);
    m_owner.assign(size_t(std::max<qint64>(qint64(m_fat.size()), fileSectors)), kNobody);

    // The header's fields that other readers check.
    if (c.u16le(28) != 0xFFFE)
        flaw(QStringLiteral("its header's byte-order mark is not FFFE"),
             QStringLiteral("文件头的字节序标记不是 FFFE"));
    const quint16 major = c.u16le(26);
    if (major != (m_sectorShift == 9 ? 3 : 4))
        flaw(QStringLiteral("its header gives version %1 with sectors of %2 bytes").arg(major).arg(ssz),
             QStringLiteral("文件头的版本 %1 与 %2 字节的扇区不符").arg(major).arg(ssz));
    if (m_miniCutoff != 4096)
        flaw(QStringLiteral("its header gives a mini-stream cutoff of %1 bytes, not 4096").arg(m_miniCutoff),
             QStringLiteral("文件头给出的小流界限是 %1 字节，而不是 4096").arg(m_miniCutoff));
    for (size_t i = m_fatSectors.size(); i < size_t(kHeaderDifat); ++i)
        if (c.u32le(kDifatOffset + 4 * qint64(i)) != kFree) {
            flaw(QStringLiteral("its header lists more allocation sectors than it counts"),
                 QStringLiteral("文件头列出的分配表扇区比它说的多"));
            break;
        }
    if (c.u32le(72) != m_difatChain.size())
        flaw(QStringLiteral("its header counts %1 sectors listing allocation sectors; there are %2")
                 .arg(c.u32le(72))
                 .arg(m_difatChain.size()),
             QStringLiteral("文件头说有 %1 个列出分配表扇区的扇区，实际有 %2 个")
                 .arg(c.u32le(72))
                 .arg(m_difatChain.size()));
    if (fileSectors > qint64(m_fat.size()))
        flaw(QStringLiteral("its allocation table covers %1 of its %2 sectors")
                 .arg(m_fat.size())
                 .arg(fileSectors),
             QStringLiteral("分配表只覆盖了 %2 个扇区中的 %1 个").arg(m_fat.size()).arg(fileSectors));

    // The allocation table's own sectors, marked as such in it.
    const auto own = [&](quint32 s, qint32 owner, quint32 mark) {
        claim(false, s, 1, owner);
        if (s < m_fat.size() && m_fat[s] != mark) {
            const auto [name, chinese] = ownerName(owner);
            flaw(QStringLiteral("sector %1 of %2 is not marked as such in the allocation table")
                     .arg(s)
                     .arg(name),
                 QStringLiteral("%2的第 %1 号扇区在分配表中没有如此标记").arg(s).arg(chinese));
        }
    };
    for (quint32 s : m_fatSectors)
        own(s, kOwnedFat, kFatSector);
    for (quint32 s : m_difatChain)
        own(s, kOwnedDifat, kDifatSector);
    claim(false, c.u32le(48), -1, kOwnedDirectory);
    const std::vector<quint32> miniFat = claim(false, c.u32le(60), -1, kOwnedMiniFat);
    if (c.u32le(64) != miniFat.size())
        flaw(QStringLiteral("its header counts %1 sectors of the mini allocation table; its chain has %2")
                 .arg(c.u32le(64))
                 .arg(miniFat.size()),
             QStringLiteral("文件头说小扇区分配表有 %1 个扇区，其扇区链却有 %2 个")
                 .arg(c.u32le(64))
                 .arg(miniFat.size()));

    // The mini stream, then every stream as far as its size goes.
    const Entry &root = m_entries.first();
    const std::vector<quint32> rootSectors =
        claim(false, root.start, qint64(unitsFor(root.size, quint64(ssz))), kOwnedMiniStream);
    m_miniCapacity =
        qint64(std::min<quint64>(root.size, quint64(rootSectors.size()) * quint64(ssz))) / kMiniSector;
    m_miniOwner.assign(m_miniFat.size(), kNobody);
    walk(
        [&](int i, const QString &) {
            const Entry &e = m_entries[i];
            const bool mini = e.size < m_miniCutoff;
            if (e.size > 0)
                claim(mini, e.start, qint64(unitsFor(e.size, mini ? kMiniSector : quint64(ssz))), i);
        },
        [&](const QString &english, const QString &chinese) { flaw(english, chinese); });

    for (size_t s = 0; s < m_fat.size(); ++s)
        m_lostSectors += m_fat[s] != kFree && m_owner[s] == kNobody;
    for (size_t m = 0; m < m_miniFat.size(); ++m)
        m_lostMiniSectors += m_miniFat[m] != kFree && m_miniOwner[m] == kNobody;
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

std::vector<quint32> CompoundFile::sectorsOf(int entry) const
{
    const Entry &e = m_entries.at(entry);
    const bool mini = entry != 0 && e.size < m_miniCutoff;
    const std::vector<quint32> &table = mini ? m_miniFat : m_fat;
    const quint64 count = unitsFor(e.size, mini ? kMiniSector : quint64(sectorSize()));
    std::vector<quint32> out;
    for (quint32 s = e.start; out.size() < count; s = table[s]) {
        if (s >= table.size() || out.size() >= table.size())
            damaged(QStringLiteral("stream %1 is shorter than its directory entry says").arg(e.name),
                    QStringLiteral("数据流 %1 比目录项所说的短").arg(e.name));
        out.push_back(s);
    }
    return out;
}

QByteArray CompoundFile::streamBytes(int entry) const
{
    const Entry &e = m_entries.at(entry);
    QByteArray out;
    out.reserve(qsizetype(std::min<quint64>(e.size, quint64(m_bytes.size()))));
    const ByteCursor c(m_bytes, m_what);
    const qint64 ssz = sectorSize();
    const std::vector<quint32> sectors = sectorsOf(entry);
    if (entry != 0 && e.size < m_miniCutoff) {
        const std::vector<quint32> rootChain = sectorsOf(0);
        for (quint32 m : sectors) {
            const qint64 at = qint64(m) * kMiniSector;
            const qint64 sector = at / ssz;
            if (sector >= qint64(rootChain.size()))
                damaged(QStringLiteral("a mini sector lies past the mini stream"),
                        QStringLiteral("有小扇区在小流之外"));
            out.append(c.view(sectorOffset(rootChain[size_t(sector)]) + at % ssz, kMiniSector));
        }
    } else {
        for (quint32 s : sectors) {
            if (sectorOffset(s) >= m_bytes.size())
                damaged(QStringLiteral("stream %1 runs past the end of the file").arg(e.name),
                        QStringLiteral("数据流 %1 超出了文件末尾").arg(e.name));
            out.append(c.view(sectorOffset(s), std::min<qint64>(ssz, m_bytes.size() - sectorOffset(s))));
        }
    }
    if (quint64(out.size()) < e.size)
        damaged(QStringLiteral("stream %1 is shorter than its directory entry says").arg(e.name),
                QStringLiteral("数据流 %1 比目录项所说的短").arg(e.name));
    out.truncate(qsizetype(e.size));
    return out;
}

QMap<QString, QByteArray> CompoundFile::streams() const
{
    QMap<QString, QByteArray> out;
    walk(
        [&](int i, const QString &path) {
            try {
                out.insert(path, streamBytes(i));
            } catch (const EngineError &) {
                // Left out: flaws() says why it cannot be read.
            }
        },
        [](const QString &, const QString &) {});
    return out;
}

QByteArray CompoundFile::stored(const QByteArray &data) const
{
    QByteArray out = data;
    if (quint64(out.size()) <= m_miniCutoff)
        out.append(QByteArray(qsizetype((m_miniCutoff + 1 - quint64(out.size()) + 3) / 4 * 4), '\0'));
    return out;
}

QByteArray CompoundFile::withStream(int entry, const QByteArray &data) const
{
    const Entry &old = m_entries.at(entry);
    const QByteArray content = stored(data);
    // The sectors (or mini sectors) it holds within its size; each must be
    // its own, or writing it would overwrite, or free, another structure's.
    const bool wasMini = old.size < m_miniCutoff;
    std::vector<quint32> sectors = sectorsOf(entry);
    for (quint32 s : sectors)
        if ((wasMini ? m_miniOwner : m_owner).at(s) != entry)
            throw EngineError::format(
                u"%1 is not written: sector %2 of its stream %3 also belongs to another part "
                u"of the file, or lies past its end",
                u"没有写入 %1：其数据流 %3 的第 %2 号扇区同时属于文件的其他部分，或在文件末尾之后", m_what, s,
                old.name);
    std::vector<quint32> minis;
    if (wasMini)
        minis.swap(sectors);

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
    for (quint32 m : minis)
        w.le32(sectorOffset(m_miniFatSectors[size_t(m / perSector)]) + 4 * (qint64(m) % perSector), kFree);

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
