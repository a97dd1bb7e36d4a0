#include "data/engine/xls/XlsWorkbook.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/ByteCursor.h"

#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace lumora::engine {

namespace {

// Reads across a record and the CONTINUE records after it, as one run of
// bytes; at each boundary inside a string's characters the continuation
// starts with a byte whose bit 0 says whether the rest is UTF-16.
class ContinuedReader
{
public:
    struct Segment
    {
        qint64 data = 0;   // stream offset of the body
        int length = 0;    // body length
        qint64 record = 0; // offset of the record's header
    };

    ContinuedReader(const ByteCursor &c, std::vector<Segment> segments, QString what)
        : m_c(c)
        , m_segments(std::move(segments))
        , m_what(std::move(what))
    {
    }

    bool atEnd()
    {
        settle();
        return m_segment >= m_segments.size();
    }
    // Stream offset of the next byte and of the record holding it.
    qint64 position()
    {
        settle();
        return m_segment < m_segments.size() ? m_segments[m_segment].data + m_at : -1;
    }
    qint64 recordStart()
    {
        settle();
        return m_segment < m_segments.size() ? m_segments[m_segment].record : -1;
    }
    quint8 u8()
    {
        need(1);
        return m_c.u8(here(1));
    }
    quint16 u16() { return quint16(u8() | u8() << 8); }
    quint32 u32() { return quint32(u16()) | quint32(u16()) << 16; }
    void skip(qint64 n)
    {
        while (n > 0) {
            need(1);
            const qint64 k = std::min<qint64>(n, m_segments[m_segment].length - m_at);
            m_at += k;
            n -= k;
        }
    }
    // `count` characters, one or two bytes each as `wide` says; a record
    // boundary inside them is followed by a flag byte for the rest.
    QString chars(int count, bool wide)
    {
        QString out;
        out.reserve(count);
        while (count > 0) {
            if (m_segment < m_segments.size() && m_at >= m_segments[m_segment].length) {
                advance();
                wide = (u8() & 1) != 0;
            }
            const qint64 room = (available() - m_at) / (wide ? 2 : 1);
            if (room <= 0)
                damaged();
            const int n = int(std::min<qint64>(count, room));
            const QByteArrayView bytes =
                m_c.view(m_segments[m_segment].data + m_at, qint64(n) * (wide ? 2 : 1));
            if (wide) {
                const qsizetype from = out.size();
                out.resize(from + n);
                std::memcpy(static_cast<void *>(out.data() + from), bytes.data(), size_t(n) * 2);
                if constexpr (QSysInfo::ByteOrder == QSysInfo::BigEndian)
                    for (qsizetype i = from; i < out.size(); ++i)
                        out[i] = QChar(qbswap(out[i].unicode()));
            } else {
                out.append(QLatin1StringView(bytes.data(), n));
            }
            m_at += qint64(n) * (wide ? 2 : 1);
            count -= n;
        }
        return out;
    }

private:
    qint64 available() const { return m_segment < m_segments.size() ? m_segments[m_segment].length : 0; }
    void settle()
    {
        while (m_segment < m_segments.size() && m_at >= m_segments[m_segment].length)
            advance();
    }
    void advance()
    {
        ++m_segment;
        m_at = 0;
        if (m_segment >= m_segments.size())
            damaged();
    }
    void need(qint64 n)
    {
        settle();
        if (m_segment >= m_segments.size() || m_segments[m_segment].length - m_at < n)
            damaged();
    }
    [[noreturn]] void damaged() const
    {
        throw EngineError::format(u"%1 is damaged: a text runs past the end of its record",
                                  u"文件 %1 已损坏：有文字超出了它所在记录的末尾", m_what);
    }
    qint64 here(qint64 n)
    {
        const qint64 at = m_segments[m_segment].data + m_at;
        m_at += n;
        return at;
    }
    const ByteCursor &m_c;
    std::vector<Segment> m_segments;
    QString m_what;
    size_t m_segment = 0;
    qint64 m_at = 0;
};

// A record's header.
struct Header
{
    quint16 type = 0;
    int length = 0;
    qint64 body = 0; // offset of the body
    qint64 next() const { return body + length; }
};

// Reads inside a record's body whose length was checked against the
// stream (header() does) and against what is read (the caller does):
// the sheet's cells are read this way, hundreds of thousands of them.
struct Body
{
    const uchar *p;
    quint8 u8(qint64 k) const { return p[k]; }
    quint16 u16le(qint64 k) const { return quint16(p[k] | p[k + 1] << 8); }
    quint32 u32le(qint64 k) const { return quint32(u16le(k)) | quint32(u16le(k + 2)) << 16; }
    double f64le(qint64 k) const
    {
        const quint64 bits = quint64(u32le(k)) | quint64(u32le(k + 4)) << 32;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
};

Header header(const ByteCursor &c, qint64 at, const QString &what)
{
    if (!c.has(at, 4))
        throw EngineError::format(u"%1 is damaged: its workbook stream breaks off at offset %2",
                                  u"文件 %1 已损坏：工作簿数据流在第 %2 个字节处中断", what, at);
    Header h{c.u16le(at), c.u16le(at + 2), at + 4};
    if (!c.has(h.body, h.length))
        throw EngineError::format(
            u"%1 is damaged: the record at offset %2 (type 0x%3) runs past the end of the "
            u"workbook stream",
            u"文件 %1 已损坏：第 %2 个字节处的记录（类型 0x%3）超出了工作簿数据流的末尾", what, at,
            QString::number(h.type, 16));
    return h;
}

// An XLUnicodeString (16-bit count) or ShortXLUnicodeString (8-bit count)
// that lies within one record.
QString shortString(const ByteCursor &c, qint64 at, qint64 end, bool byteCount)
{
    const int cch = byteCount ? c.u8(at) : c.u16le(at);
    const qint64 flags = at + (byteCount ? 1 : 2);
    const bool wide = c.u8(flags) & 1;
    const qint64 chars = flags + 1;
    const qint64 n = std::min<qint64>(qint64(cch) * (wide ? 2 : 1), end - chars);
    const QByteArrayView b = c.view(chars, std::max<qint64>(0, n));
    if (!wide)
        return QString::fromLatin1(b.data(), b.size());
    QString s(b.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        s[i] = QChar(quint16(quint8(b[2 * i]) | quint8(b[2 * i + 1]) << 8));
    return s;
}

[[noreturn]] void cannotOpen(const QString &what, const QString &why, const QString &chinese)
{
    throw EngineError(QStringLiteral("%1 cannot be opened: %2").arg(what, why),
                      QStringLiteral("无法打开 %1：%2").arg(what, chinese));
}

double rkValue(quint32 rk)
{
    double v;
    if (rk & 0x02) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return rk & 0x01 ? v / 100 : v;
}

} // namespace

// ---- number formats ------------------------------------------------------

XlsNumberStyle XlsWorkbook::builtinStyle(quint16 id)
{
    // 14-22 and 45-47 are dates and times everywhere; 27-36 and 50-58 are
    // the date formats of the Chinese, Japanese and Korean editions.
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58))
        return XlsNumberStyle::Date;
    if ((id >= 5 && id <= 8) || id == 42 || id == 44)
        return XlsNumberStyle::Currency;
    return XlsNumberStyle::Plain;
}

