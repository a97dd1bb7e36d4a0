#include "data/engine/csv/CsvLayout.h"

#include "data/engine/EngineError.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <map>

namespace lumora::engine {

namespace {

uchar byteAt(QByteArrayView bytes, qsizetype i)
{
    return uchar(bytes[i]);
}

bool isGbLead(uchar c)
{
    return c >= 0x81 && c <= 0xFE;
}

bool isDigitByte(uchar c)
{
    return c >= 0x30 && c <= 0x39;
}

// Whether `bytes` are well-formed UTF-8: no overlong form, no surrogate,
// nothing above U+10FFFF, no sequence cut off.
bool isUtf8(QByteArrayView bytes)
{
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar c = byteAt(bytes, i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int need = 0;
        if (c >= 0xC2 && c <= 0xDF)
            need = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            need = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            need = 3;
        else
            return false;
        if (i + need >= n)
            return false;
        for (int k = 1; k <= need; ++k)
            if ((byteAt(bytes, i + k) & 0xC0) != 0x80)
                return false;
        const uchar next = byteAt(bytes, i + 1);
        if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
            (c == 0xF4 && next >= 0x90))
            return false;
        i += need + 1;
    }
    return true;
}

// Whether `bytes` are well-formed GBK or GB18030: ASCII, a lead byte with a
// trail byte 0x40-0xFE (not 0x7F), or a four-byte form; and whether a
// four-byte form occurs.
struct GbShape
{
    bool wellFormed = true;
    bool fourByte = false;
};

GbShape gbShape(QByteArrayView bytes)
{
    GbShape shape;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar c = byteAt(bytes, i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (!isGbLead(c) || i + 1 >= n) {
            shape.wellFormed = false;
            ++i;
            continue;
        }
        const uchar t = byteAt(bytes, i + 1);
        if (isDigitByte(t)) {
            if (i + 3 < n && isGbLead(byteAt(bytes, i + 2)) && isDigitByte(byteAt(bytes, i + 3))) {
                shape.fourByte = true;
                i += 4;
            } else {
                shape.wellFormed = false;
                ++i;
            }
        } else if (t >= 0x40 && t <= 0xFE && t != 0x7F) {
            i += 2;
        } else {
            shape.wellFormed = false;
            ++i;
        }
    }
    return shape;
}

bool startsWith(QByteArrayView bytes, const char *prefix, qsizetype length)
{
    return bytes.size() >= length && bytes.first(length) == QByteArrayView(prefix, length);
}

} // namespace

// ---- encoding ---------------------------------------------------------------

CsvEncoding CsvEncoding::forName(const QByteArray &name)
{
    CsvEncoding e;
    e.name = name;
    const QByteArray n = name.toUpper();
    if (n == "UTF-8")
        e.form = Form::Utf8;
    else if (n == "UTF-16LE" || n == "UTF-16")
        e.form = Form::Utf16Le;
    else if (n == "UTF-16BE")
        e.form = Form::Utf16Be;
    else if (n == "GBK" || n == "GB18030" || n == "GB2312")
        e.form = Form::Gb;
    else if (n == "BIG5" || n == "BIG5-HKSCS" || n == "WINDOWS-949" || n == "EUC-KR" || n == "SHIFT_JIS")
        e.form = Form::DoubleByte;
    else
        e.form = Form::SingleByte;
    if (e.form == Form::Utf16Le)
        e.name = "UTF-16LE";
    return e;
}

CsvEncoding CsvEncoding::detect(QByteArrayView file, const QByteArray &named)
{
    CsvEncoding e;
    if (!named.isEmpty()) {
        e = forName(named);
        e.source = Source::Named;
        if ((e.form == Form::Utf8 && startsWith(file, "\xEF\xBB\xBF", 3)) ||
            (e.form == Form::Utf16Le && startsWith(file, "\xFF\xFE", 2)) ||
            (e.form == Form::Utf16Be && startsWith(file, "\xFE\xFF", 2)))
            e.bomLength = e.form == Form::Utf8 ? 3 : 2;
    } else if (startsWith(file, "\xEF\xBB\xBF", 3)) {
        e = forName("UTF-8");
        e.bomLength = 3;
        e.source = Source::Bom;
    } else if (startsWith(file, "\xFF\xFE", 2) || startsWith(file, "\xFE\xFF", 2)) {
        e = forName(byteAt(file, 0) == 0xFF ? "UTF-16LE" : "UTF-16BE");
        e.bomLength = 2;
        e.source = Source::Bom;
    } else if (isUtf8(file)) {
        e = forName("UTF-8");
        e.source = Source::Utf8;
    } else {
        const GbShape shape = gbShape(file);
        e = forName(shape.fourByte ? "GB18030" : "GBK");
        e.source = Source::Guessed;
        e.fits = shape.wellFormed;
        return e;
    }
    const QByteArrayView text = file.sliced(e.bomLength);
    switch (e.form) {
    case Form::Utf8: e.fits = isUtf8(text); break;
    case Form::Utf16Le:
    case Form::Utf16Be: e.fits = text.size() % 2 == 0; break;
    case Form::Gb: e.fits = gbShape(text).wellFormed; break;
    default: e.fits = true; // a code page named for the file is taken at its word
    }
    return e;
}

