#pragma once

#include "data/engine/EngineError.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <cstring>

namespace lumora::engine {

// Bounds-checked reads from a block of bytes. Every integer is assembled from
// unsigned bytes with shifts, so the host's byte order and alignment never
// matter. A read past the end throws an EngineError naming `what` (usually
// the file) and the offending offset.
class ByteCursor
{
public:
    ByteCursor(QByteArrayView bytes, QString what)
        : m_bytes(bytes)
        , m_what(std::move(what))
    {
    }

    qsizetype size() const { return m_bytes.size(); }
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && length <= m_bytes.size() && offset <= m_bytes.size() - length;
    }
    // The `length` bytes at `offset`; throws when they are not all there.
    QByteArrayView view(qint64 offset, qint64 length) const
    {
        require(offset, length);
        return m_bytes.sliced(offset, length);
    }
    quint8 u8(qint64 offset) const
    {
        require(offset, 1);
        return byteAt(offset);
    }
    quint16 u16le(qint64 offset) const
    {
        require(offset, 2);
        return quint16(byteAt(offset) | byteAt(offset + 1) << 8);
    }
    quint32 u32le(qint64 offset) const
    {
        require(offset, 4);
        return quint32(byteAt(offset)) | quint32(byteAt(offset + 1)) << 8 |
               quint32(byteAt(offset + 2)) << 16 | quint32(byteAt(offset + 3)) << 24;
    }
    quint32 u32be(qint64 offset) const
    {
        require(offset, 4);
        return quint32(byteAt(offset)) << 24 | quint32(byteAt(offset + 1)) << 16 |
               quint32(byteAt(offset + 2)) << 8 | quint32(byteAt(offset + 3));
    }
    quint16 u16be(qint64 offset) const
    {
        require(offset, 2);
        return quint16(byteAt(offset) << 8 | byteAt(offset + 1));
    }
    quint64 u64le(qint64 offset) const
    {
        require(offset, 8);
        return quint64(u32le(offset)) | quint64(u32le(offset + 4)) << 32;
    }
    qint32 i32le(qint64 offset) const { return qint32(u32le(offset)); }
    qint64 i64le(qint64 offset) const { return qint64(u64le(offset)); }
    double f64le(qint64 offset) const
    {
        const quint64 bits = u64le(offset);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

private:
    quint8 byteAt(qint64 offset) const { return quint8(m_bytes.data()[offset]); }
    void require(qint64 offset, qint64 length) const
    {
        if (!has(offset, length))
            throw EngineError::format(
                u"%1 is damaged: it ends before offset %2 (%3 bytes needed, %4 present)",
                u"文件 %1 已损坏：内容在第 %2 个字节之前就结束了（需要 %3 个字节，只有 %4 个）", m_what,
                offset + length, length, m_bytes.size());
    }

    QByteArrayView m_bytes;
    QString m_what;
};

} // namespace lumora::engine
