#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

// The roster check's list, one problem a line, in a window that stays open
// beside the main window without blocking it; "复制" puts the list on the
// clipboard.
class RosterCheckWindow : public QDialog
{
    Q_OBJECT
public:
    explicit RosterCheckWindow(QWidget *parent = nullptr);
    void setProblems(const QString &table, const QStringList &lines);
    QStringList problems() const { return m_lines; }

private:
    QPlainTextEdit *m_list;
    QStringList m_lines;
};
