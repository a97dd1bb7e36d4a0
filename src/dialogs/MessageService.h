#pragma once

#include <QString>

class QWidget;

// How handlers speak to the operator: a message with an OK button, or a
// Yes/No question. No handler calls QMessageBox itself, so that tests can
// record the messages and script the answers.
class MessageService
{
public:
    enum class Icon {
        None,
        Information,
        Warning,
        Critical,
        Question
    };

    virtual ~MessageService() = default;
    virtual void showMessage(QWidget *parent, const QString &text, const QString &title, Icon icon) = 0;
    // Which button Enter presses.
    enum class Default {
        Yes,
        No
    };
    // True for Yes.
    virtual bool askYesNo(QWidget *parent, const QString &text, const QString &title, Default button) = 0;

    void show(QWidget *parent, const QString &text) { showMessage(parent, text, programTitle(), Icon::None); }
    static QString programTitle() { return QStringLiteral("Lumora"); }
};

// The real one, on QMessageBox, modal to the parent window.
class QtMessageService : public MessageService
{
public:
    void showMessage(QWidget *parent, const QString &text, const QString &title, Icon icon) override;
    bool askYesNo(QWidget *parent, const QString &text, const QString &title, Default button) override;
};
