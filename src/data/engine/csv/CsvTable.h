#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/csv/CsvLayout.h"

#include <memory>

namespace lumora::engine {

// The one table of a delimited text file, as a spreadsheet shows it: the
// used rows and columns (those holding a field with text), trailing blank
// lines and a trailing empty column left out; the first used row names the
// fields (F1, F2 ... where it is empty, "_2" for a repeat); record r is the
// used row r + 1 below it. A column's type is guessed from what its fields
// hold (CsvCell), the majority of its first 8 records deciding between
// numbers and amounts; a column whose records mix numbers, dates, booleans
// and texts is Text, so no field reads as Null. A Text column gives each
// field as written.
//
// update() rewrites the file (SafeReplace) with the one field's bytes
// changed and every other byte kept: byte-order mark, encoding, line
// breaks, the quoting of every other field, a trailing empty column. The
// new field is quoted only when it must be, and written in the file's
// encoding; a value the encoding has no form for is refused.
class CsvTable : public TableSource
{
public:
    // `path` is empty for a file read from memory, which cannot be written.
    // `named` is the code page the connect string or a .cpg file names;
    // `notes` what opening the file found worth saying besides the table's own.
    CsvTable(QString path, QString what, QString name, std::shared_ptr<const CsvLayout> layout,
             QByteArray named, QList<EngineNote> notes = {});

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return m_records; }
    Value value(qsizetype record, int field) const override;
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    void updateAll(const QList<CellChange> &changes) override;
    void checkUpdateAll(const QList<CellChange> &changes) const override;
    QList<EngineNote> notes() const override { return m_notes; }

    const CsvLayout &layout() const { return *m_layout; }

    // The file with `changes` made, read back; empty when it would not
    // change. Throws, as update() refuses, for a value the file cannot take
    // (but neither looks for lock files nor needs a file on disk).
    QByteArray rewritten(const QList<CellChange> &changes) const;

    // The text a value is written as: numbers in their shortest exact
    // form, dates as yyyy-MM-dd (and hh:mm:ss), booleans TRUE or FALSE.
    // Throws for bytes.
    QString fieldText(const Value &value, int field) const;

private:
    struct Edit;
    // The new file for the changes, read back; empty when nothing changes.
    QByteArray prepare(const QList<CellChange> &changes) const;
    QByteArray applyEdits(const QList<CellChange> &changes, bool quoteAll) const;
    // The change's field as the file spells it, quoted when it must be or
    // `quote` asks; throws for a character the encoding lacks.
    QByteArray fieldBytes(const CellChange &change, bool quote) const;
    // Throw unless the file is on disk, no office program has it open,
    // and its bytes are text of its encoding.
    void refuseUnlessWritable() const;
    void refuseUnlessFits() const;
    // Throws unless `file` reads as this file with `changes` made, every
    // other field as before; false when only its delimiter reads otherwise.
    bool readsBack(const QByteArray &file, const QList<CellChange> &changes) const;
    qsizetype row(qsizetype record) const { return m_firstRow + 1 + record; }

    QString m_path;
    QString m_what;
    QString m_name;
    QByteArray m_named;
    std::shared_ptr<const CsvLayout> m_layout;
    qsizetype m_firstRow = 0; // the header's record
    int m_firstCol = 0;
    QList<FieldInfo> m_fields;
    qsizetype m_records = 0;
    QList<EngineNote> m_notes;

    // What checkUpdateAll() prepared, for the updateAll() that follows it.
    struct Prepared
    {
        QList<CellChange> changes;
        std::shared_ptr<const CsvLayout> layout;
        QByteArray file;
    };
    mutable Prepared m_prepared;
};

} // namespace lumora::engine