XlsNumberStyle XlsWorkbook::classifyFormat(const QString &format)
{
    // Only the first section (positive numbers) decides.
    bool date = false, currency = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar ch = format[i];
        if (ch == QLatin1Char('"')) {
            const qsizetype close = format.indexOf(QLatin1Char('"'), i + 1);
            if (close < 0)
                break;
            i = close;
        } else if (ch == QLatin1Char('\\') || ch == QLatin1Char('_') || ch == QLatin1Char('*')) {
            ++i;
        } else if (ch == QLatin1Char('[')) {
            const qsizetype close = format.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0)
                break;
            const QString inside = format.mid(i + 1, close - i - 1).toLower();
            if (inside == QLatin1String("h") || inside == QLatin1String("hh") ||
                inside == QLatin1String("m") || inside == QLatin1String("mm") ||
                inside == QLatin1String("s") || inside == QLatin1String("ss"))
                date = true;
            // [$¥-804], [$€-407]: a currency sign with its locale.
            if (inside.startsWith(QLatin1Char('$')) && inside.size() > 1 && inside[1] != QLatin1Char('-'))
                currency = true;
            i = close;
        } else if (ch == QLatin1Char(';')) {
            break;
        } else {
            const char16_t u = ch.toLower().unicode();
            if (u == u'y' || u == u'd' || u == u'h' || u == u's' || u == u'm' || u == u'e' || u == u'g' ||
                u == u'b')
                date = date || u != u'e' || !format.contains(QLatin1Char('0')); // 0.00E+00 is no date
            if (u == u'$' || u == u'¥' || u == u'￥' || u == u'€' || u == u'£')
                currency = true;
        }
    }
    // "General" holds e, g ... but no date code.
    if (format.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0 ||
        format.compare(QLatin1String("@"), Qt::CaseInsensitive) == 0)
        return XlsNumberStyle::Plain;
    if (date)
        return XlsNumberStyle::Date;
    return currency ? XlsNumberStyle::Currency : XlsNumberStyle::Plain;
}

