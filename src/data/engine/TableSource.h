#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/Value.h"

#include <QList>
#include <QStringList>
#include <memory>
#include <optional>

namespace lumora::engine {

// What the engine knows of one field of a table.
struct FieldInfo
{
    QString name;       // as the file spells it
    qint16 daoType = 0; // DaoType code
    int width = 0;      // bytes or characters the format allows; 0 when unbounded
    int decimals = 0;
    bool nullable = false;
};

// One field of one record to take a new value: one of an update
// statement's changes.
struct CellChange
{
    qsizetype record = 0;
    int field = 0;
    Value value;
    friend bool operator==(const CellChange &, const CellChange &) = default;
};

// One table of a data file, opened by a backend. Records are numbered from 0
// over the live records only (deleted ones are never seen). Every method
// throws EngineError on a damaged file or a bad argument.
class TableSource
{
public:
    virtual ~TableSource() = default;
    virtual QString name() const = 0;
    virtual const QList<FieldInfo> &fields() const = 0;
    virtual qsizetype recordCount() const = 0;
    virtual Value value(qsizetype record, int field) const = 0;
    // Every field's value of the record as text (Value::toText), into
    // texts[0 .. fields - 1]; `texts` has a place for each field. A backend
    // may read the record once for all of them.
    virtual void recordTexts(qsizetype record, QStringList &texts) const
    {
        for (int f = 0; f < fields().size(); ++f)
            texts[f] = value(record, f).toText();
    }
    // How "=" and "select distinct" treat letter case in this table's texts.
    virtual Qt::CaseSensitivity textCase() const { return Qt::CaseInsensitive; }
    // The bytes that decide the field's value in every record, in record
    // order, as the file holds them now: two calls return equal bytes only
    // when no record's value of the field differs between them. Nothing
    // where the backend cannot tell that cheaply (a value kept elsewhere,
    // as in a memo file).
    virtual std::optional<QByteArray> fieldBytes(int field) const
    {
        Q_UNUSED(field);
        return std::nullopt;
    }
    // Writes one field of one record in place. Refuses (throws) a value the
    // field cannot hold exactly (too long, wrong type, not encodable); the
    // file is locked while written and flushed before the call returns.
    virtual void update(qsizetype record, int field, const Value &value) = 0;
    // Throws, without touching the file, exactly when update() would refuse
    // `value` for that field and record (its width, type, code page, a
    // missing memo file ...). A statement checks every value this way before
    // its first write, so a refused statement writes nothing.
    virtual void checkUpdate(qsizetype record, int field, const Value &value) const = 0;
    // All of one statement's changes, grouped by record in file order, the
    // way update() and checkUpdate() make one. The defaults take them one
    // at a time; a backend that rewrites the whole file for a change
    // overrides both to rewrite it once. When a write fails after some
    // records were written, updateAll() throws an error that says how many
    // (and never with Code::Changed, which promises that nothing was).
    virtual void updateAll(const QList<CellChange> &changes);
    virtual void checkUpdateAll(const QList<CellChange> &changes) const;
    // Keeps other programs from changing the table until the returned
    // object is gone, and reads the records again under that hold, so that
    // an update statement matches and writes the records as they are then
    // (a dBase table: a lock on the whole file, waited for as update()
    // waits). An update statement takes it before it matches. Null where
    // the backend needs none. Throws EngineError when the hold cannot be
    // had, or the table has changed so that it must be opened again.
    struct UpdateHold
    {
        virtual ~UpdateHold() = default;
    };
    virtual std::unique_ptr<UpdateHold> holdForUpdate() { return nullptr; }
    // What a person checking the file should know although it opened: a
    // header that promised more records than the file holds, a code page
    // guessed. One sentence each, naming the file, in English and Chinese.
    virtual QList<EngineNote> notes() const { return {}; }

protected:
    // Throws, naming the table, unless `record` is below `records` and
    // `field` below `fields`: what value() and update() check first.
    void checkIndex(qsizetype record, qsizetype records, int field, qsizetype fields) const
    {
        if (record < 0 || record >= records || field < 0 || field >= fields)
            refuseIndex(record, records, field, fields);
    }

private:
    [[noreturn]] void refuseIndex(qsizetype record, qsizetype records, int field, qsizetype fields) const;
};

// One data file (or, for dBase and FoxPro, one folder of tables).
class Backend
{
public:
    virtual ~Backend() = default;
    virtual QStringList tableNames() const = 0;
    // Table names compare without regard to letter case, except that an
    // exact spelling wins, and a name two tables answer to is refused.
    virtual std::unique_ptr<TableSource> openTable(const QString &name) = 0;
};

} // namespace lumora::engine
