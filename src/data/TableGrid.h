#pragma once

#include "data/RosterCursor.h"
#include "data/RosterModel.h"

#include <QColor>
#include <QHash>
#include <QPointer>
#include <QTableView>

class QIdentityProxyModel;

// The main window's grid: shows a RosterModel in a QTableView and follows a
// RosterCursor (the cursor's moveTo makes a cell active here). It holds no
// state of the session: what it shows belongs to the model and the cursor,
// which outlive it. Rows and columns are grid coordinates (header row 0,
// row-header column 0), as the model counts them.
class TableGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TableGrid(QWidget *parent = nullptr);

    // Shows `model` and follows `cursor`; both must outlive the grid or be
    // shown no longer (another call).
    void showRoster(RosterModel *model, RosterCursor *cursor);
    RosterModel *roster() const { return m_roster; }
    RosterCursor *cursor() const { return m_cursor; }

    // Makes the cell active and raises rowChanged for its row. The header
    // row and column cannot hold the cursor: row and column are taken as at
    // least 1 (and at most the last row or column).
    void setActiveCell(int row, int column);
    int activeRow() const;
    int activeColumn() const;

    // Column 0 is the row header, whose width is the grid's own; a data
    // column's width is asked of the model, which keeps it across loads.
    void setGridColumnWidth(int column, int width);
    int gridColumnWidth(int column) const;
    void selectRange(int row1, int column1, int row2, int column2);
    void setGridColors(const QColor &fixed, const QColor &alternate);

signals:
    // The active cell moved to (or was set on) this row.
    void rowChanged(int row);
    // The operator clicked a cell.
    void cellClicked();

private:
    int lastRow() const;
    int lastColumn() const;
    void applyColumnWidths();
    // Widens the row header to its widest number and mark (never below the
    // width asked for column 0).
    void fitRowHeader();
    static constexpr int kRowHeaderPadding = 12;
    int m_rowHeaderMinimum = 30;

    QIdentityProxyModel *m_look; // the model with the grid's colours
    QPointer<RosterModel> m_roster;
    QPointer<RosterCursor> m_cursor;
    QMetaObject::Connection m_follow;
    QMetaObject::Connection m_width;
};
