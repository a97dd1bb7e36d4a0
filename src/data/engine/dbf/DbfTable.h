#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/TableSource.h"
#include "data/engine/dbf/DbfHeader.h"
#include "data/engine/dbf/DbfMemo.h"
#include "data/engine/text/CodePage.h"

#include <memory>
#include <optional>
#include <vector>

namespace lumora::engine {

class LockedFile;

// One dBase or FoxPro table. Opening reads the header and passes once over
// the deletion flags; records are then read from the .dbf when a value asks
// for them, a block of records at a time, so a table of any size costs
// about one block of memory (and 4 bytes per live record when some are
// deleted). Memo blocks are read from their file the same way; values are
// decoded when asked for (DbfFieldCodec). update() writes one field straight
// into the file under a write lock (LockedFile). Reading fills the block, so
// one table must not be read from two threads at once.
class DbfTable : public TableSource
{
public:
    ~DbfTable() override;
    // Opens the .dbf at `path` as table `name`, with the memo file (.dbt or
    // .fpt) and the .cpg beside it, found in any letter case.
    static std::unique_ptr<DbfTable> open(const QString &path, const QString &name);
    // A table over bytes in memory; it cannot be written. `codecName`
    // overrides the language-driver byte, as a .cpg does.
    static std::unique_ptr<DbfTable> fromBytes(const QString &name, QByteArray dbf, QByteArray memo = {},
                                               const QByteArray &codecName = {});

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return qsizetype(m_liveCount); }
    Value value(qsizetype record, int field) const override;
    void recordTexts(qsizetype record, QStringList &texts) const override;
    std::optional<QByteArray> fieldBytes(int field) const override;
    // The old engine compared the texts of dBase tables exactly: "ABC" and
    // "abc" are two people's keys, not one.
    Qt::CaseSensitivity textCase() const override { return Qt::CaseSensitive; }
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    // Locks the whole .dbf (see LockedFile) and reads its header and deletion
    // flags again: records another program appended, deleted, moved or
    // packed away while this one waited are seen as they are now. Values
    // are read and update() writes through the locked file until the hold
    // is gone. Null for a file that cannot be written.
    std::unique_ptr<UpdateHold> holdForUpdate() override;
    QList<EngineNote> notes() const override { return m_notes; }

    const DbfHeader &header() const { return m_header; }

    const QByteArray &codecName() const { return m_codec.name(); }

private:
    class Hold;

    DbfTable(QString name, QString path);
    // Reads the header and the deletion flags from m_file or m_memoryBytes.
    void load(const QByteArray &codecName);
    // The header's first bytes, through the field descriptors, from `file`
    // (m_memoryBytes when null).
    QByteArray readHead(const LockedFile *file) const;
    // One pass over the deletion flags: m_present, m_liveCount, m_live.
    void scanRecords();
    // Under the hold: the header and the deletion flags as they are now.
    void reload();
    // Ends the hold: unlocks the file and goes on reading from it.
    void releaseHold() noexcept;
    // The file values are read from: the locked one while the hold lasts.
    const LockedFile &source() const { return m_held ? *m_held : *m_file; }
    EngineError changedError() const;
    QString what() const;
    // Where record `physical` (counting deleted ones) starts in the file.
    qint64 recordOffset(quint32 physical) const;
    // The file's record number of live record `record`.
    quint32 physical(qsizetype record) const;
    // The bytes of record `physical`, valid until the next call; throws when
    // the file has become shorter since it was opened.
    QByteArrayView recordAt(quint32 physical) const;
    void attachMemo(QString memoPath, QByteArray memoBytes, DbfMemo::Kind kind);
    // Throws when the table has changed so that it must be opened again, or
    // has no such record or field.
    void checkUsable(qsizetype record, int field) const;
    // The error for a memo field whose memo file was not found beside the table.
    EngineError memoMissing() const;

    // What update() writes for a value, worked out before the file is touched.
    struct Prepared
    {
        QByteArray fieldBytes; // the field's new bytes; for a memo, filled when the memo is appended
        QByteArray memo;       // a memo's data in the table's code page
        bool isNull = false;
        int varLength = -1;
    };
    Prepared prepareUpdate(qsizetype record, int field, const Value &v) const;
    QByteArray memoData(const DbfField &f, const Value &v) const;
    qint64 memoStart(qint64 fileSize) const;
    // The record's pointer to a memo of `blocks` blocks at `start`; throws
    // when the memo file or the field has no room for the number.
    QByteArray memoPointer(const DbfField &f, qint64 start, qint64 blocks) const;
    // Writes `data` as a new memo and returns the pointer to it.
    QByteArray appendMemo(const DbfField &f, QByteArrayView data);

    QString m_name;
    QString m_path; // empty for a table read from memory
    QString m_memoPath;
    std::unique_ptr<LockedFile> m_file; // the open .dbf; null for a table read from memory
    std::unique_ptr<LockedFile> m_held; // the .dbf opened again and locked, while a hold lasts
    bool m_changed = false;             // the file changed so that it must be opened again
    QByteArray m_memoryBytes;           // the whole .dbf of a table read from memory
    QByteArray m_prologue;              // the header's first 12 bytes as read, to notice another writer
    mutable QByteArray m_block;         // records read ahead from m_file
    mutable quint32 m_blockFirst = 0;   // the file's record number of the first of them
    mutable quint32 m_blockRecords = 0;
    CodePage m_codec;
    DbfHeader m_header;
    QList<FieldInfo> m_fields;
    DbfMemo m_memo;
    quint32 m_present = 0;       // records present in full in the file, deleted ones included
    quint32 m_liveCount = 0;     // of those, the live ones
    std::vector<quint32> m_live; // the file's record number of each live record; empty while none is deleted
    QList<EngineNote> m_notes;
    int m_unknownDriver = -1; // the language-driver byte when it names no known code page and no .cpg does
};

} // namespace lumora::engine
