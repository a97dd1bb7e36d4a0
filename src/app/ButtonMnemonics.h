#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QAbstractButton;

// Lets a button's mnemonic win over a menu title that underlines the same
// letter. Qt treats such a key as ambiguous: a press only moves the focus
// between the button and the menu bar, so "保存照片(&S)" would never save
// while the menu "设置(&S)" is there. Installed on the menu bar and on the
// buttons, this turns an ambiguous mnemonic into a click of the enabled,
// visible button it names; while that button is disabled the key is not
// ambiguous and opens the menu as usual.
class ButtonMnemonics : public QObject
{
public:
    // watched: the widgets that share the mnemonics (the menu bar and the
    // buttons themselves).
    ButtonMnemonics(const QList<QAbstractButton *> &buttons, const QList<QObject *> &watched,
                    QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QPointer<QAbstractButton>> m_buttons;
};
