#include "data/engine/mdb/JetFile.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/LockedFile.h"

#include <QFileInfo>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace lumora::engine {

namespace {

// Page 0: 0x00 u32 0x00000100, 0x04 the engine's name (16 bytes), 0x14 u8
// version (0 Jet 3, 1 Jet 4, 2 and above the .accdb formats), and from
// 0x18 a block scrambled with RC4 under this key, holding 0x3C u16 the
// code page, 0x3E u32 the key of encrypted pages (0: none) and 0x42 the
// password.
constexpr unsigned char kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr int kScrambledAt = 0x18;
constexpr int kCodePageAt = 0x3C;
constexpr int kDatabaseKeyAt = 0x3E;
constexpr int kPasswordAt = 0x42;
constexpr int kVersionAt = 0x14;

// The code page of the text of a Jet 3 database sorted in this Windows
// locale; 0 when the locale says nothing beyond the code page field.
int codePageOfSortOrder(quint16 lcid)
{
    switch (lcid & 0x3FF) {
    case 0x04: // Chinese: Taiwan, Hong Kong and Macao write Big5
        return (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404) ? 950 : 936;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x19:
    case 0x22:
    case 0x23: return 1251;
    case 0x05:
    case 0x0E:
    case 0x15:
    case 0x18:
    case 0x1A:
    case 0x1B:
    case 0x24: return 1250;
    case 0x08: return 1253;
    case 0x1F: return 1254;
    case 0x0D: return 1255;
    case 0x01: return 1256;
    case 0x25:
    case 0x26:
    case 0x27: return 1257;
    case 0x2A: return 1258;
    case 0x1E: return 874;
    default: return 0;
    }
}

} // namespace

void jetRc4(QByteArray &bytes, qsizetype from, qsizetype length, const unsigned char *key, int keyLength)
{
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    char *p = bytes.data() + from;
    for (qsizetype n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        p[n] = char(quint8(p[n]) ^ s[(s[i] + s[j]) & 0xFF]);
    }
}

JetFile::JetFile(QString path, QString what)
    : m_path(std::move(path))
    , m_what(std::move(what))
{
}

JetFile::~JetFile() = default;

std::unique_ptr<JetFile> JetFile::open(const QString &path, const Options &options)
{
    std::unique_ptr<JetFile> db(new JetFile(path, QFileInfo(path).fileName()));
    db->m_file = std::make_unique<LockedFile>(path, db->m_what, LockedFile::Mode::Read);
    db->readHeader(options);
    return db;
}

std::unique_ptr<JetFile> JetFile::fromBytes(QByteArray bytes, const QString &what, const Options &options)
{
    std::unique_ptr<JetFile> db(new JetFile(QString(), what));
    db->m_memory = std::move(bytes);
    db->readHeader(options);
    return db;
}

