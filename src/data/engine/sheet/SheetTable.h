#pragma once

#include "data/engine/TableSource.h"

#include <memory>

namespace lumora::engine {

// A rectangle of sheet `sheet`; rows and columns 0-based, inclusive.
struct SheetArea
{
    int sheet = 0;
    quint32 firstRow = 0, lastRow = 0;
    quint16 firstCol = 0, lastCol = 0;
    bool empty = true; // no cell holds a value
};

// What the .xls and .xlsx tables share: their workbook, name, area, fields
// and record count, and the write. A write is one new file for all of a
// statement's cells, made by the format's prepare(); checkUpdateAll() keeps
// the file it made for the updateAll() that follows it with the same
// changes, while the workbook has not changed in between. `Book` gives
// generation() and writeFile().
template <typename Book> class SheetTable : public TableSource
{
public:
    using Area = SheetArea;

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return m_records; }

    void checkUpdate(qsizetype record, int field, const Value &value) const override
    {
        checkUpdateAll({{record, field, value}});
    }
    void update(qsizetype record, int field, const Value &value) override
    {
        updateAll({{record, field, value}});
    }
    void checkUpdateAll(const QList<CellChange> &changes) const override
    {
        QByteArray file = prepare(changes);
        m_prepared = {changes, m_book->generation(), std::move(file)};
    }
    void updateAll(const QList<CellChange> &changes) override
    {
        QByteArray file;
        if (m_prepared.generation == m_book->generation() && m_prepared.changes == changes)
            file = std::move(m_prepared.file);
        else
            file = prepare(changes);
        m_prepared = {};
        if (!file.isEmpty())
            m_book->writeFile(file);
    }

protected:
    SheetTable(std::shared_ptr<Book> book, QString name, Area area)
        : m_book(std::move(book))
        , m_name(std::move(name))
        , m_area(area)
    {
    }

    // The new file for the changes, or an empty one when the file need not
    // change; throws for a value a field cannot hold.
    virtual QByteArray prepare(const QList<CellChange> &changes) const = 0;

    std::shared_ptr<Book> m_book;
    QString m_name;
    Area m_area;
    QList<FieldInfo> m_fields;
    qsizetype m_records = 0;

private:
    struct Prepared
    {
        QList<CellChange> changes;
        int generation = -1;
        QByteArray file;
    };
    mutable Prepared m_prepared;
};

} // namespace lumora::engine
