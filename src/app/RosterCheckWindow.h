#pragma once

#include "naming/RosterCheck.h"

#include <QDialog>
#include <QStringList>

class QListWidget;

// The roster check's list, one problem a line, in a window that stays open
// beside the main window without blocking it, as wide as its lines (up to
// the screen; the list scrolls beyond). A double-click (or Enter) on a
// row's line asks for that row in the grid; "复制" puts the list on the
// clipboard.
class RosterCheckWindow : public QDialog
{
    Q_OBJECT
public:
    explicit RosterCheckWindow(QWidget *parent = nullptr);
    void setProblems(const QString &table, const QList<RosterProblem> &problems);
    QStringList problems() const { return m_lines; }
    QListWidget *list() const { return m_list; }

signals:
    // The operator chose the line of this grid row.
    void rowActivated(int row);

private:
    // As wide and tall as the lines ask, within the screen's room.
    void fitToLines();

    QListWidget *m_list;
    QStringList m_lines;
};
