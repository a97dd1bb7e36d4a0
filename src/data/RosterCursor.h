#pragma once

#include <QObject>

// Where the session stands in the roster: the row the operator is on, the
// cell made active after every reload, and whether the column pickers were
// filled from a table's header. Qt Core only; a view follows it (moveTo)
// and reports the operator's moves back (setCurrentRow).
class RosterCursor : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The data row the operator is on.
    int currentRow() const { return m_currentRow; }
    void setCurrentRow(int row) { m_currentRow = row; }
    // The cell made active after every reload.
    int resumeRow() const { return m_resumeRow; }
    int resumeColumn() const { return m_resumeColumn; }
    void setResume(int row, int column)
    {
        m_resumeRow = row;
        m_resumeColumn = column;
    }
    // The column pickers were filled from a loaded table at least once.
    bool columnsListed() const { return m_columnsListed; }
    void setColumnsListed(bool listed) { m_columnsListed = listed; }

    // Asks the view to make this cell active; the view then reports the
    // row the operator is on (which it may bound to the rows it has).
    void moveTo(int row, int column) { emit moveRequested(row, column); }
    // Makes the resume cell active.
    void resume() { moveTo(m_resumeRow, m_resumeColumn); }

signals:
    void moveRequested(int row, int column);

private:
    int m_currentRow = 1;
    int m_resumeRow = 0;
    int m_resumeColumn = 0;
    bool m_columnsListed = false;
};