void JetFile::readHeader(const Options &options)
{
    const qint64 size = m_file ? m_file->size() : m_memory.size();
    QByteArray head =
        m_file ? m_file->read(0, 4096) : m_memory.first(std::min<qsizetype>(4096, m_memory.size()));
    // Errors that refuse the whole file name its full path in English (for
    // lumora-sql and logs) and its name in Chinese (for the window).
    const QString where = m_path.isEmpty() ? m_what : m_path;
    const auto refuse = [&](QStringView english, QStringView chinese) {
        return EngineError(EngineError::fill(english, where), EngineError::fill(chinese, m_what));
    };
    const auto notJet = [&] {
        return refuse(u"%1 is not an Access database (Jet 3 or Jet 4 .mdb)",
                      u"%1 不是 Access 数据库（Jet 3 或 Jet 4 的 .mdb 文件）");
    };
    if (head.size() < 0x20 || head.mid(1, 3) != QByteArrayView("\x01\x00\x00", 3) || head[0] != 0)
        throw notJet();
    const QByteArray engine = head.mid(4, 15);
    if (engine == "Standard ACE DB" || (engine == "Standard Jet DB" && quint8(head[kVersionAt]) >= 2))
        throw refuse(u"%1 is an Access 2007 or later database (.accdb); only Access 97 to 2003 "
                     u"databases (.mdb) can be opened: save it in Access as an .mdb of the "
                     u"2002-2003 format",
                     u"%1 是 Access 2007 及以后的数据库（.accdb），本程序只能打开 Access 97 至 2003 "
                     u"的 .mdb 文件：请在 Access 中另存为 2002-2003 格式的 .mdb");
    if (engine != "Standard Jet DB")
        throw notJet();
    const quint8 version = quint8(head[kVersionAt]);
    m_format = version == 0 ? &kJet3 : &kJet4;
    const int pageSize = m_format->pageSize;
    if (size < pageSize || head.size() < pageSize)
        throw EngineError::format(u"%1 is damaged: it ends after %2 bytes, inside its first page",
                                  u"文件 %1 已损坏：只有 %2 个字节，连第一页都不完整", m_what, size);
    head.truncate(pageSize);
    jetRc4(head, kScrambledAt, m_format->scrambledBytes, kHeaderKey, 4);
    const ByteCursor page0(head, m_what);

    if (page0.u32le(kDatabaseKeyAt) != 0)
        throw refuse(u"%1 is encrypted; decrypt it in Access (Tools, Security, Encode/Decode "
                     u"Database) and open the decrypted copy",
                     u"%1 是加密的数据库；请先在 Access 中解密（工具、安全、编码/解码数据库）后再打开");

    // The password: in Jet 4 masked with the creation date's whole days.
    QByteArray password = head.mid(kPasswordAt, m_format->passwordSize);
    if (m_format->creationDateAt >= 0) {
        const double created = page0.f64le(m_format->creationDateAt);
        quint8 mask[4] = {};
        if (std::isfinite(created) && std::abs(created) < 2e9)
            qToLittleEndian<qint32>(qint32(std::floor(created)), mask);
        for (int i = 0; i < password.size(); ++i)
            password[i] = char(quint8(password[i]) ^ mask[i % 4]);
    }
    if (password.count('\0') != password.size()) {
        QString stored;
        if (m_format->version == 3) {
            stored =
                QString::fromLatin1(password.constData(), qstrnlen(password.constData(), password.size()));
        } else {
            for (int i = 0; i + 1 < password.size(); i += 2) {
                const char16_t c = char16_t(quint8(password[i]) | quint8(password[i + 1]) << 8);
                if (c == 0)
                    break;
                stored.append(QChar(c));
            }
        }
        if (stored != options.password)
            throw refuse(u"%1 is protected by a password; it cannot be opened without it",
                         u"%1 设有数据库密码，没有密码无法打开");
    }

    // Jet 3 text is in a code page: the one forced, else the one the sort
    // order implies (a Chinese database's is GBK). A database sorted in the
    // general order whose header says windows-1252 (or nothing) is most
    // often a Chinese one made on a system set up otherwise: its text is
    // read as GBK, as dBase tables without a code page mark are, and a
    // table whose bytes are no GBK text falls back to the header's code
    // page. A header naming any other code page is believed.
    if (m_format->version == 3) {
        QByteArray name;
        const int stated = page0.u16le(kCodePageAt);
        const QByteArray statedName =
            stated ? CodePage::nameForCpg(QByteArray::number(stated)) : QByteArray();
        if (!options.codePage.isEmpty()) {
            name = CodePage::nameForCpg(options.codePage);
            if (name.isEmpty())
                throw EngineError::format(u"The code page %1 given for %2 is not one this program knows",
                                          u"为 %2 指定的代码页 %1 无法识别",
                                          QString::fromLatin1(options.codePage), m_what);
            m_notes.append(EngineNote::information(u"%1: its text is read in the code page %2, as asked",
                                                   u"文件 %1 的文字按指定的代码页 %2 读取", m_what,
                                                   QString::fromLatin1(name)));
        } else if (const int fromSort = codePageOfSortOrder(page0.u16le(m_format->sortOrderAt))) {
            name = CodePage::nameForCpg(QByteArray::number(fromSort));
        } else if (stated != 0 && stated != 1252 && !statedName.isEmpty()) {
            name = statedName;
        } else {
            name = "GBK";
            m_fallback.emplace(statedName.isEmpty() ? QByteArray("windows-1252") : statedName);
            m_notes.append(EngineNote::warning(
                u"%1: no code page is named for its text (its header says %2, and neither a .cpg file, the "
                u"connect string nor its sort order names one), so GBK is assumed",
                u"文件 %1 没有写明文字的代码页（文件头记的是 %2，.cpg "
                u"文件、连接字符串和排序方式也都没有写明），"
                u"文字按 GBK 读取，可能读错",
                m_what, stated ? QString::number(stated) : QStringLiteral("none")));
        }
        m_codec = CodePage(name.isEmpty() ? QByteArray("windows-1252") : name);
    }

    m_size = size;
    m_pageCount = quint32(std::min<qint64>(size / pageSize, 0xFFFFFF));
    if (size % pageSize != 0)
        m_notes.append(
            EngineNote::warning(u"%1: the file ends %2 bytes into page %3, which is not read",
                                u"文件 %1 不完整：在第 %3 页的第 %2 个字节处就结束了，这一页没有读取", m_what,
                                size % pageSize, m_pageCount));
    m_pages.emplace(0, std::move(head));
}

