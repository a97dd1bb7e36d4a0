#include "app/PendingWindow.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

PendingWindow::PendingWindow(QWidget *parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("frmPending"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    m_list->setObjectName(QStringLiteral("ListPending"));
    m_list->setAccessibleName(QStringLiteral("未写入的文件名"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setToolTip(QStringLiteral("双击一行，表格就转到这个人"));
    connect(m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { emit entryActivated(m_list->row(item)); });

    auto *retry = new QPushButton(QStringLiteral("补写文件名(&W)"), this);
    retry->setObjectName(QStringLiteral("CommandRetry"));
    auto *remove = new QPushButton(QStringLiteral("移除(&D)"), this);
    remove->setObjectName(QStringLiteral("CommandRemove"));
    remove->setToolTip(QStringLiteral("不再为选中的人补写文件名"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CommandClose"));
    connect(retry, &QPushButton::clicked, this, &PendingWindow::retryRequested);
    connect(remove, &QPushButton::clicked, this, [this] {
        QList<int> chosen;
        for (const QListWidgetItem *item : m_list->selectedItems())
            chosen << m_list->row(item);
        std::sort(chosen.begin(), chosen.end());
        if (!chosen.isEmpty())
            emit removeRequested(chosen);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(retry);
    buttons->addWidget(remove);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(560, 260);
}

void PendingWindow::setLines(const QStringList &lines)
{
    m_lines = lines;
    m_list->clear();
    m_list->addItems(lines);
    setWindowTitle(QStringLiteral("未写入数据表的文件名：%1 个").arg(lines.size()));
    // As wide as the longest line, within the screen.
    int widest = 0;
    const QFontMetrics metrics(m_list->font());
    for (const QString &line : lines)
        widest = qMax(widest, metrics.horizontalAdvance(line));
    int width = qMax(560, widest + 60);
    if (const QScreen *s = screen())
        width = qMin(width, s->availableGeometry().width() - 40);
    resize(width, height());
}
