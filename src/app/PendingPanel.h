#pragma once

#include "data/PendingWriteBack.h"
#include "naming/SaveHost.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

struct DataSource;
struct NamingState;
class PendingWindow;
class TableGrid;
class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;

// The names the write-back could not store: kept per roster (PendingStore)
// the moment a write-back refuses one, counted as "未写入 N" beside the
// photo-day progress (a click lists them, person and reason), written by
// 数据表 → 补写文件名, and written by themselves once the lock of another
// program that stopped them is gone (the roster's lock is looked at every
// few seconds while such a name waits). A later write-back of the same
// person's name takes the person off the list.
class PendingPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        TableGrid *Grid1;
        QGroupBox *Frame4; // its caption line holds the count
        QLabel *progress;  // "已拍 N / M": the count follows it
        QMenu *datebase;   // 数据表(&B): 补写文件名 joins it
    };

    PendingPanel(const Controls &controls, DataSource &ds, const NamingState &naming, QWidget *window);

    // The grid shows a roster: takes up the names kept for it when it is
    // another one than before.
    void rosterShown();
    // After each write-back, while the grid row is still as it was.
    void writeBackTried(const WriteBackRequest &request, const WriteBackResult &result);
    // Turns the save's line about a name just kept into a short one that
    // says where it went.
    void reword(WriteBackNote &note);
    // 补写文件名: every kept name of the roster, tried again now.
    void retryAll();

    const QList<PendingWriteBack> &entries() const { return m_entries; }
    QPushButton *countButton() const { return m_count; }
    // How often the lock is looked at while a name waits for it.
    static constexpr int kLockPollMs = 1500;

signals:
    void status(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void retry(bool byItself);
    // Stores the list, shows the count, and polls the lock while a name waits for it.
    void keep();
    void placeCount();
    void showList();
    void pollLock();
    void bringGridUpToDate(const PendingRetry &done);
    bool rosterIsShown() const;

    Controls m_c;
    DataSource &m_ds;
    const NamingState &m_naming;
    QWidget *m_window;
    QPushButton *m_count;
    QAction *m_retry;
    QTimer *m_poll;
    QPointer<PendingWindow> m_list;
    QString m_roster; // the file and table the entries are kept for
    QString m_table;
    QList<PendingWriteBack> m_entries;
    QString m_justKept; // why the last write-back's name was kept, for the save's line
    bool m_justKeptForLock = false;
    // A retry by itself that met the lock again waits for the lock to be
    // seen and go, or for half a minute, before the next.
    bool m_lockSeen = false;
    bool m_byItselfFailed = false;
    QElapsedTimer m_sinceByItself;
};
