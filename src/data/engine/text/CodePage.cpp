#include "data/engine/text/CodePage.h"

#include <QMutex>
#include <QVarLengthArray>

#include <algorithm>
#include <map>
#include <memory>

namespace lumora::engine {

namespace {

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}

// Whether the last character of `bytes` in a double-byte code page (GBK,
// Big5, Shift_JIS, UHC) is a lead byte without its trail byte.
bool endsInsideDoubleByte(QByteArrayView bytes)
{
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        const uchar c = uchar(bytes[i]);
        if (c >= 0x81 && c <= 0xFE) {
            if (i + 1 >= n)
                return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

// Whether UTF-8 `bytes` end inside a multi-byte sequence.
bool endsInsideUtf8(QByteArrayView bytes)
{
    qsizetype i = bytes.size();
    int continuation = 0;
    while (i > 0 && continuation < 4) {
        const uchar c = uchar(bytes[--i]);
        if ((c & 0xC0) == 0x80) {
            ++continuation;
            continue;
        }
        const int needed = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        return needed > continuation;
    }
    return false;
}

QByteArray nameForCodePageNumber(int number)
{
    switch (number) {
    case 437:
    case 737:
    case 850:
    case 852:
    case 857:
    case 860:
    case 861:
    case 862:
    case 863:
    case 865:
    case 866: return "IBM" + QByteArray::number(number);
    case 874: return "windows-874";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258: return "windows-" + QByteArray::number(number);
    case 10000: return "macintosh";
    case 10006: return "x-mac-greek";
    case 10007: return "x-mac-cyrillic";
    case 10029: return "x-mac-centraleurroman";
    case 54936: return "GB18030";
    case 65001: return "UTF-8";
    default: return {};
    }
}

// The Windows code page number a language-driver byte names, as dBase
// (its language drivers), FoxPro and Visual FoxPro define them; 0 for a
// byte no format defines, or whose code page (895 Kamenicky, 620 Mazovia,
// 867, 868) has no converter here.
int codePageOfLanguageDriver(quint8 driver)
{
    switch (driver) {
    case 0x01:
    case 0x09:
    case 0x0B:
    case 0x0D:
    case 0x0F:
    case 0x11:
    case 0x15:
    case 0x18:
    case 0x19:
    case 0x1B:
    case 0x5E:
    case 0x5F: return 437;
    case 0x02:
    case 0x0A:
    case 0x0C:
    case 0x0E:
    case 0x10:
    case 0x12:
    case 0x14:
    case 0x16:
    case 0x1A:
    case 0x1D:
    case 0x25:
    case 0x37:
    case 0x60:
    case 0x9C: return 850;
    case 0x03:
    case 0x58:
    case 0x59:
    case 0x61:
    case 0x62: return 1252;
    case 0x04: return 10000;
    case 0x08:
    case 0x17:
    case 0x66: return 865;
    case 0x13:
    case 0x56:
    case 0x7B: return 932;
    case 0x1C:
    case 0x6C: return 863;
    case 0x1F:
    case 0x22:
    case 0x23:
    case 0x40:
    case 0x64:
    case 0x87: return 852;
    case 0x24: return 860;
    case 0x26:
    case 0x65: return 866;
    case 0x4D:
    case 0x7A: return 936;
    case 0x4E:
    case 0x79: return 949;
    case 0x4F:
    case 0x78: return 950;
    case 0x50:
    case 0x7C: return 874;
    case 0x67: return 861;
    case 0x6A:
    case 0x86: return 737;
    case 0x6B:
    case 0x88: return 857;
    case 0x7D: return 1255;
    case 0x7E: return 1256;
    case 0x85: return 862;
    case 0x96: return 10007;
    case 0x97: return 10029;
    case 0x98: return 10006;
    case 0x9B:
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0xCA: return 1254;
    case 0xCB: return 1253;
    case 0xCC: return 1257;
    case 0xF0: return 65001; // not in the formats' lists, but some writers mark UTF-8 tables so
    default: return 0;
    }
}

// Asks ICU once for every lead/trail pair, each followed by a line feed
// (never a trail byte, so it always comes back as itself and marks where
// the pair's text ends). Null when the answer cannot be split that way.
std::unique_ptr<CodePage::PairTable> decodeAllPairs(const QByteArray &name)
{
    QByteArray probe;
    probe.reserve(0x7E * 0xC0 * 3);
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            probe += char(lead);
            probe += char(trail);
            probe += '\n';
        }
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return nullptr;
    const QString text = decoder.decode(probe);

    auto table = std::make_unique<CodePage::PairTable>();
    table->fill(0);
    qsizetype start = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), start);
            if (end < 0)
                return nullptr;
            const QChar c = end - start == 1 ? text.at(start) : QChar();
            if (!c.isNull() && c != QChar::ReplacementCharacter && !c.isSurrogate())
                (*table)[size_t((lead - 0x80) << 8 | trail)] = c.unicode();
            start = end + 1;
        }
    if (start != text.size())
        return nullptr;
    return table;
}

} // namespace

const CodePage::PairTable *CodePage::pairTable() const
{
    if (m_pairsLooked)
        return m_pairs;
    static QMutex mutex;
    static std::map<QByteArray, std::unique_ptr<PairTable>> tables;
    const QMutexLocker lock(&mutex);
    auto it = tables.find(m_name);
    if (it == tables.end())
        it = tables.emplace(m_name, decodeAllPairs(m_name)).first;
    m_pairs = it->second.get();
    m_pairsLooked = true;
    return m_pairs;
}

