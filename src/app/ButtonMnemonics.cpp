#include "app/ButtonMnemonics.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QShortcutEvent>

ButtonMnemonics::ButtonMnemonics(const QList<QAbstractButton *> &buttons, const QList<QObject *> &watched,
                                 QObject *parent)
    : QObject(parent)
{
    for (QAbstractButton *button : buttons)
        m_buttons.append(button);
    for (QObject *object : watched)
        object->installEventFilter(this);
}

bool ButtonMnemonics::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Shortcut)
        return QObject::eventFilter(watched, event);
    const auto *shortcut = static_cast<QShortcutEvent *>(event);
    if (!shortcut->isAmbiguous())
        return false;
    for (QAbstractButton *button : std::as_const(m_buttons)) {
        if (!button || !button->isEnabled() || !button->isVisible())
            continue;
        if (QKeySequence::mnemonic(button->text()) != shortcut->key())
            continue;
        // Like an unambiguous mnemonic: the button shows itself pressed and
        // then clicks.
        button->animateClick();
        return true;
    }
    return false;
}