CsvCodec::CsvCodec(const CsvEncoding &encoding)
    : m_form(encoding.form)
    , m_codePage(encoding.form == CsvEncoding::Form::Utf16Le || encoding.form == CsvEncoding::Form::Utf16Be
                     ? QByteArray("UTF-8")
                     : encoding.name)
{
}

QString CsvCodec::decode(QByteArrayView bytes) const
{
    if (m_form == CsvEncoding::Form::Utf16Le || m_form == CsvEncoding::Form::Utf16Be) {
        QStringDecoder decoder(m_form == CsvEncoding::Form::Utf16Le ? QStringConverter::Utf16LE
                                                                    : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        return decoder.decode(bytes);
    }
    return m_codePage.decode(bytes);
}

std::optional<QByteArray> CsvCodec::encode(const QString &text) const
{
    if (m_form == CsvEncoding::Form::Utf16Le || m_form == CsvEncoding::Form::Utf16Be) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            // A surrogate without its partner is no character.
            if (text[i].isHighSurrogate() && (i + 1 >= text.size() || !text[i + 1].isLowSurrogate()))
                return std::nullopt;
            if (text[i].isLowSurrogate() && (i == 0 || !text[i - 1].isHighSurrogate()))
                return std::nullopt;
        }
        QStringEncoder encoder(m_form == CsvEncoding::Form::Utf16Le ? QStringConverter::Utf16LE
                                                                    : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        return QByteArray(encoder.encode(text));
    }
    return m_codePage.encode(text);
}

// ---- layout -----------------------------------------------------------------

CsvLayout::CsvLayout(const QByteArray &file, const CsvEncoding &encoding, char delimiter)
    : m_file(file)
    , m_encoding(encoding)
    , m_codec(encoding)
    , m_delimiter(delimiter)
{
}

CsvLayout::CsvLayout(const QByteArray &file, const CsvEncoding &encoding, char delimiter, const QString &what)
    : CsvLayout(file, encoding, delimiter)
{
    parse(file.size(), -1);
    if (m_tooMany)
        throw EngineError::format(u"%1 has more than %2 fields; it is too large to read as a table",
                                  u"%1 中的字段超过 %2 个，太大，无法作为数据表读取", what, kMaxAllFields);
    if (m_tooWide)
        throw EngineError::format(
            u"%1 has a record of more than %2 fields; it is no table this program reads",
            u"%1 中有一条记录超过 %2 个字段，本程序无法把它读作数据表", what, kMaxFields);
}

CsvLayout::Unit CsvLayout::at(qsizetype pos) const
{
    const qsizetype n = m_file.size();
    const uchar c = uchar(m_file[pos]);
    switch (m_encoding.form) {
    case CsvEncoding::Form::Utf16Le:
    case CsvEncoding::Form::Utf16Be: {
        if (pos + 1 >= n)
            return {-1, 1};
        const uchar d = uchar(m_file[pos + 1]);
        const unsigned v =
            m_encoding.form == CsvEncoding::Form::Utf16Le ? c | unsigned(d) << 8 : unsigned(c) << 8 | d;
        return {v < 0x80 ? int(v) : -1, 2};
    }
    case CsvEncoding::Form::Gb:
        if (c < 0x80)
            return {c, 1};
        if (isGbLead(c) && pos + 1 < n) {
            const uchar t = uchar(m_file[pos + 1]);
            if (isDigitByte(t))
                return {-1,
                        pos + 3 < n && isGbLead(uchar(m_file[pos + 2])) && isDigitByte(uchar(m_file[pos + 3]))
                            ? 4
                            : 1};
            return {-1, t >= 0x40 && t != 0x7F && t != 0xFF ? 2 : 1};
        }
        return {-1, 1};
    case CsvEncoding::Form::DoubleByte: {
        if (c < 0x80)
            return {c, 1};
        const bool lead = m_encoding.name.compare("Shift_JIS", Qt::CaseInsensitive) == 0
                              ? (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)
                              : isGbLead(c);
        return {-1, lead && pos + 1 < n && uchar(m_file[pos + 1]) >= 0x40 ? 2 : 1};
    }
    default: return {c < 0x80 ? int(c) : -1, 1};
    }
}