// ---- globals -------------------------------------------------------------

XlsWorkbook::XlsWorkbook(QByteArray stream, QString what)
    : m_stream(std::move(stream))
    , m_what(std::move(what))
{
    readGlobals();
}

std::vector<qint64> XlsWorkbook::recordOffsets(const QByteArray &stream, const QString &what)
{
    const ByteCursor c(stream, what);
    std::vector<qint64> out;
    for (qint64 at = 0; c.has(at, 4);) {
        const quint16 type = c.u16le(at);
        const qint64 len = c.u16le(at + 2);
        if (type == 0 && len == 0 && stream.size() - at < 8192)
            break; // the zero padding some writers put after the last sheet
        out.push_back(at);
        at += 4 + len;
    }
    return out;
}

void XlsWorkbook::readGlobals()
{
    const ByteCursor c(m_stream, m_what);
    const auto refuse = [this](const QString &why, const QString &chinese) {
        cannotOpen(m_what, why, chinese);
    };
    Header h = header(c, 0, m_what);
    if (h.type != biff::Bof || h.length < 4)
        refuse(QStringLiteral("its workbook stream does not start with a BOF record (damaged?)"),
               QStringLiteral("它的工作簿数据流不是以 BOF 记录开头的（文件已损坏？）"));
    const quint16 version = c.u16le(h.body);
    if (version != 0x0600)
        refuse(QStringLiteral("it was written by Excel 95 or older (BIFF version 0x%1); save it in Excel "
                              "97-2003 format (.xls)")
                   .arg(version, 4, 16, QLatin1Char('0')),
               QStringLiteral(
                   "它是 Excel 95 或更早版本写的（BIFF 版本 0x%1），请另存为 Excel 97-2003 格式（.xls）")
                   .arg(version, 4, 16, QLatin1Char('0')));

    std::vector<std::pair<quint16, QString>> formats;
    std::vector<quint16> xfFormats;
    std::vector<std::array<quint16, 3>> xti;
    std::vector<std::pair<qint64, int>> nameRecords;
    int supBooks = 0, selfBook = -1;
    for (qint64 at = h.next();;) {
        if (!c.has(at, 4))
            refuse(QStringLiteral("its workbook globals have no end (EOF record); the file is truncated"),
                   QStringLiteral("工作簿的全局部分没有结束记录（EOF），文件被截断了"));
        h = header(c, at, m_what);
        switch (h.type) {
        case biff::FilePass:
            cannotOpen(
                m_what,
                QStringLiteral("it is protected with a password (encrypted); remove the password in Excel "
                               "and save it again"),
                QStringLiteral("它设置了打开密码（已加密），请在 Excel 中取消密码后重新保存"));
        case biff::DateMode: m_1904 = h.length >= 2 && c.u16le(h.body) != 0; break;
        case biff::Format:
            if (h.length >= 5)
                formats.emplace_back(c.u16le(h.body), shortString(c, h.body + 2, h.next(), false));
            break;
        case biff::Xf:
            if (h.length >= 4)
                xfFormats.push_back(c.u16le(h.body + 2));
            break;
        case biff::BoundSheet:
            if (h.length >= 8) {
                XlsSheetEntry s;
                s.bof = c.u32le(h.body);
                s.state = c.u8(h.body + 4) & 0x03;
                s.type = c.u8(h.body + 5);
                s.name = shortString(c, h.body + 6, h.next(), true);
                s.boundSheet = at;
                m_sheets.append(s);
            }
            break;
        case biff::Sst: {
            // The SST and the CONTINUE records right after it.
            std::vector<std::pair<qint64, int>> segments{{at, h.length}};
            qint64 next = h.next();
            while (c.has(next, 4) && c.u16le(next) == biff::Continue) {
                const Header k = header(c, next, m_what);
                segments.emplace_back(next, k.length);
                next = k.next();
            }
            readSst(at, segments);
            h.length = int(next - h.body);
            break;
        }
        case biff::ExtSst:
            m_sst.extSst = at;
            if (h.length >= 2)
                m_sst.bucketSize = c.u16le(h.body);
            break;
        case biff::SupBook:
            if (h.length >= 4 && c.u16le(h.body + 2) == 0x0401 && selfBook < 0)
                selfBook = supBooks;
            ++supBooks;
            break;
        case biff::ExternSheet:
            if (h.length >= 2) {
                const int n = c.u16le(h.body);
                for (int i = 0; i < n && 2 + 6 * (i + 1) <= h.length; ++i)
                    xti.push_back({c.u16le(h.body + 2 + 6 * i), c.u16le(h.body + 4 + 6 * i),
                                   c.u16le(h.body + 6 + 6 * i)});
            }
            break;
        case biff::Name: nameRecords.emplace_back(h.body, h.length); break;
        default: break;
        }
        if (h.type == biff::Eof)
            break;
        at = h.next();
    }
    for (const auto &[body, length] : nameRecords)
        readName(body, length, xti, selfBook);

    m_xfStyles.reserve(xfFormats.size());
    for (quint16 id : xfFormats) {
        XlsNumberStyle style = builtinStyle(id);
        for (const auto &[fid, text] : formats)
            if (fid == id)
                style = classifyFormat(text);
        m_xfStyles.push_back(style);
    }
    m_parsed.resize(size_t(m_sheets.size()));
}

