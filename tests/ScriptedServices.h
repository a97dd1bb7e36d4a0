#pragma once
// Test doubles for the message and dialog seams: they record what the
// program showed and answer from a script.

#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "dialogs/ShellService.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <QUrl>

struct RecordedMessage
{
    QString text;
    QString title;
    MessageService::Icon icon;
    bool question;
    MessageService::Default button = MessageService::Default::Yes; // of a question: what Enter answers
};

class RecordingMessages : public MessageService
{
public:
    void showMessage(QWidget *, const QString &text, const QString &title, Icon icon) override
    {
        messages.append({text, title, icon, false});
    }
    bool askYesNo(QWidget *, const QString &text, const QString &title, Default button) override
    {
        messages.append({text, title, Icon::Question, true, button});
        return answers.isEmpty() ? defaultAnswer : answers.dequeue();
    }
    QStringList texts() const
    {
        QStringList t;
        for (const RecordedMessage &m : messages)
            t << m.text;
        return t;
    }
    void clear() { messages.clear(); }

    QList<RecordedMessage> messages;
    QQueue<bool> answers;      // answers to askYesNo, in order
    bool defaultAnswer = true; // when the queue is empty
};

class ScriptedDialogs : public DialogService
{
public:
    QString openFileName(QWidget *, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        calls << QStringLiteral("open:") + title + QLatin1Char('|') + filter;
        startFolders << folder;
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString saveFileName(QWidget *, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        calls << QStringLiteral("save:") + title + QLatin1Char('|') + filter;
        startFolders << folder;
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString existingFolder(QWidget *, const QString &title, const QString &start) override
    {
        calls << QStringLiteral("folder:") + title;
        startFolders << start;
        return folders.isEmpty() ? QString() : folders.dequeue();
    }
    std::optional<QColor> color(QWidget *, const QColor &initial) override
    {
        calls << QStringLiteral("color:") + initial.name();
        if (colors.isEmpty())
            return std::nullopt;
        return colors.dequeue();
    }
    std::optional<FontChoice> font(QWidget *, const QFont &initial, const QColor &initialColor,
                                   bool withEffects) override
    {
        calls << QStringLiteral("font");
        fontsShown << FontChoice{initial, initialColor};
        fontEffects << withEffects;
        if (fonts.isEmpty())
            return std::nullopt;
        return fonts.dequeue();
    }
    bool printer(QWidget *, PrinterDialog kind) override
    {
        calls << (kind == PrinterDialog::Choose ? QStringLiteral("printer")
                                                : QStringLiteral("printer properties"));
        return printerAnswers.isEmpty() ? false : printerAnswers.dequeue();
    }

    QStringList calls;       // every dialog shown, in order
    QQueue<QString> files;   // answers of the file dialogs; empty = cancel
    QQueue<QString> folders; // answers of the folder dialog; empty = cancel
    QQueue<QColor> colors;
    QQueue<FontChoice> fonts;
    QQueue<bool> printerAnswers;  // empty = cancel
    QStringList startFolders;     // where each file or folder dialog opened
    QList<FontChoice> fontsShown; // each font dialog's initial font and colour
    QList<bool> fontEffects;      // whether it offered the colour
};

// Records what the program handed to the desktop to open.
class RecordingShell : public ShellService
{
public:
    bool open(const QUrl &url) override
    {
        opened << url;
        return true;
    }
    QList<QUrl> opened;
};
