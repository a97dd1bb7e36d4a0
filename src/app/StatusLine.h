#pragma once

#include <QLabel>

class QFontMetrics;

// The text shown for `text` on one line `width` pixels wide: the text
// itself when it fits; else with the folders in the middle of its paths
// ("/home/u/照片/高二(20)班/聂姬.jpg" → "/home/…/高二(20)班/聂姬.jpg") and then
// the middle of the longest file name given up for "…", so that the words
// around them (the reason, the advice) stay whole; cut at the end only when
// even that is too long. Line breaks become blanks.
QString FitStatusText(const QString &text, const QFontMetrics &metrics, int width);

// The window's status line: one message that stays until the next one
// (hovering a menu does not wipe it, as it wipes QStatusBar's own message),
// shortened to the line's width as FitStatusText says, the whole text in
// its tooltip and selectable for copying.
class StatusLine : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    void setMessage(const QString &text);
    const QString &message() const { return m_message; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();

    QString m_message;
};
