#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/mdb/JetFile.h"
#include "data/engine/mdb/JetRow.h"
#include "data/engine/mdb/JetTableDef.h"

#include <memory>
#include <optional>
#include <vector>

namespace lumora::engine {

// One table of an Access database. Opening reads its definition and walks
// its data pages once, listing where each live row lies (a moved row where
// it lives now); values are decoded from the pages when asked for. update()
// rewrites one text or memo field of one row under a lock on the file:
// in place when the row keeps its length, with the page repacked when the
// page has room, else moved to another page of the table with a pointer
// left in its slot, as Jet itself moves rows. A row written before columns
// were added grows to hold them. When another writer changed the pages
// between the reading and the lock, the table is read again and the change
// made again if the record is unchanged. One table must not be read from
// two threads at once.
//
// A move writes two pages: first the new copy, flagged as the target of a
// move (Access and Lumora show it only through the pointer), then the
// pointer. libmdb and mdb-reader show a row unless it is flagged "moved"
// and never follow pointers, so no flag hides the new copy from them and
// lets Access follow the pointer to it: a writer stopped between the two
// writes leaves a copy that they show beside the old row. Lumora hides
// such an orphan (no pointer names it), and the next write marks it
// deleted (both flags, as Access deletes rows) and frees its bytes.
class MdbTable : public TableSource
{
public:
    // `notes`: what the database noted, to pass on with the table's own.
    MdbTable(std::shared_ptr<JetFile> db, QString name, quint32 definitionPage, QList<EngineNote> notes);

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return qsizetype(m_records.size()); }
    Value value(qsizetype record, int field) const override;
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    QList<EngineNote> notes() const override { return m_notes; }

    const JetTableDef &definition() const { return m_def; }
    const std::shared_ptr<JetFile> &file() const { return m_db; }
    // The data pages of the table, as its page map lists them.
    const std::vector<quint32> &dataPages() const { return m_dataPages; }
    // Records the definition counts that were not found (a file cut short).
    qsizetype missingRecords() const { return m_missing; }
    // Rows an interrupted move left behind: hidden, and reclaimed by the
    // next write. Each a page-row.
    const std::vector<quint32> &orphans() const { return m_orphans; }

    // What update() writes, worked out without writing.
    struct Plan
    {
        std::vector<JetFile::PageWrite> pages;
        std::vector<quint32> read; // pages the plan was worked out from
        bool moved = false;        // the row went to another page
    };
    Plan plan(qsizetype record, int field, const Value &value) const;

private:
    // Where one live row is: its slot, and where its bytes are (another
    // page's slot when the row was moved).
    struct Record
    {
        quint32 page;
        quint32 dataPage;
        quint16 slot;
        quint16 dataSlot;
        quint16 start; // of the bytes on dataPage
        quint16 length;
    };
    void loadRecords();
    // Picks the code page of the table's Jet 3 text, when the database's
    // was only assumed: its names and texts must all be text in it.
    void chooseCodec();
    // The file and table, as messages name them.
    const QString &what() const { return m_what; }
    const JetRow &cracked(qsizetype record) const;
    // A Memo or OLE field's bytes, wherever they are kept.
    QByteArray longValue(QByteArrayView field, qsizetype record) const;
    // The new bytes of the field (nothing for Null), or throws when the
    // value cannot be written exactly.
    std::optional<QByteArray> encodeField(const JetColumn &column, const Value &value) const;
    // Refuses writes into a table of a file cut short.
    void checkWhole() const;
    // Whether page `n` is one of the table's, left unlisted at the end of
    // the file by a writer stopped before it listed it.
    bool leftAtEnd(quint32 n) const;
    void checkLockFile() const;

    std::shared_ptr<JetFile> m_db;
    QString m_name;
    QString m_what;
    JetTableDef m_def;
    QList<FieldInfo> m_fields;
    std::vector<quint32> m_dataPages;
    std::vector<Record> m_records;
    std::vector<quint32> m_orphans;
    bool m_foreignNoted = false; // the page map's foreign pages are noted once
    qsizetype m_missing = 0;
    quint32 m_pagesPastEnd = 0;
    const CodePage *m_codec = nullptr; // of Jet 3 text: the database's, or its fallback
    QList<EngineNote> m_notes;
    mutable qsizetype m_crackedRecord = -1;
    mutable JetRow m_crackedRow;
};

// Whether another program has the database at `mdbPath` open: its lock
// file (the same name with .ldb, any letter case) exists and some process
// holds a lock on it. A lock file nobody holds is what a program that
// stopped without cleaning up leaves behind, and does not count.
bool mdbOpenElsewhere(const QString &mdbPath, QString *lockFile = nullptr);

} // namespace lumora::engine
