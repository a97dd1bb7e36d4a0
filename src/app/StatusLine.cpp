#include "app/StatusLine.h"

#include <QFontMetrics>
#include <QResizeEvent>

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("statusLine"));
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void StatusLine::setMessage(const QString &text)
{
    m_message = text;
    fit();
}

QSize StatusLine::minimumSizeHint() const
{
    // Any width will do: the text is cut to fit.
    return {0, QLabel::minimumSizeHint().height()};
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void StatusLine::fit()
{
    // One line: line breaks inside a reason become blanks.
    QString line = m_message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = fontMetrics().elidedText(line, Qt::ElideRight, qMax(0, contentsRect().width()));
    setText(shown);
    setToolTip(shown == line ? QString() : m_message);
}