CodePage::CodePage(const QByteArray &name)
    : m_name(name)
    , m_decoder(name.constData())
    , m_encoder(name.constData())
{
    if (!m_decoder.isValid() || !m_encoder.isValid()) {
        m_name = "GBK";
        m_decoder = QStringDecoder("GBK");
        m_encoder = QStringEncoder("GBK");
    }
    const QByteArray upper = m_name.toUpper();
    if (upper == "GBK" || upper == "BIG5" || upper == "SHIFT_JIS" || upper == "WINDOWS-949" ||
        upper == "CP936" || upper == "CP950" || upper == "CP949" || upper == "CP932" ||
        upper == "WINDOWS-932" || upper == "WINDOWS-936" || upper == "WINDOWS-950")
        m_width = Width::DoubleByte;
    else if (upper == "UTF-8" || upper == "UTF8")
        m_width = Width::Utf8;
    else if (upper.startsWith("WINDOWS-125") || upper.startsWith("IBM") || upper.startsWith("ISO-8859") ||
             upper == "WINDOWS-874" || upper.startsWith("CP125") || upper == "MACINTOSH" ||
             upper.startsWith("X-MAC-"))
        m_width = Width::Single;
}

QString CodePage::decode(QByteArrayView bytes) const
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    if (m_width == Width::DoubleByte) {
        // Table look-ups instead of a trip through ICU for every field; any
        // byte the table does not cover sends the whole text to ICU.
        if (const PairTable *pairs = pairTable()) {
            QVarLengthArray<char16_t, 256> out(bytes.size());
            const qsizetype n = bytes.size();
            qsizetype i = 0, k = 0;
            while (i < n) {
                const uchar c = uchar(bytes[i]);
                if (c < 0x80) {
                    out[k++] = c;
                    ++i;
                    continue;
                }
                const char16_t u = i + 1 < n ? (*pairs)[size_t((c - 0x80) << 8 | uchar(bytes[i + 1]))] : 0;
                if (!u)
                    break;
                out[k++] = u;
                i += 2;
            }
            if (i == n)
                return QString(reinterpret_cast<const QChar *>(out.constData()), k);
        }
    }
    bool cut = false;
    if (m_width == Width::DoubleByte)
        cut = endsInsideDoubleByte(bytes);
    else if (m_width == Width::Utf8)
        cut = endsInsideUtf8(bytes);
    m_decoder.resetState();
    QString text = m_decoder.decode(bytes);
    m_decoder.resetState();
    if (cut)
        text += QChar::ReplacementCharacter;
    return text;
}

bool CodePage::assigns(QByteArrayView bytes) const
{
    if (isAscii(bytes))
        return true;
    const auto unassigned = [](char16_t u) {
        return u == 0 || u == 0xFFFD || u == 0x1A || (u >= 0xE000 && u <= 0xF8FF);
    };
    if (m_width == Width::DoubleByte) {
        if (const PairTable *pairs = pairTable()) {
            const qsizetype n = bytes.size();
            for (qsizetype i = 0; i < n;) {
                const uchar c = uchar(bytes[i]);
                if (c < 0x80) {
                    ++i;
                    continue;
                }
                if (i + 1 >= n || unassigned((*pairs)[size_t((c - 0x80) << 8 | uchar(bytes[i + 1]))]))
                    return false;
                i += 2;
            }
            return true;
        }
    }
    const QString text = decode(bytes);
    return std::none_of(text.begin(), text.end(), [&](QChar c) { return unassigned(c.unicode()); });
}

std::optional<QByteArray> CodePage::encode(const QString &text) const
{
    bool ascii = true;
    for (const QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();
    m_encoder.resetState();
    QByteArray bytes = m_encoder.encode(text);
    const bool failed = m_encoder.hasError();
    m_encoder.resetState();
    // ICU substitutes what it cannot map; only a round trip proves the
    // bytes still mean the text.
    if (failed || decode(bytes) != text)
        return std::nullopt;
    return bytes;
}

QByteArray CodePage::nameForLanguageDriver(quint8 driver)
{
    if (driver == 0x00 || driver == 0x57)
        return "GBK";
    return nameForCodePageNumber(codePageOfLanguageDriver(driver));
}

QByteArray CodePage::nameForCpg(QByteArrayView cpgText)
{
    const QByteArray text = cpgText.toByteArray().trimmed();
    if (text.isEmpty() || text.size() > 64)
        return {};
    QByteArray upper = text.toUpper();
    for (const char *prefix : {"ANSI ", "OEM ", "CP", "WINDOWS-"}) {
        if (upper.startsWith(prefix)) {
            bool ok = false;
            const int number = upper.mid(qstrlen(prefix)).trimmed().toInt(&ok);
            if (ok)
                return nameForCodePageNumber(number);
        }
    }
    bool ok = false;
    const int number = upper.toInt(&ok);
    if (ok)
        return nameForCodePageNumber(number);
    if (upper == "8859_1" || upper == "ISO88591")
        return "ISO-8859-1";
    if (upper == "UTF8")
        return "UTF-8";
    const QStringDecoder probe(text.constData());
    return probe.isValid() ? text : QByteArray();
}

} // namespace lumora::engine