void XlsWorkbook::readSst(qint64 sstOffset, const std::vector<std::pair<qint64, int>> &records)
{
    const ByteCursor c(m_stream, m_what);
    if (records.front().second < 8)
        throw EngineError::format(u"%1 is damaged: its shared-string table is cut short",
                                  u"文件 %1 已损坏：共享字符串表不完整", m_what);
    m_sst.sst = sstOffset;
    m_sst.total = c.u32le(sstOffset + 4);
    m_sst.unique = c.u32le(sstOffset + 8);
    m_sst.lastRecord = records.back().first;
    m_sst.lastLength = records.back().second;
    std::vector<ContinuedReader::Segment> segments;
    for (size_t i = 0; i < records.size(); ++i) {
        const qint64 skip = i == 0 ? 8 : 0;
        segments.push_back({records[i].first + 4 + skip, int(records[i].second - skip), records[i].first});
    }
    ContinuedReader r(c, std::move(segments), m_what);
    // The count may lie; the strings present are read, up to the count.
    const quint32 promised = m_sst.unique;
    m_strings.reserve(qsizetype(std::min<quint32>(promised, quint32(m_stream.size() / 3))));
    for (quint32 i = 0; i < promised && !r.atEnd(); ++i) {
        m_sst.starts.push_back(r.position());
        m_sst.startRecords.push_back(r.recordStart());
        const int cch = r.u16();
        const quint8 flags = r.u8();
        const int runs = flags & 0x08 ? r.u16() : 0;
        const quint32 ext = flags & 0x04 ? r.u32() : 0;
        m_strings.append(r.chars(cch, flags & 0x01));
        r.skip(4 * qint64(runs));
        r.skip(ext);
        m_sst.plain.push_back(runs == 0 && ext == 0);
    }
    if (m_sst.starts.size() < promised)
        m_notes.append(QStringLiteral("%1: its shared-string table promises %2 texts but holds %3")
                           .arg(m_what)
                           .arg(promised)
                           .arg(m_sst.starts.size()));
}

