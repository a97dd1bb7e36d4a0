#pragma once
// What the workbook and sheet readers share: reading a record's header and
// body out of the workbook stream, strings inside a record and across its
// CONTINUE records, RK numbers.

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/xls/XlsWorkbook.h"

#include <QString>
#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>

namespace lumora::engine::xlsrecords {

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

inline Header header(const ByteCursor &c, qint64 at, const QString &what)
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
inline QString shortString(const ByteCursor &c, qint64 at, qint64 end, bool byteCount)
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

[[noreturn]] inline void cannotOpen(const QString &what, const QString &why, const QString &chinese)
{
    throw EngineError(QStringLiteral("%1 cannot be opened: %2").arg(what, why),
                      QStringLiteral("无法打开 %1：%2").arg(what, chinese));
}

inline double rkValue(quint32 rk)
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

} // namespace lumora::engine::xlsrecords
