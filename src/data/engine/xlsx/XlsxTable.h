#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/xlsx/XlsxBook.h"

#include <memory>

namespace lumora::engine {

// One table of an .xlsx workbook: a worksheet's used cells ("Sheet1$") or
// a defined name's rectangle, read as the .xls backend reads its tables
// (SheetColumnTypes): the first row names the fields, record r is the row
// r + 1 below it. update() rewrites the one cell (XlsxPatcher) and keeps
// every other part of the package as it is stored.
class XlsxTable : public TableSource
{
public:
    struct Area
    {
        int sheet = 0;
        quint32 firstRow = 0, lastRow = 0;
        quint16 firstCol = 0, lastCol = 0;
        bool empty = true; // no cell holds a value
    };

    XlsxTable(std::shared_ptr<XlsxBook> book, QString name, Area area);

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return m_records; }
    Value value(qsizetype record, int field) const override;
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    void updateAll(const QList<CellChange> &changes) override;
    void checkUpdateAll(const QList<CellChange> &changes) const override;

    static Area usedArea(const XlsxWorkbook &workbook, int sheet);
    static Area nameArea(const XlsxWorkbook &workbook, const XlsxDefinedName &name);

private:
    QByteArray prepare(const QList<CellChange> &changes) const;

    struct Prepared
    {
        QList<CellChange> changes;
        int generation = -1;
        QByteArray file;
    };
    mutable Prepared m_prepared;

    std::shared_ptr<XlsxBook> m_book;
    QString m_name;
    Area m_area;
    QList<FieldInfo> m_fields;
    qsizetype m_records = 0;
};

} // namespace lumora::engine
