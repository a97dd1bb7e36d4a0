#pragma once

#include <QLabel>

// The window's status line: one message that stays until the next one
// (hovering a menu does not wipe it, as it wipes QStatusBar's own message),
// cut with "…" when it is longer than the line, the whole text in its
// tooltip and selectable for copying.
class StatusLine : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    void setMessage(const QString &text);
    const QString &message() const { return m_message; }
    // What the line shows now: the message, or its start and "…".
    QString shownText() const { return text(); }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();

    QString m_message;
};
