#include "data/engine/dbf/DbfMemo.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"
#include "data/engine/io/LockedFile.h"

#include <algorithm>
#include <new>

namespace lumora::engine {

class DbfMemo::Source
{
public:
    virtual ~Source() = default;
    // The size now: another program, or this one, may have appended since.
    virtual qint64 size() const = 0;
    // Up to `length` bytes at `offset`; fewer at the end of the file.
    virtual QByteArray read(qint64 offset, qint64 length) const = 0;
};

namespace {

class BytesSource : public DbfMemo::Source
{
public:
    explicit BytesSource(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    qint64 size() const override { return m_bytes.size(); }
    QByteArray read(qint64 offset, qint64 length) const override
    {
        if (offset < 0 || offset >= m_bytes.size() || length <= 0)
            return {};
        return m_bytes.mid(offset, std::min(length, m_bytes.size() - offset));
    }

private:
    QByteArray m_bytes;
};

// A read-only descriptor, closed with the last table that uses it.
class FileSource : public DbfMemo::Source
{
public:
    FileSource(const QString &path, const QString &what)
        : m_file(path, what, LockedFile::Mode::Read)
    {
    }

    qint64 size() const override { return m_file.size(); }
    QByteArray read(qint64 offset, qint64 length) const override
    {
        length = std::min(length, size() - offset);
        if (offset < 0 || length <= 0)
            return {};
        QByteArray out;
        try {
            out.resize(length);
        } catch (const std::bad_alloc &) {
            throw EngineError::format(u"%1: a memo of %2 bytes is too large to read",
                                      u"文件 %1 中有一条 %2 个字节的备注，太大，读不进来", m_file.what(),
                                      length);
        }
        out.truncate(m_file.read(offset, out.data(), length));
        return out;
    }

private:
    LockedFile m_file;
};

} // namespace

DbfMemo::DbfMemo(Kind kind, QByteArray bytes, bool dbase4, QString what)
    : m_kind(kind)
    , m_source(std::make_shared<BytesSource>(std::move(bytes)))
    , m_what(std::move(what))
    , m_dbase4(dbase4)
    , m_present(true)
{
    readHeader();
}

DbfMemo::DbfMemo(Kind kind, const QString &path, bool dbase4, QString what)
    : m_kind(kind)
    , m_what(std::move(what))
    , m_dbase4(dbase4)
    , m_present(true)
{
    m_source = std::make_shared<FileSource>(path, m_what);
    readHeader();
}

void DbfMemo::readHeader()
{
    const QByteArray head = m_source->read(0, 22);
    const ByteCursor in(head, m_what);
    if (head.size() < 8)
        throw EngineError::format(u"%1 is damaged: a memo file cannot be only %2 bytes long",
                                  u"文件 %1 已损坏：备注文件不可能只有 %2 个字节", m_what, head.size());
    if (m_kind == Kind::Fpt) {
        m_blockSize = in.u16be(6);
        if (m_blockSize == 0)
            throw EngineError::format(u"%1 is damaged: its memo block size is 0",
                                      u"文件 %1 已损坏：备注块大小是 0", m_what);
    } else {
        const quint32 stated = in.has(20, 2) ? in.u16le(20) : 0;
        m_blockSize = (stated != 0 && stated % 64 == 0) ? stated : 512;
    }
}

qint64 DbfMemo::size() const
{
    return m_source ? m_source->size() : 0;
}

QByteArray DbfMemo::read(quint32 block) const
{
    const qint64 size = m_source->size();
    const qint64 start = qint64(block) * m_blockSize;
    if (block == 0 || start >= size)
        throw EngineError::format(u"%1 is damaged: a record points to memo block %2, outside the file",
                                  u"文件 %1 已损坏：有记录指向文件之外的备注块 %2", m_what, block);
    const auto tooLong = [&](quint32 length) {
        return EngineError::format(u"%1 is damaged: memo block %2 says %3 bytes, more than the file holds",
                                   u"文件 %1 已损坏：备注块 %2 说有 %3 个字节，比文件里剩下的多", m_what,
                                   block, length);
    };
    const QByteArray head = m_source->read(start, 8);
    const ByteCursor in(head, m_what);
    if (m_kind == Kind::Fpt) {
        const quint32 length = in.u32be(4);
        if (qint64(length) > size - start - 8)
            throw tooLong(length);
        const QByteArray data = m_source->read(start + 8, length);
        if (data.size() != qint64(length))
            throw tooLong(length);
        return data;
    }
    if (in.has(0, 8) && in.u32le(0) == 0x0008FFFFu) {
        const quint32 length = in.u32le(4);
        if (length < 8)
            return {};
        if (qint64(length) - 8 > size - start - 8)
            throw tooLong(length);
        const QByteArray data = m_source->read(start + 8, length - 8);
        if (data.size() != qint64(length) - 8)
            throw tooLong(length);
        return data;
    }
    // dBase III: the text runs to the 0x1A end mark (or the end of the file).
    constexpr qint64 kChunk = 64 * 1024;
    QByteArray text;
    for (qint64 at = start; at < size; at += kChunk) {
        const QByteArray chunk = m_source->read(at, kChunk);
        const qsizetype end = chunk.indexOf('\x1A');
        if (end >= 0) {
            text.append(chunk.first(end));
            return text;
        }
        text.append(chunk);
        if (chunk.size() < kChunk)
            break;
    }
    return text;
}

QByteArray DbfMemo::encode(QByteArrayView data, quint32 type) const
{
    QByteArray out;
    if (m_kind == Kind::Fpt) {
        out.resize(8);
        ByteWriter(out).be32(0, type).be32(4, quint32(data.size()));
        out.append(data);
    } else if (m_dbase4) {
        out.resize(8);
        ByteWriter(out).le32(0, 0x0008FFFFu).le32(4, quint32(data.size() + 8));
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
        ByteWriter(out).be32(0, nextFree);
    else
        ByteWriter(out).le32(0, nextFree);
    return out;
}

quint32 DbfMemo::nextFreeIn(Kind kind, QByteArrayView header)
{
    const ByteCursor in(header, QStringLiteral("memo header"));
    return kind == Kind::Fpt ? in.u32be(0) : in.u32le(0);
}

} // namespace lumora::engine