void XlsWorkbook::readName(qint64 body, int length, const std::vector<std::array<quint16, 3>> &xti,
                           int selfBook)
{
    const ByteCursor c(m_stream, m_what);
    if (length < 15)
        return;
    const quint16 flags = c.u16le(body);
    if (flags & (0x0001 | 0x0002 | 0x0020)) // hidden, function, built-in (Print_Area ...)
        return;
    const int cch = c.u8(body + 3);
    const int cce = c.u16le(body + 4);
    const bool wide = c.u8(body + 14) & 1;
    const qint64 formula = body + 15 + qint64(cch) * (wide ? 2 : 1);
    if (formula + cce > body + length || cce < 7)
        return;
    QString text;
    {
        const QByteArrayView b = c.view(body + 15, qint64(cch) * (wide ? 2 : 1));
        if (wide)
            for (int i = 0; i < cch; ++i)
                text.append(QChar(quint16(quint8(b[2 * i]) | quint8(b[2 * i + 1]) << 8)));
        else
            text = QString::fromLatin1(b.data(), b.size());
    }
    const quint8 ptg = c.u8(formula);
    XlsDefinedName n;
    n.name = text;
    quint16 ixti = 0;
    if ((ptg == 0x3B || ptg == 0x5B || ptg == 0x7B) && cce == 11) {
        ixti = c.u16le(formula + 1);
        n.firstRow = c.u16le(formula + 3);
        n.lastRow = c.u16le(formula + 5);
        n.firstCol = c.u16le(formula + 7) & 0x3FFF;
        n.lastCol = c.u16le(formula + 9) & 0x3FFF;
    } else if ((ptg == 0x3A || ptg == 0x5A || ptg == 0x7A) && cce == 7) {
        ixti = c.u16le(formula + 1);
        n.firstRow = n.lastRow = c.u16le(formula + 3);
        n.firstCol = n.lastCol = c.u16le(formula + 5) & 0x3FFF;
    } else {
        return;
    }
    if (ixti >= xti.size() || int(xti[ixti][0]) != selfBook || xti[ixti][1] != xti[ixti][2])
        return;
    n.sheet = xti[ixti][1];
    if (n.sheet >= m_sheets.size() || m_sheets[n.sheet].type != 0 || n.lastRow < n.firstRow ||
        n.lastCol < n.firstCol)
        return;
    m_names.append(n);
}

XlsNumberStyle XlsWorkbook::style(quint16 xf) const
{
    return xf < m_xfStyles.size() ? m_xfStyles[xf] : XlsNumberStyle::Plain;
}

// ---- sheets --------------------------------------------------------------

const XlsSheet &XlsWorkbook::sheet(int i) const
{
    if (!m_parsed.at(size_t(i)))
        m_parsed[size_t(i)] = readSheet(i);
    return *m_parsed[size_t(i)];
}

