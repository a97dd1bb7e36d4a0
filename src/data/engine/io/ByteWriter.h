#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace lumora::engine {

// Writes integers into a block of bytes at given offsets, byte by byte with
// shifts, so the host's byte order and alignment never matter: the writing
// half of ByteCursor. The block has its final size before it is written
// into; an offset outside it is a fault of the caller, caught by assertions.
//
//     QByteArray out(8, '\0');
//     ByteWriter(out).le32(0, julianDay).le32(4, milliseconds);
class ByteWriter
{
public:
    explicit ByteWriter(QByteArray &bytes)
        : m_bytes(bytes)
    {
    }

    ByteWriter &u8(qsizetype offset, quint8 v)
    {
        Q_ASSERT(offset >= 0 && offset < m_bytes.size());
        m_bytes[offset] = char(v);
        return *this;
    }
    ByteWriter &le16(qsizetype offset, quint16 v) { return le(offset, v, 2); }
    ByteWriter &le32(qsizetype offset, quint32 v) { return le(offset, v, 4); }
    ByteWriter &le64(qsizetype offset, quint64 v) { return le(offset, v, 8); }
    ByteWriter &be32(qsizetype offset, quint32 v) { return be(offset, v, 4); }

    // Appends `v` to the end of `bytes`, least significant byte first: for a
    // record built up field by field rather than laid out in a block.
    //
    //     QByteArray record;
    //     ByteWriter::appendLe16(record, type);
    //     ByteWriter::appendLe16(record, quint16(body.size()));
    static void appendLe16(QByteArray &bytes, quint16 v) { append(bytes, v, 2); }
    static void appendLe32(QByteArray &bytes, quint32 v) { append(bytes, v, 4); }
    static void appendLe64(QByteArray &bytes, quint64 v) { append(bytes, v, 8); }

private:
    static void append(QByteArray &bytes, quint64 v, int width)
    {
        const qsizetype at = bytes.size();
        bytes.resize(at + width);
        ByteWriter(bytes).le(at, v, width);
    }
    ByteWriter &le(qsizetype offset, quint64 v, int width)
    {
        Q_ASSERT(offset >= 0 && offset + width <= m_bytes.size());
        char *p = m_bytes.data() + offset;
        for (int i = 0; i < width; ++i)
            p[i] = char(v >> (8 * i));
        return *this;
    }
    ByteWriter &be(qsizetype offset, quint64 v, int width)
    {
        Q_ASSERT(offset >= 0 && offset + width <= m_bytes.size());
        char *p = m_bytes.data() + offset;
        for (int i = 0; i < width; ++i)
            p[i] = char(v >> (8 * (width - 1 - i)));
        return *this;
    }

    QByteArray &m_bytes;
};

} // namespace lumora::engine
