#include "data/engine/dbf/DbfMemo.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/ByteCursor.h"

namespace lumora::engine {

namespace {

void putBe32(char *p, quint32 v)
{
    p[0] = char(v >> 24);
    p[1] = char(v >> 16);
    p[2] = char(v >> 8);
    p[3] = char(v);
}

void putLe32(char *p, quint32 v)
{
    p[0] = char(v);
    p[1] = char(v >> 8);
    p[2] = char(v >> 16);
    p[3] = char(v >> 24);
}

} // namespace

DbfMemo::DbfMemo(Kind kind, QByteArray bytes, bool dbase4, QString what)
    : m_kind(kind), m_bytes(std::move(bytes)), m_what(std::move(what)), m_dbase4(dbase4), m_present(true)
{
    const ByteCursor in(m_bytes, m_what);
    if (m_bytes.size() < 8)
        throw EngineError(QStringLiteral("%1 is damaged: a memo file cannot be only %2 bytes long")
                              .arg(m_what)
                              .arg(m_bytes.size()));
    if (kind == Kind::Fpt) {
        m_blockSize = in.u16be(6);
        if (m_blockSize == 0)
            throw EngineError(QStringLiteral("%1 is damaged: its memo block size is 0").arg(m_what));
    } else {
        const quint32 stated = in.has(20, 2) ? in.u16le(20) : 0;
        m_blockSize = (stated != 0 && stated % 64 == 0) ? stated : 512;
    }
}

QByteArray DbfMemo::read(quint32 block) const
{
    const ByteCursor in(m_bytes, m_what);
    const qint64 start = qint64(block) * m_blockSize;
    if (block == 0 || start >= m_bytes.size())
        throw EngineError(QStringLiteral("%1 is damaged: a record points to memo block %2, outside the file")
                              .arg(m_what)
                              .arg(block));
    if (m_kind == Kind::Fpt) {
        const quint32 length = in.u32be(start + 4);
        if (qint64(length) > m_bytes.size() - start - 8)
            throw EngineError(QStringLiteral("%1 is damaged: memo block %2 says %3 bytes, more than the file holds")
                                  .arg(m_what)
                                  .arg(block)
                                  .arg(length));
        return in.view(start + 8, length).toByteArray();
    }
    if (in.has(start, 8) && in.u32le(start) == 0x0008FFFFu) {
        const quint32 length = in.u32le(start + 4);
        if (length < 8)
            return {};
        if (qint64(length) - 8 > m_bytes.size() - start - 8)
            throw EngineError(QStringLiteral("%1 is damaged: memo block %2 says %3 bytes, more than the file holds")
                                  .arg(m_what)
                                  .arg(block)
                                  .arg(length));
        return in.view(start + 8, length - 8).toByteArray();
    }
    // dBase III: the text runs to the 0x1A end mark (or the end of the file).
    qsizetype end = m_bytes.indexOf('\x1A', start);
    if (end < 0)
        end = m_bytes.size();
    return m_bytes.sliced(start, end - start);
}

QByteArray DbfMemo::encode(QByteArrayView data, quint32 type) const
{
    QByteArray out;
    if (m_kind == Kind::Fpt) {
        out.resize(8);
        putBe32(out.data(), type);
        putBe32(out.data() + 4, quint32(data.size()));
        out.append(data);
    } else if (m_dbase4) {
        out.resize(8);
        putLe32(out.data(), 0x0008FFFFu);
        putLe32(out.data() + 4, quint32(data.size() + 8));
        out.append(data);
    } else {
        out.append(data);
        out.append("\x1A\x1A", 2);
    }
    const qint64 padded = (out.size() + m_blockSize - 1) / m_blockSize * m_blockSize;
    out.append(QByteArray(padded - out.size(), '\0'));
    return out;
}

QByteArray DbfMemo::encodeNextFree(quint32 nextFree) const
{
    QByteArray out(4, '\0');
    if (m_kind == Kind::Fpt)
        putBe32(out.data(), nextFree);
    else
        putLe32(out.data(), nextFree);
    return out;
}

quint32 DbfMemo::nextFreeIn(Kind kind, QByteArrayView header)
{
    const ByteCursor in(header, QStringLiteral("memo header"));
    return kind == Kind::Fpt ? in.u32be(0) : in.u32le(0);
}

} // namespace lumora::engine
