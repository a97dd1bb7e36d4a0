#include "app/PendingPanel.h"

#include "app/PendingStore.h"
#include "app/PendingWindow.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "naming/NamingState.h"
#include "naming/RosterCheck.h"

#include <QAction>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

PendingPanel::PendingPanel(const Controls &controls, DataSource &ds, const NamingState &naming,
                           QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_ds(ds)
    , m_naming(naming)
    , m_window(window)
    , m_count(new QPushButton(controls.Frame4))
    , m_poll(new QTimer(this))
{
    m_count->setObjectName(QStringLiteral("Labwxr"));
    m_count->setFlat(true);
    QPalette red = m_count->palette();
    red.setColor(QPalette::ButtonText, QColor(192, 0, 0));
    m_count->setPalette(red);
    m_count->setToolTip(QStringLiteral("文件名还没有写入数据表的人：点击查看，可补写"));
    m_count->setFocusPolicy(Qt::NoFocus);
    m_count->hide();
    connect(m_count, &QPushButton::clicked, this, &PendingPanel::showList);
    m_c.progress->installEventFilter(this);

    // Before 退出 and its separator.
    QAction *before = nullptr;
    const QList<QAction *> items = m_c.datebase->actions();
    for (int i = 0; i < items.size() && !before; ++i)
        if (items.at(i)->isSeparator())
            before = items.at(i);
    m_retry = new QAction(QStringLiteral("补写文件名(&W)"), this);
    m_retry->setObjectName(QStringLiteral("buxie"));
    m_c.datebase->insertAction(before, m_retry);
    connect(m_retry, &QAction::triggered, this, &PendingPanel::retryAll);

    m_poll->setInterval(kLockPollMs);
    connect(m_poll, &QTimer::timeout, this, &PendingPanel::pollLock);
}

bool PendingPanel::rosterIsShown() const
{
    return m_ds.hasTable() && m_ds.databasePath == m_roster && m_ds.tableName == m_table;
}

void PendingPanel::rosterShown()
{
    if (!m_ds.hasTable() || rosterIsShown())
        return;
    m_roster = m_ds.databasePath;
    m_table = m_ds.tableName;
    m_entries = PendingStore::load(m_roster, m_table);
    m_byItselfFailed = false;
    if (m_list)
        m_list->close();
    keep();
    if (!m_entries.isEmpty())
        emit status(
            QStringLiteral("这个数据表有 %1 个人的文件名还没有写入（见“未写入”），可用 数据表 → 补写文件名")
                .arg(m_entries.size()));
}

void PendingPanel::writeBackTried(const WriteBackRequest &request, const WriteBackResult &result)
{
    m_justKept.clear();
    if (!m_ds.hasTable() || !IsRecordRow(*m_c.Grid1->roster(), request.row) ||
        !(result.written() || LeavesPending(result)))
        return;
    rosterShown();
    const PendingWriteBack entry =
        PendingFor(m_ds, *m_c.Grid1->roster(), request, result, m_naming.photoPath);
    const qsizetype before = m_entries.size();
    // A name written, or a newer one kept, takes the person's older entry's place.
    m_entries.removeIf([&](const PendingWriteBack &e) { return SamePerson(e, entry); });
    if (!result.written()) {
        m_entries << entry;
        m_justKept = entry.reason;
        m_justKeptForLock = entry.waitsForLock;
    } else if (m_entries.size() == before) {
        return;
    }
    keep();
}

void PendingPanel::reword(WriteBackNote &note)
{
    if (m_justKept.isEmpty())
        return;
    note.text =
        m_justKeptForLock
            ? QStringLiteral("文件名未写入数据表：数据表被其他程序锁定，已记入“未写入 %1”，解锁后自动补写")
                  .arg(m_entries.size())
            : QStringLiteral("文件名未写入数据表（%1），已记入“未写入 %2”")
                  .arg(m_justKept)
                  .arg(m_entries.size());
    m_justKept.clear();
}

void PendingPanel::retryAll()
{
    retry(false);
}

void PendingPanel::retry(bool byItself)
{
    rosterShown();
    if (!rosterIsShown() || m_entries.isEmpty()) {
        if (!byItself)
            emit status(QStringLiteral("补写文件名：没有未写入的文件名"));
        return;
    }
    const PendingRetry done = RetryPending(m_ds, m_entries);
    m_entries = done.left;
    keep();
    bringGridUpToDate(done);
    if (byItself && done.written.isEmpty())
        return;
    QString text = QStringLiteral("补写文件名：已写入 %1 个").arg(done.written.size());
    if (!done.left.isEmpty())
        text += QStringLiteral("，%1 个仍未写入（%2：%3）")
                    .arg(done.left.size())
                    .arg(done.left.constFirst().person, done.left.constFirst().reason);
    emit status(text);
}

void PendingPanel::bringGridUpToDate(const PendingRetry &done)
{
    TableGrid *g = m_c.Grid1;
    RosterModel &roster = *g->roster();
    if (done.written.isEmpty() || !roster.loadedClause())
        return;
    int active = g->activeRow();
    const int column = qMax(1, g->activeColumn());
    bool removed = false;
    for (qsizetype i = 0; i < done.written.size(); ++i) {
        const int row = RowOf(done.written.at(i), roster);
        if (row < 1)
            continue;
        try {
            if (RefreshWrittenRow(m_ds, roster, row, done.records.at(i))) {
                removed = true;
                if (row < active)
                    --active;
            }
        } catch (...) {
            // The grid keeps the old text until the next load.
        }
    }
    if (removed) {
        m_c.Frame4->setTitle(QStringLiteral("数据表[%1]").arg(roster.rows() - 2));
        // Whoever stands on the operator's row now is current again.
        g->setActiveCell(active, column);
    }
}

void PendingPanel::keep()
{
    if (!m_roster.isEmpty() && !PendingStore::save(m_roster, m_table, m_entries))
        emit status(QStringLiteral("未写入的文件名无法保存到设置文件"));
    const bool waits = std::any_of(m_entries.cbegin(), m_entries.cend(),
                                   [](const PendingWriteBack &e) { return e.waitsForLock; });
    if (waits && !m_poll->isActive())
        m_poll->start();
    else if (!waits)
        m_poll->stop();
    m_count->setText(QStringLiteral("未写入 %1").arg(m_entries.size()));
    m_count->setAccessibleName(m_count->text());
    placeCount();
    if (m_list) {
        QStringList lines;
        for (const PendingWriteBack &e : std::as_const(m_entries))
            lines << e.person + QStringLiteral("：") + e.reason;
        m_list->setLines(lines);
    }
}

void PendingPanel::placeCount()
{
    const bool shown = !m_entries.isEmpty() && m_c.progress->isVisibleTo(m_c.Frame4);
    m_count->setVisible(shown);
    if (!shown)
        return;
    m_count->adjustSize();
    const QRect p = m_c.progress->geometry();
    m_count->move(p.right() + 12, p.top() + (p.height() - m_count->height()) / 2);
    m_count->raise();
}

bool PendingPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_c.progress) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide: placeCount(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PendingPanel::showList()
{
    if (!m_list) {
        m_list = new PendingWindow(m_window);
        connect(m_list, &PendingWindow::retryRequested, this, &PendingPanel::retryAll);
        connect(m_list, &PendingWindow::removeRequested, this, [this](const QList<int> &chosen) {
            for (auto it = chosen.crbegin(); it != chosen.crend(); ++it)
                if (*it >= 0 && *it < m_entries.size())
                    m_entries.removeAt(*it);
            keep();
        });
        connect(m_list, &PendingWindow::entryActivated, this, [this](int entry) {
            const int row =
                entry >= 0 && entry < m_entries.size() ? RowOf(m_entries.at(entry), *m_c.Grid1->roster()) : 0;
            if (row < 1) {
                emit status(QStringLiteral("表格中没有显示这个人（可能被筛选掉了）"));
                return;
            }
            m_c.Grid1->setActiveCell(row, qMax(1, m_c.Grid1->activeColumn()));
            m_window->activateWindow();
        });
    }
    keep();
    m_list->show();
    m_list->raise();
}

void PendingPanel::pollLock()
{
    if (!rosterIsShown())
        return;
    if (!RosterHeldOpen(m_ds.databasePath).isEmpty()) {
        m_lockSeen = true;
        return;
    }
    // The lock is gone. After a retry that met it again anyway, wait for
    // it to be seen and go, or for half a minute.
    if (m_byItselfFailed && !m_lockSeen && m_sinceByItself.isValid() && m_sinceByItself.elapsed() < 30000)
        return;
    m_lockSeen = false;
    retry(true);
    m_byItselfFailed = std::any_of(m_entries.cbegin(), m_entries.cend(),
                                   [](const PendingWriteBack &e) { return e.waitsForLock; });
    m_sinceByItself.restart();
}
