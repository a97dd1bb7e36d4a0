#pragma once

#include <QAbstractTableModel>
#include <QBitArray>
#include <QHash>
#include <QStringList>

#include <optional>

// The roster the main window's grid shows: its header and rows, addressed
// the way the window's handlers address them: row 0 is the header row,
// column 0 the row-header column, data cells from (1, 1). As an item model
// row 0 is the horizontal header and column 0 the vertical header, where
// each data row shows its grid row number, then the text of its column-0
// cell (a mark such as ✓); a last row without any text (the empty row
// after the last record) shows none. Qt Core only: the loader, the naming
// and the checks read and write it without a widget.
class RosterModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Grid coordinates (header row and column included).
    int rows() const { return int(m_rows.size()) + 1; }
    int cols() const { return m_columns + 1; }
    void setRows(int rows);
    void setCols(int columns);
    QString cellText(int row, int column) const;
    // The same without a copy, valid until the model next changes.
    QStringView cellView(int row, int column) const;
    void setCellText(int row, int column, const QString &text);
    // Appends one data row; part k goes to column k + 1. With notify false
    // nothing is signalled until endBulk().
    void appendRow(const QStringList &parts, bool notify = true);
    // The same with the parts packed as lumora::engine::PackedTexts, taken
    // as they are (shared, not copied) when they fit the columns.
    // `record`: the table's record the row shows (see recordOf).
    void appendPackedRow(QString packed, bool notify = true, qsizetype record = -1);
    // The record of the table (the engine's numbering) a data row was loaded
    // from; -1 for a row that shows none (the marker row, the trailing empty
    // row, a row not loaded from the table).
    qsizetype recordOf(int row) const;
    // Removes grid row `row` (1 or more); the rows below move up by one.
    void removeRow(int row);
    // Sets the row header of every data row to `mark` where its grid row bit
    // is set in `marked`, else empties it; one header change for all.
    void markRowHeaders(const QBitArray &marked, const QString &mark);
    // Sets the row header of one data row to `mark`.
    void markRowHeader(int row, const QString &mark);
    // Keeps the data rows whose grid row bit is set in `keep` (rows past its
    // end are kept) and drops the others at once; returns how many went.
    int keepRows(const QBitArray &keep);
    // Room for this many data rows, so a bulk load does not regrow the list.
    void reserveRows(qsizetype rows) { m_rows.reserve(rows); }
    // A bulk change: one model reset around it, nothing signalled between.
    void beginBulk();
    void endBulk();
    bool inBulk() const { return m_bulk; }
    void setRowHeaderAttribute(int row, QChar attribute);
    QChar rowHeaderAttribute(int row) const;
    // First display code of a column: 5 right-aligns (numbers), anything
    // else left-aligns. Codes survive loads; a column keeps the code it had.
    void setColumnCode(int column, int code) { m_codes.insert(column, code); }
    int columnCode(int column) const { return m_codes.value(column, 0); }
    // The width (pixels) a data column is to be shown at; a view applies it
    // (columnWidthAsked, or at the end of a bulk change). 0: none asked.
    void askColumnWidth(int column, int width);
    int askedColumnWidth(int column) const { return m_widths.value(column, 0); }
    const QHash<int, int> &askedColumnWidths() const { return m_widths; }
    // The longest row header shown: the last row's number and, when some
    // row carries a mark, the mark.
    QString widestRowHeader() const;
    // The filter suffix of the load the rows come from ("" = every record);
    // nothing while no load has completed.
    const std::optional<QString> &loadedClause() const { return m_loadedClause; }
    void setLoadedClause(std::optional<QString> clause) { m_loadedClause = std::move(clause); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void columnWidthAsked(int column, int width);

private:
    void appendGridRow(QString cells, bool notify, qsizetype record = -1);

    // A row's data cells are packed into one string (PackedTexts): a large
    // roster then costs about its characters, not an allocation per cell.
    struct Row
    {
        QString cells;     // data columns 1..n (text c - 1, packed), may be shorter
        QString rowHeader; // column 0
        QChar attribute;
        qsizetype record = -1;
    };
    int m_columns = 4;    // data columns
    QStringList m_header; // row 0, columns 1..n (index c - 1)
    QString m_corner;     // cell (0, 0)
    QList<Row> m_rows;
    QHash<int, int> m_codes;  // column -> display code (5: numbers, right-aligned)
    QHash<int, int> m_widths; // column -> width asked for it
    QString m_markShown;      // the mark some row header carries, or empty
    std::optional<QString> m_loadedClause;
    bool m_bulk = false;
};