void CsvLayout::parse(qsizetype limit, qsizetype maxRecords)
{
    qsizetype pos = std::min<qsizetype>(m_encoding.bomLength, limit);
    while (pos < limit && (maxRecords < 0 || qsizetype(m_records.size()) < maxRecords)) {
        CsvRecord record{qsizetype(m_spans.size()), 0};
        m_lastEnded = false;
        for (;;) {
            const qsizetype begin = pos;
            if (pos < limit && at(pos).ascii == '"') {
                pos += at(pos).length;
                bool closed = false;
                while (pos < limit) {
                    const Unit u = at(pos);
                    pos += u.length;
                    if (u.ascii != '"')
                        continue;
                    if (pos < limit && at(pos).ascii == '"') {
                        pos += at(pos).length;
                        continue;
                    }
                    closed = true;
                    break;
                }
                if (!closed)
                    m_unclosedQuote = true;
                else if (pos < limit) {
                    const int next = at(pos).ascii;
                    record.loose = record.loose || (next != m_delimiter && next != '\r' && next != '\n');
                }
            }
            while (pos < limit) {
                const Unit u = at(pos);
                if (u.ascii == m_delimiter || u.ascii == '\r' || u.ascii == '\n')
                    break;
                pos += u.length;
            }
            m_spans.push_back({begin, std::min(pos, limit)});
            if (++record.count > kMaxFields)
                m_tooWide = true;
            if (qsizetype(m_spans.size()) > kMaxAllFields)
                m_tooMany = true;
            if (m_tooWide || m_tooMany)
                break;
            if (pos < limit && at(pos).ascii == m_delimiter) {
                pos += at(pos).length;
                continue;
            }
            if (pos < limit) {
                const Unit u = at(pos);
                pos += u.length;
                if (u.ascii == '\r' && pos < limit && at(pos).ascii == '\n')
                    pos += at(pos).length;
                m_lastEnded = true;
            }
            break;
        }
        m_records.push_back(record);
        if (m_tooWide || m_tooMany)
            return;
    }
}

char CsvLayout::sniff(const QByteArray &file, const CsvEncoding &encoding)
{
    const qsizetype limit = std::min(file.size(), qsizetype(encoding.bomLength) + kSniffBytes);
    char best = ',';
    qsizetype bestScore = 0;
    for (const char delimiter : kDelimiters) {
        CsvLayout layout(file, encoding, delimiter);
        layout.parse(limit, kSniffRecords);
        qsizetype records = qsizetype(layout.m_records.size());
        // A record the sample cuts short does not vote.
        if (limit < file.size() && !layout.m_lastEnded)
            --records;
        std::map<int, qsizetype> counts;
        for (qsizetype r = 0; r < records; ++r)
            if (const CsvRecord &record = layout.m_records[size_t(r)]; record.count > 1 && !record.loose)
                ++counts[record.count];
        qsizetype score = 0;
        for (const auto &[count, times] : counts)
            score = std::max(score, times);
        if (score > bestScore) {
            bestScore = score;
            best = delimiter;
        }
    }
    return best;
}

const CsvSpan *CsvLayout::span(qsizetype record, int field) const
{
    const CsvRecord &r = m_records[size_t(record)];
    return field >= 0 && field < r.count ? &m_spans[size_t(r.first + field)] : nullptr;
}

qsizetype CsvLayout::recordEnd(qsizetype record) const
{
    const CsvRecord &r = m_records[size_t(record)];
    return m_spans[size_t(r.first + r.count - 1)].end;
}

bool CsvLayout::isEmpty(const CsvSpan &span) const
{
    if (span.end == span.begin)
        return true;
    const Unit first = at(span.begin);
    return first.ascii == '"' && span.end - span.begin == 2 * first.length &&
           at(span.begin + first.length).ascii == '"';
}

QString CsvLayout::text(const CsvSpan &span) const
{
    if (span.end == span.begin)
        return {};
    const QByteArrayView bytes(m_file.constData() + span.begin, span.end - span.begin);
    const Unit first = at(span.begin);
    if (first.ascii != '"')
        return m_codec.decode(bytes);
    QByteArray raw;
    raw.reserve(bytes.size());
    bool quoted = true;
    for (qsizetype pos = span.begin + first.length; pos < span.end;) {
        const Unit u = at(pos);
        if (quoted && u.ascii == '"') {
            if (pos + u.length < span.end && at(pos + u.length).ascii == '"') {
                raw.append(m_file.constData() + pos, u.length);
                pos += 2 * u.length;
            } else {
                quoted = false; // the closing quote
                pos += u.length;
            }
            continue;
        }
        raw.append(m_file.constData() + pos, std::min<qsizetype>(u.length, span.end - pos));
        pos += u.length;
    }
    return m_codec.decode(raw);
}

std::optional<QByteArray> CsvLayout::fieldBytes(const QString &text, bool forceQuotes) const
{
    const bool quote = forceQuotes || text.contains(QLatin1Char(m_delimiter)) ||
                       text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\r')) ||
                       text.contains(QLatin1Char('\n'));
    if (!quote)
        return m_codec.encode(text);
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return m_codec.encode(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

QByteArray CsvLayout::delimiterBytes() const
{
    return m_codec.encode(QString(QLatin1Char(m_delimiter))).value_or(QByteArray(1, m_delimiter));
}

} // namespace lumora::engine
