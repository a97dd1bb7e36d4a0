#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>

namespace lumora::engine {

// The memo file of a table: a dBase .dbt or a FoxPro .fpt. Blocks are read
// when a value asks for them, from the file or from bytes in memory, so a
// memo file of any size costs no more memory than the memo being read.
//
// .dbt header (512 bytes): 0-3 next free block (LE); 20-21 block size (LE,
// dBase IV; 0 on dBase III, which always uses 512). A dBase III block holds
// text ending at 0x1A; a dBase IV block starts FF FF 08 00, then the length
// (LE, these 8 bytes included), then the data.
// .fpt header (512 bytes): 0-3 next free block (BE); 6-7 block size (BE).
// Each memo starts a block with its type (4 bytes BE: 0 picture, 1 text,
// 2 object) and data length (4 bytes BE), then the data.
class DbfMemo
{
public:
    enum class Kind {
        Dbt,
        Fpt
    };

    DbfMemo() = default;
    // A memo file held in `bytes`; `dbase4` says a .dbt gets dBase IV block
    // headers when written. Throws EngineError naming `what` on a damaged header.
    DbfMemo(Kind kind, QByteArray bytes, bool dbase4, QString what);
    // The memo file at `path`, kept open and read block by block.
    DbfMemo(Kind kind, const QString &path, bool dbase4, QString what);

    bool isPresent() const { return m_present; }
    Kind kind() const { return m_kind; }
    quint32 blockSize() const { return m_blockSize; }
    // The memo file's size now, in bytes.
    qint64 size() const;
    // dBase III style: text ends at 0x1A, so it cannot hold that byte.
    bool usesEndMarker() const { return m_kind == Kind::Dbt && !m_dbase4; }

    // The data of the memo that starts at `block`. Throws EngineError when
    // the block lies outside the file or its length runs past the end; a
    // length is checked against the file's real size before any memory is
    // set aside for it.
    QByteArray read(quint32 block) const;

    // The bytes of a new memo holding `data`, padded to whole blocks, as it
    // is written at a block boundary. `type` is the .fpt block type.
    QByteArray encode(QByteArrayView data, quint32 type) const;
    // The header bytes that record `nextFree` as the next free block, and
    // the offset at which they go.
    QByteArray encodeNextFree(quint32 nextFree) const;
    static constexpr qint64 nextFreeOffset() { return 0; }
    // The next free block recorded in a memo file's first bytes.
    static quint32 nextFreeIn(Kind kind, QByteArrayView header);

    // Where the blocks come from: a file or bytes in memory.
    class Source;

private:
    void readHeader();

    Kind m_kind = Kind::Dbt;
    std::shared_ptr<const Source> m_source;
    QString m_what;
    quint32 m_blockSize = 512;
    bool m_dbase4 = false;
    bool m_present = false;
};

} // namespace lumora::engine
