#include "app/RosterCheckWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

RosterCheckWindow::RosterCheckWindow(QWidget *parent)
    : QDialog(parent)
    , m_list(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("frmCheck"));
    setWindowTitle(QStringLiteral("检查数据表"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    m_list->setObjectName(QStringLiteral("TextCheck"));
    m_list->setReadOnly(true);
    m_list->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_list->setAccessibleName(QStringLiteral("问题列表"));

    auto *copy = new QPushButton(QStringLiteral("复制(&C)"), this);
    copy->setObjectName(QStringLiteral("CommandCopy"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CommandClose"));
    connect(copy, &QPushButton::clicked, this, [this] {
        QApplication::clipboard()->setText(m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copy);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(560, 320);
}

void RosterCheckWindow::setProblems(const QString &table, const QStringList &lines)
{
    m_lines = lines;
    setWindowTitle(QStringLiteral("检查数据表 %1：%2 个问题").arg(table).arg(lines.size()));
    m_list->setPlainText(lines.join(QLatin1Char('\n')));
}
