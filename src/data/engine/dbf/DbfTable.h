#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/TableSource.h"
#include "data/engine/dbf/DbfHeader.h"
#include "data/engine/dbf/DbfMemo.h"
#include "data/engine/dbf/DbfTextCodec.h"

#include <memory>
#include <optional>
#include <vector>

namespace lumora::engine {

// One dBase or FoxPro table. The .dbf is read into memory in one go when
// the table opens; memo blocks are read from their file when a value asks
// for them; values are decoded when asked for (DbfFieldCodec). update()
// writes one field straight into the file under a write lock (DbfFile).
class DbfTable : public TableSource
{
public:
    // Opens the .dbf at `path` as table `name`, with the memo file (.dbt or
    // .fpt) and the .cpg beside it, found in any letter case.
    static std::unique_ptr<DbfTable> open(const QString &path, const QString &name);
    // A table over bytes in memory; it cannot be written. `codecName`
    // overrides the language-driver byte, as a .cpg does.
    static std::unique_ptr<DbfTable> fromBytes(const QString &name, QByteArray dbf, QByteArray memo = {},
                                               const QByteArray &codecName = {});

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return qsizetype(m_live.size()); }
    Value value(qsizetype record, int field) const override;
    // The old engine compared the texts of dBase tables exactly: "ABC" and
    // "abc" are two people's keys, not one.
    Qt::CaseSensitivity textCase() const override { return Qt::CaseSensitive; }
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    QStringList notes() const override { return m_notes; }

    const DbfHeader &header() const { return m_header; }

    const QByteArray &codecName() const { return m_codec.name(); }

private:
    DbfTable(QString name, QString path, QByteArray bytes, const QByteArray &codecName);
    void attachMemo(QString memoPath, QByteArray memoBytes, DbfMemo::Kind kind);
    void checkIndex(qsizetype record, int field) const;
    // The error for a memo field whose memo file was not found beside the table.
    EngineError memoMissing() const;

    // What update() writes for a value, worked out before the file is touched.
    struct Prepared
    {
        QByteArray fieldBytes;  // the field's new bytes; for a memo, filled when the memo is appended
        QByteArray memo;        // a memo's data in the table's code page
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
    QString m_path;        // empty for a table read from memory
    QString m_memoPath;
    QByteArray m_bytes;    // the whole .dbf as read
    DbfTextCodec m_codec;
    DbfHeader m_header;
    QList<FieldInfo> m_fields;
    DbfMemo m_memo;
    std::vector<qint64> m_live;  // file offset of each live record, in file order
    QStringList m_notes;
    int m_unknownDriver = -1;    // the language-driver byte when it names no known code page and no .cpg does
};

} // namespace lumora::engine
