#include "app/RosterCheckWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
constexpr int kRowRole = Qt::UserRole;
}

RosterCheckWindow::RosterCheckWindow(QWidget *parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("frmCheck"));
    setWindowTitle(QStringLiteral("检查数据表"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    m_list->setObjectName(QStringLiteral("TextCheck"));
    m_list->setAccessibleName(QStringLiteral("问题列表"));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setToolTip(QStringLiteral("双击一行，表格就转到那一行"));
    connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        const int row = item->data(kRowRole).toInt();
        if (row > 0)
            emit rowActivated(row);
    });

    auto *copy = new QPushButton(QStringLiteral("复制(&C)"), this);
    copy->setObjectName(QStringLiteral("CommandCopy"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CommandClose"));
    connect(copy, &QPushButton::clicked, this, [this] {
        QApplication::clipboard()->setText(m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("双击一行转到表格中的那一行"), this));
    buttons->addStretch();
    buttons->addWidget(copy);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(560, 320);
}

void RosterCheckWindow::setProblems(const QString &table, const QList<RosterProblem> &problems)
{
    m_lines.clear();
    m_list->clear();
    for (const RosterProblem &p : problems) {
        m_lines << p.line();
        auto *item = new QListWidgetItem(m_lines.last(), m_list);
        item->setData(kRowRole, p.row);
    }
    setWindowTitle(QStringLiteral("检查数据表 %1：%2 个问题").arg(table).arg(problems.size()));
    fitToLines();
}

void RosterCheckWindow::fitToLines()
{
    const QFontMetrics metrics(m_list->font());
    int widest = 0;
    for (const QString &line : std::as_const(m_lines))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    const int rowHeight = qMax(m_list->sizeHintForRow(0), metrics.height());
    const QMargins around = layout()->contentsMargins();
    const int frame = 2 * m_list->frameWidth() + 8;
    const int scrollBar = m_list->verticalScrollBar()->sizeHint().width();
    QSize wanted(widest + frame + scrollBar + around.left() + around.right(),
                 rowHeight * int(qMax<qsizetype>(m_lines.size(), 3)) + frame + scrollBar + around.top() +
                     around.bottom() + layout()->spacing() + layout()->itemAt(1)->sizeHint().height());
    wanted = wanted.expandedTo(QSize(420, 200));
    if (const QScreen *s = screen()) {
        // The frame of the window and some room for the main window's edge.
        const QSize room = s->availableGeometry().size() - QSize(40, 80);
        wanted = wanted.boundedTo(room);
    }
    resize(wanted);
}