std::unique_ptr<XlsSheet> XlsWorkbook::readSheet(int i) const
{
    const XlsSheetEntry &entry = m_sheets.at(i);
    const ByteCursor c(m_stream, m_what);
    auto sheet = std::make_unique<XlsSheet>();
    const uchar *data = reinterpret_cast<const uchar *>(m_stream.constData());
    Header h = header(c, entry.bof, m_what);
    if (h.type != biff::Bof || h.length < 4 || Body{data + h.body}.u16le(2) != 0x0010)
        throw EngineError::format(
            u"%1 is damaged: sheet %2 does not start where the workbook says (offset %3)",
            u"文件 %1 已损坏：工作表 %2 不在工作簿所说的位置（第 %3 个字节）开始", m_what, entry.name,
            entry.bof);
    std::vector<XlsCell> &cells = sheet->cells;
    cells.reserve(size_t(std::max<qint64>(0, m_stream.size() - entry.bof)) / 16);
    int depth = 1;
    qint64 pendingString = -1; // a formula cell waiting for its STRING record
    const auto cellAt = [&](const Header &r, XlsCell::Kind kind) -> XlsCell & {
        const Body rb{data + r.body};
        XlsCell &cell = cells.emplace_back();
        cell.row = rb.u16le(0);
        cell.col = rb.u16le(2);
        cell.xf = rb.u16le(4);
        cell.kind = kind;
        cell.offset = r.body - 4;
        cell.length = 4 + r.length;
        return cell;
    };
    for (qint64 at = h.next(); depth > 0;) {
        if (!c.has(at, 4))
            throw EngineError::format(
                u"%1 is damaged: sheet %2 has no end (EOF record); the file is truncated",
                u"文件 %1 已损坏：工作表 %2 没有结束记录（EOF），文件被截断了", m_what, entry.name);
        // header() without its checks of the 4 bytes just checked.
        h = {Body{data + at}.u16le(0), Body{data + at}.u16le(2), at + 4};
        if (h.next() > m_stream.size())
            h = header(c, at, m_what); // throws, naming the record
        at = h.next();
        const Body b{data + h.body};
        if (pendingString >= 0 && h.type != biff::String && h.type != 0x04BC && h.type != 0x0221 &&
            h.type != 0x0236 && h.type != biff::Continue) {
            // A text formula without its STRING record: its value is unknown.
            cells[size_t(pendingString)].kind = XlsCell::Kind::Error;
            pendingString = -1;
        }
        if (h.type == biff::Bof) {
            ++depth;
            continue;
        }
        if (h.type == biff::Eof) {
            --depth;
            continue;
        }
        if (depth > 1)
            continue; // an embedded chart's records
        switch (h.type) {
        case biff::Dimensions: sheet->dimensions = h.body - 4; break;
        case biff::Index: sheet->index = h.body - 4; break;
        case biff::DbCell: sheet->dbCells.push_back(h.body - 4); break;
        case biff::Row:
            if (h.length >= 6)
                sheet->rows.push_back({b.u16le(0), h.body - 4});
            break;
        case biff::ColInfo:
            if (h.length >= 8)
                sheet->colInfo.push_back({b.u16le(0), b.u16le(2), b.u16le(6)});
            break;
        case biff::LabelSst:
            if (h.length >= 10) {
                const quint32 isst = b.u32le(6);
                if (isst >= m_sst.starts.size())
                    throw EngineError::format(
                        u"%1 is damaged: cell %2 of sheet %3 refers to shared text %4, but there are only %5",
                        u"文件 %1 已损坏：工作表 %3 的单元格 %2 引用了第 %4 个共享字符串，但总共只有 %5 个",
                        m_what, QStringLiteral("R%1C%2").arg(b.u16le(0) + 1).arg(b.u16le(2) + 1), entry.name,
                        isst, m_sst.starts.size());
                cellAt(h, XlsCell::Kind::Text).text = qint32(isst);
            }
            break;
        case biff::Label:
        case biff::RString:
            if (h.length >= 9) {
                XlsCell &cell = cellAt(h, XlsCell::Kind::Text);
                cell.text = qint32(m_strings.size());
                m_strings.append(shortString(c, h.body + 6, h.next(), false));
            }
            break;
        case biff::Number:
            if (h.length >= 14)
                cellAt(h, XlsCell::Kind::Number).number = b.f64le(6);
            break;
        case biff::Rk:
            if (h.length >= 10)
                cellAt(h, XlsCell::Kind::Number).number = rkValue(b.u32le(6));
            break;
        case biff::BoolErr:
            if (h.length >= 8) {
                const bool error = b.u8(7) != 0;
                XlsCell &cell = cellAt(h, error ? XlsCell::Kind::Error : XlsCell::Kind::Boolean);
                cell.number = error ? 0 : (b.u8(6) != 0);
            }
            break;
        case biff::Blank:
            if (h.length >= 6)
                cellAt(h, XlsCell::Kind::Blank);
            break;
        case biff::MulRk:
        case biff::MulBlank: {
            const bool rk = h.type == biff::MulRk;
            const int each = rk ? 6 : 2;
            if (h.length < 6)
                break;
            const quint16 row = b.u16le(0);
            const quint16 first = b.u16le(2);
            const int n = (h.length - 6) / each;
            for (int k = 0; k < n; ++k) {
                XlsCell &cell = cells.emplace_back();
                cell.row = row;
                cell.col = quint16(first + k);
                cell.xf = b.u16le(4 + each * k);
                cell.kind = rk ? XlsCell::Kind::Number : XlsCell::Kind::Blank;
                if (rk)
                    cell.number = rkValue(b.u32le(6 + each * k));
                cell.record = rk ? XlsCell::Record::MulRk : XlsCell::Record::MulBlank;
                cell.offset = h.body - 4;
                cell.length = 4 + h.length;
            }
            break;
        }
        case biff::Formula:
            if (h.length >= 22) {
                XlsCell &cell = cellAt(h, XlsCell::Kind::Number);
                const quint8 ptg = h.length > 22 ? b.u8(22) : 0;
                cell.record =
                    ptg == 0x01 || ptg == 0x02 ? XlsCell::Record::SharedFormula : XlsCell::Record::Formula;
                if (b.u16le(12) == 0xFFFF) {
                    switch (b.u8(6)) {
                    case 0:
                        cell.kind = XlsCell::Kind::Text;
                        pendingString = qint64(cells.size()) - 1;
                        break;
                    case 1:
                        cell.kind = XlsCell::Kind::Boolean;
                        cell.number = b.u8(8) != 0;
                        break;
                    case 3:
                        cell.kind = XlsCell::Kind::Text;
                        cell.text = qint32(m_strings.size());
                        m_strings.append(QString());
                        break;
                    default: cell.kind = XlsCell::Kind::Error; break;
                    }
                } else {
                    cell.number = b.f64le(6);
                }
            }
            break;
        case biff::String:
            if (pendingString >= 0) {
                XlsCell &cell = cells[size_t(pendingString)];
                // The text may go on in CONTINUE records.
                std::vector<ContinuedReader::Segment> segments{{h.body, h.length, h.body - 4}};
                qint64 next = h.next();
                while (c.has(next, 4) && c.u16le(next) == biff::Continue) {
                    const Header k = header(c, next, m_what);
                    segments.push_back({k.body, k.length, next});
                    next = k.next();
                }
                ContinuedReader r(c, std::move(segments), m_what);
                const int cch = r.u16();
                const bool wide = r.u8() & 1;
                cell.text = qint32(m_strings.size());
                m_strings.append(r.chars(cch, wide));
                if (cell.offset + cell.length == h.body - 4)
                    cell.length = int(next - cell.offset);
                else
                    cell.record = XlsCell::Record::SharedFormula; // something stands between: leave it alone
                pendingString = -1;
                at = next;
            }
            break;
        default: break;
        }
    }
    sheet->end = h.next();
    const auto before = [](const XlsCell &a, const XlsCell &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before))
        std::stable_sort(cells.begin(), cells.end(), before);
    // Two records for one cell: the later one counts, as in Excel.
    const auto kept = std::unique(cells.rbegin(), cells.rend(), [](const XlsCell &a, const XlsCell &b) {
        return a.row == b.row && a.col == b.col;
    });
    cells.erase(cells.begin(), kept.base());
    const auto rowOrder = [](const XlsRow &a, const XlsRow &b) { return a.row < b.row; };
    if (!std::is_sorted(sheet->rows.begin(), sheet->rows.end(), rowOrder))
        std::sort(sheet->rows.begin(), sheet->rows.end(), rowOrder);
    const quint32 lastRow = cells.empty() ? 0 : cells.back().row;
    sheet->rowStart.assign(size_t(lastRow) + 2, quint32(cells.size()));
    for (size_t i = cells.size(); i-- > 0;)
        sheet->rowStart[cells[i].row] = quint32(i);
    for (size_t r = lastRow + 1; r-- > 0;)
        sheet->rowStart[r] = std::min(sheet->rowStart[r], sheet->rowStart[r + 1]);
    return sheet;
}

// ---- cell look-up --------------------------------------------------------

std::pair<size_t, size_t> XlsSheet::rowCells(quint32 row) const
{
    if (size_t(row) + 1 >= rowStart.size())
        return {cells.size(), cells.size()};
    return {rowStart[row], rowStart[size_t(row) + 1]};
}

const XlsCell *XlsSheet::cell(quint32 row, quint16 col) const
{
    const auto [from, to] = rowCells(row);
    for (size_t i = from; i < to; ++i)
        if (cells[i].col == col)
            return &cells[i];
    return nullptr;
}

const XlsRow *XlsSheet::rowRecord(quint32 row) const
{
    const auto it = std::lower_bound(rows.begin(), rows.end(), row,
                                     [](const XlsRow &r, quint32 key) { return r.row < key; });
    return it != rows.end() && it->row == row ? &*it : nullptr;
}

quint16 XlsSheet::columnXf(quint16 col) const
{
    for (const ColInfo &info : colInfo)
        if (col >= info.first && col <= info.last)
            return info.xf;
    return 15;
}

} // namespace lumora::engine
