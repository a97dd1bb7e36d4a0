#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsPatcher.h"

#include <memory>

namespace lumora::engine {

// One table of a workbook: a worksheet's used cells ("Sheet1$") or a
// defined name's rectangle. Its first row gives the field names; record r
// is the row r + 1 below it. A column's type is guessed from its first 8
// records as the old engine did (majority wins), except that a column whose
// records mix numbers, booleans and texts is Text, so no cell reads as
// Null. update() changes the one cell in the file (XlsPatcher), keeping
// every other byte of the container; updateAll() changes all of a
// statement's cells in one rewrite of the file.
class XlsTable : public TableSource
{
public:
    // A rectangle of sheet `sheet`; rows and columns 0-based, inclusive.
    struct Area
    {
        int sheet = 0;
        quint32 firstRow = 0, lastRow = 0;
        quint16 firstCol = 0, lastCol = 0;
        bool empty = true; // no cell holds a value
    };

    XlsTable(std::shared_ptr<XlsBook> book, QString name, Area area);

    QString name() const override { return m_name; }
    const QList<FieldInfo> &fields() const override { return m_fields; }
    qsizetype recordCount() const override { return m_records; }
    Value value(qsizetype record, int field) const override;
    void update(qsizetype record, int field, const Value &value) override;
    void checkUpdate(qsizetype record, int field, const Value &value) const override;
    void updateAll(const QList<CellChange> &changes) override;
    void checkUpdateAll(const QList<CellChange> &changes) const override;
    QList<EngineNote> notes() const override { return m_book->workbook().notes(); }

    // The used rectangle of a worksheet: every cell that holds a value.
    static Area usedArea(const XlsWorkbook &workbook, int sheet);
    // A defined name's rectangle, down to its last row that holds a value.
    static Area nameArea(const XlsWorkbook &workbook, const XlsDefinedName &name);
    // A cell's value as text, as a header cell gives a field name and a
    // text column shows a number: to 15 significant digits, as Excel shows it.
    static QString cellText(const XlsWorkbook &workbook, const XlsCell &cell);
    static Value serialToDate(double serial, bool uses1904);
    static double dateToSerial(const QDateTime &dt, bool uses1904);

private:
    // The patcher's change for one of a statement's; throws for a value
    // the field cannot hold. `columns` keeps what it learnt of the sheet's
    // columns for the statement's next change.
    struct ColumnCells;
    XlsCellChange cellChange(const CellChange &change, ColumnCells &columns) const;
    // The new file for the changes, or an empty one when the file need not
    // change.
    QByteArray prepare(const QList<CellChange> &changes) const;

    // What checkUpdateAll() prepared, for the updateAll() that follows it.
    struct Prepared
    {
        QList<CellChange> changes;
        int generation = -1;
        QByteArray file;
    };
    mutable Prepared m_prepared;

    std::shared_ptr<XlsBook> m_book;
    QString m_name;
    Area m_area;
    QList<FieldInfo> m_fields;
    qsizetype m_records = 0;
};

} // namespace lumora::engine