QByteArrayView JetFile::page(quint32 n) const
{
    if (m_last && m_lastNumber == n)
        return *m_last;
    const auto it = m_pages.find(n);
    if (it != m_pages.end()) {
        m_lastNumber = n;
        m_last = &it->second;
        return it->second;
    }
    const int pageSize = m_format->pageSize;
    if (n >= m_pageCount)
        throw EngineError::format(u"%1 is damaged: it refers to page %2, but holds only %3 pages "
                                  u"(%4 bytes): the file was cut short",
                                  u"文件 %1 已损坏：引用了第 %2 页，但文件只有 %3 页（%4 字节），文件不完整",
                                  m_what, n, m_pageCount, m_size);
    QByteArray bytes;
    if (m_file) {
        bytes = m_file->read(qint64(n) * pageSize, pageSize);
        if (bytes.size() != pageSize)
            throw EngineError::format(
                u"%1 was made shorter by another program since it was opened; open it again",
                u"文件 %1 在打开之后被其他程序截短了，请重新打开", m_what);
    } else {
        bytes = m_memory.sliced(qint64(n) * pageSize, pageSize);
    }
    return m_pages.emplace(n, std::move(bytes)).first->second;
}

QString JetFile::decodeText(QByteArrayView bytes, const CodePage *codec) const
{
    if (m_format->version == 3)
        return (codec ? *codec : m_codec).decode(bytes);
    QString out;
    const auto *p = reinterpret_cast<const quint8 *>(bytes.data());
    const qsizetype n = bytes.size();
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        // At most one character per byte after the marker.
        out.resize(n - 2);
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        qsizetype length = 0;
        bool compressed = true;
        for (qsizetype i = 2; i < n;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                d[length++] = char16_t(p[i++]);
            } else if (i + 1 < n) {
                d[length++] = char16_t(p[i] | p[i + 1] << 8);
                i += 2;
            } else {
                break;
            }
        }
        out.truncate(length);
        return out;
    }
    out.resize(n / 2);
    char16_t *d = reinterpret_cast<char16_t *>(out.data());
    for (qsizetype i = 0; i < n / 2; ++i)
        d[i] = char16_t(p[2 * i] | p[2 * i + 1] << 8);
    return out;
}

std::optional<QByteArray> JetFile::encodeText(const QString &text, bool compressible,
                                              const CodePage *codec) const
{
    if (m_format->version == 3)
        return (codec ? *codec : m_codec).encode(text);
    const bool narrow = compressible && !text.isEmpty() && text.size() <= 1024 &&
                        std::all_of(text.begin(), text.end(),
                                    [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 0xFF; });
    QByteArray out;
    if (narrow) {
        out.reserve(text.size() + 2);
        out.append(char(0xFF)).append(char(0xFE));
        for (QChar c : text)
            out.append(char(c.unicode()));
        return out;
    }
    out.resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        out[2 * i] = char(text[i].unicode() & 0xFF);
        out[2 * i + 1] = char(text[i].unicode() >> 8);
    }
    return out;
}

void JetFile::writePages(const std::vector<PageWrite> &pages, const std::vector<quint32> &read)
{
    if (!m_file)
        throw EngineError::format(u"%1 is held in memory and cannot be written", u"%1 在内存中，无法写入",
                                  m_what);
    const int pageSize = m_format->pageSize;
    LockedFile file(m_path, m_what, LockedFile::Mode::WriteLocked);
    const auto unchanged = [&](quint32 n) {
        if (n >= m_pageCount)
            return; // a page added at the end
        const QByteArray onDisk = file.read(qint64(n) * pageSize, pageSize);
        QByteArray expected = page(n).toByteArray();
        if (n == 0) // kept unscrambled
            jetRc4(expected, kScrambledAt, m_format->scrambledBytes, kHeaderKey, 4);
        if (onDisk != expected) {
            const EngineError e =
                EngineError::format(u"%1 was changed by another program since it was opened; open it again",
                                    u"文件 %1 在打开之后被其他程序改过了，请重新打开", m_what);
            throw JetChangedElsewhere(e.message(), e.chinese());
        }
    };
    for (quint32 n : read)
        unchanged(n);
    for (const PageWrite &w : pages)
        unchanged(w.number);
    for (const PageWrite &w : pages) {
        Q_ASSERT(w.bytes.size() == pageSize && w.number != 0);
        file.write(qint64(w.number) * pageSize, w.bytes);
        file.sync();
        m_pages[w.number] = w.bytes;
        m_pageCount = std::max(m_pageCount, w.number + 1);
    }
}

void JetFile::forget()
{
    if (!m_file)
        return;
    QByteArray head = std::move(m_pages[0]);
    m_pages.clear();
    m_pages.emplace(0, std::move(head));
    m_last = nullptr;
    m_size = m_file->size();
    m_pageCount = quint32(std::min<qint64>(m_size / m_format->pageSize, 0xFFFFFF));
}

} // namespace lumora::engine
