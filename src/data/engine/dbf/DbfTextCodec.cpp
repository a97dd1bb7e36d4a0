#include "data/engine/dbf/DbfTextCodec.h"

#include <QMutex>
#include <QVarLengthArray>

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
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 852: return "IBM852";
    case 866: return "IBM866";
    case 874: return "windows-874";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
        return "windows-" + QByteArray::number(number);
    case 54936: return "GB18030";
    case 65001: return "UTF-8";
    default: return {};
    }
}

// Asks ICU once for every lead/trail pair, each followed by a line feed
// (never a trail byte, so it always comes back as itself and marks where
// the pair's text ends). Null when the answer cannot be split that way.
std::unique_ptr<DbfTextCodec::PairTable> decodeAllPairs(const QByteArray &name)
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

    auto table = std::make_unique<DbfTextCodec::PairTable>();
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

const DbfTextCodec::PairTable *DbfTextCodec::pairTable() const
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

DbfTextCodec::DbfTextCodec(const QByteArray &name)
    : m_name(name), m_decoder(name.constData()), m_encoder(name.constData())
{
    if (!m_decoder.isValid() || !m_encoder.isValid()) {
        m_name = "GBK";
        m_decoder = QStringDecoder("GBK");
        m_encoder = QStringEncoder("GBK");
    }
    const QByteArray upper = m_name.toUpper();
    if (upper == "GBK" || upper == "BIG5" || upper == "SHIFT_JIS" || upper == "WINDOWS-949" ||
        upper == "CP936" || upper == "CP950" || upper == "CP949" || upper == "CP932" || upper == "WINDOWS-932" ||
        upper == "WINDOWS-936" || upper == "WINDOWS-950")
        m_width = Width::DoubleByte;
    else if (upper == "UTF-8" || upper == "UTF8")
        m_width = Width::Utf8;
    else if (upper.startsWith("WINDOWS-125") || upper.startsWith("IBM") || upper.startsWith("ISO-8859") ||
             upper == "WINDOWS-874" || upper.startsWith("CP125"))
        m_width = Width::Single;
}

QString DbfTextCodec::decode(QByteArrayView bytes) const
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

std::optional<QByteArray> DbfTextCodec::encode(const QString &text) const
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

QByteArray DbfTextCodec::nameForLanguageDriver(quint8 driver)
{
    switch (driver) {
    case 0x01: return "IBM437";
    case 0x02: return "IBM850";
    case 0x03: case 0x58: case 0x59: return "windows-1252";
    case 0x4D: case 0x7A: return "GBK";
    case 0x4E: case 0x79: return "windows-949";
    case 0x4F: case 0x78: return "Big5";
    case 0x50: case 0x7C: return "windows-874";
    case 0x7B: return "Shift_JIS";
    case 0x64: return "IBM852";
    case 0x65: return "IBM866";
    case 0xC8: return "windows-1250";
    case 0xC9: return "windows-1251";
    case 0xCA: return "windows-1254";
    case 0xCB: return "windows-1253";
    default: return "GBK";
    }
}

QByteArray DbfTextCodec::nameForCpg(QByteArrayView cpgText)
{
    QByteArray text = cpgText.toByteArray().trimmed();
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.mid(3).trimmed();
    const qsizetype lineEnd = text.indexOf('\n');
    if (lineEnd >= 0)
        text = text.left(lineEnd).trimmed();
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
