#include "app/LeaveCheck.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

LeaveCheck::LeaveCheck(QLineEdit *box, std::function<QString(const QString &)> check)
    : QObject(box)
    , m_box(box)
    , m_check(std::move(check))
{
    box->installEventFilter(this);
}

void LeaveCheck::run()
{
    if (m_running)
        return;
    m_running = true;
    const QString reset = m_check(m_box->text());
    m_running = false;
    if (reset.isEmpty())
        return;
    m_box->setText(reset);
    // The focus is on its way to another control: send it back once it is there.
    QPointer<QLineEdit> box = m_box;
    QTimer::singleShot(0, m_box, [box] {
        if (box)
            box->setFocus(Qt::OtherFocusReason);
    });
}

bool LeaveCheck::eventFilter(QObject *watched, QEvent *event)
{
    // A box whose window is being hidden is not left by the operator; one on
    // a settings page the operator turns away from is.
    if (watched == m_box && event->type() == QEvent::FocusOut && m_box->window()->isVisible()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            run();
    }
    return QObject::eventFilter(watched, event);
}
