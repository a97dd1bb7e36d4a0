#pragma once

#include <QAbstractTableModel>
#include <QBitArray>
#include <QColor>
#include <QStringList>
#include <QTableView>

#include <optional>

// The cells of the main window's grid, addressed the way the window's
// handlers address them: row 0 is the header row, column 0 the row-header
// column, data cells from (1, 1). Row 0 shows as the view's horizontal
// header and column 0 as its vertical header, where each data row shows its
// grid row number, then the text of its column-0 cell (a mark such as ✓);
// a last row without any text (the empty row after the last record) shows none.
class TableGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Grid coordinates (header row and column included).
    int gridRows() const { return int(m_rows.size()) + 1; }
    int gridColumns() const { return m_columns + 1; }
    void setGridRows(int rows);
    void setGridColumns(int columns);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString &text);
    // Appends one data row; part k goes to column k + 1. With notify false
    // nothing is signalled until endBulk().
    void appendRow(const QStringList &parts, bool notify);
    // The same with the parts packed as lumora::engine::PackedTexts, taken
    // as they are (shared, not copied) when they fit the columns.
    void appendPackedRow(QString packed, bool notify);
    // Removes grid row `row` (1 or more); the rows below move up by one.
    void removeGridRow(int row);
    // Sets the row header of every data row to `mark` where its grid row bit
    // is set in `marked`, else empties it; one header change for all.
    void markRowHeaders(const QBitArray &marked, const QString &mark);
    // Keeps the data rows whose grid row bit is set in `keep` (rows past its
    // end are kept) and drops the others at once; returns how many went.
    int keepGridRows(const QBitArray &keep);
    // Room for this many data rows, so a bulk load does not regrow the list.
    void reserveRows(qsizetype rows) { m_rows.reserve(rows); }
    void beginBulk();
    void endBulk();
    void setRowHeaderAttribute(int row, QChar attribute);
    // First display code of a column: 5 right-aligns (numbers), anything
    // else left-aligns. Codes survive loads; a column keeps the code it had.
    void setColumnCode(int column, int code) { m_codes.insert(column, code); }
    int columnCode(int column) const { return m_codes.value(column, 0); }
    // Second display code of a column (10 on every data column after a load);
    // kept for the print engine, it changes nothing on screen.
    void setColumnFormat(int column, int code) { m_formats.insert(column, code); }
    int columnFormat(int column) const { return m_formats.value(column, 0); }
    QChar rowHeaderAttribute(int row) const;
    // The longest row header shown: the last row's number and, when some
    // row carries a mark, the mark.
    QString widestRowHeader() const;
    bool inBulk() const { return m_bulk; }
    void setColors(const QColor &fixed, const QColor &alternate)
    {
        m_fixed = fixed;
        m_alternate = alternate;
    }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void appendGridRow(QString cells, bool notify);

    // A row's data cells are packed into one string (PackedTexts): a large
    // roster then costs about its characters, not an allocation per cell.
    struct Row
    {
        QString cells;     // data columns 1..n (text c - 1, packed), may be shorter
        QString rowHeader; // column 0
        QChar attribute;
    };
    int m_columns = 4;    // data columns
    QStringList m_header; // row 0, columns 1..n (index c - 1)
    QString m_corner;     // cell (0, 0)
    QList<Row> m_rows;
    QHash<int, int> m_codes;   // column -> display code (5: numbers, right-aligned)
    QHash<int, int> m_formats; // column -> second display code
    QString m_markShown;       // the mark some row header carries, or empty
    QColor m_fixed{231, 235, 247};
    QColor m_alternate{239, 243, 255};
    bool m_bulk = false;
};

// The grid widget: the model above in a QTableView, with the operations the
// window uses and the grid's own state (current, resume row and column).
class TableGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TableGrid(QWidget *parent = nullptr);

    TableGridModel *cells() const { return m_model; }

    int rows() const { return m_model->gridRows(); }
    void setRows(int rows) { m_model->setGridRows(rows); }
    int cols() const { return m_model->gridColumns(); }
    void setCols(int cols) { m_model->setGridColumns(cols); }
    QString cellText(int row, int column) const { return m_model->cell(row, column); }
    void setCellText(int row, int column, const QString &text) { m_model->setCell(row, column, text); }

    // Makes the cell active and raises rowChanged for its row. The header
    // row and column cannot hold the cursor: row and column are taken as at
    // least 1 (and at most the last row or column).
    void setActiveCell(int row, int column);
    int activeRow() const;
    int activeColumn() const;

    void setGridColumnWidth(int column, int width);
    int gridColumnWidth(int column) const;
    void selectRange(int row1, int column1, int row2, int column2);
    void appendRow(const QStringList &parts, bool repaint = true) { m_model->appendRow(parts, repaint); }
    void appendPackedRow(QString packed, bool repaint = true)
    {
        m_model->appendPackedRow(std::move(packed), repaint);
    }
    // Removes one row below the header; the rows after it move up.
    void removeRow(int row) { m_model->removeGridRow(row); }
    void markRowHeaders(const QBitArray &marked, const QString &mark)
    {
        m_model->markRowHeaders(marked, mark);
    }
    // Keeps the rows marked in `keep` (grid rows), drops the others.
    int keepRows(const QBitArray &keep) { return m_model->keepGridRows(keep); }
    // Suspends (false) or resumes (true) repainting around a bulk load.
    void setRedraw(bool on);
    void refresh() { viewport()->update(); }
    void setGridColors(const QColor &fixed, const QColor &alternate);

    int currentRow = 1; // the data row the operator is on
    int resumeRow = 0;  // the cell made active after every reload
    int resumeColumn = 0;
    bool columnsListed = false;
    // The filter suffix of the load the grid shows in full ("" = every
    // record); nothing while no load has completed.
    std::optional<QString> loadedClause;

signals:
    // The active cell moved to (or was set on) this row.
    void rowChanged(int row);
    // The operator clicked a cell.
    void cellClicked();

private:
    void applyColumnWidths();
    // Widens the row header to its widest number and mark (never below the
    // width asked for column 0).
    void fitRowHeader();
    static constexpr int kRowHeaderPadding = 12;
    int m_rowHeaderMinimum = 30;

    TableGridModel *m_model;
    // Widths asked for, by grid column. The view forgets its section sizes
    // when the model is reset at the end of a bulk load, so they are applied
    // again then.
    QHash<int, int> m_widths;
};
