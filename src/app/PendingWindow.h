#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QListWidget;

// The names not yet written into the roster, one person a line with the
// reason, in a window that stays open beside the main window. "补写文件名"
// tries them all again, "移除" gives up the chosen ones, a double-click (or
// Enter) on a line asks for that person's row in the grid.
class PendingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit PendingWindow(QWidget *parent = nullptr);
    void setLines(const QStringList &lines);
    QStringList lines() const { return m_lines; }
    QListWidget *list() const { return m_list; }

signals:
    void retryRequested();
    // The entries at these places, in ascending order.
    void removeRequested(const QList<int> &entries);
    void entryActivated(int entry);

private:
    QListWidget *m_list;
    QStringList m_lines;
};
