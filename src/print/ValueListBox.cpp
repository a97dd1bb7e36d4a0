#include "print/ValueListBox.h"

#include <QLineEdit>

#include <cmath>

ValueListBox::ValueListBox(QWidget *parent)
    : QAbstractSpinBox(parent)
{
    setReadOnly(true);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Read-only boxes still step with the arrows and the wheel.
    setFocusPolicy(Qt::StrongFocus);
}

void ValueListBox::setLines(const QStringList &lines)
{
    m_lines = lines;
    m_position = 0;
    show();
}

void ValueListBox::insertLine(int index, const QString &line)
{
    m_lines.insert(std::clamp<qsizetype>(index, 0, m_lines.size()), line);
    show();
}

void ValueListBox::setScrollPosition(int line)
{
    m_position = m_lines.isEmpty() ? 0 : std::clamp(line, 0, int(m_lines.size()) - 1);
    show();
}

void ValueListBox::stepBy(int steps)
{
    // Up shows the line above, a larger value.
    setScrollPosition(m_position - steps);
}

QAbstractSpinBox::StepEnabled ValueListBox::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (m_position > 0)
        enabled |= StepUpEnabled;
    if (m_position + 1 < m_lines.size())
        enabled |= StepDownEnabled;
    return enabled;
}

void ValueListBox::focusInEvent(QFocusEvent *event)
{
    QAbstractSpinBox::focusInEvent(event);
    emit focusEntered();
}

void ValueListBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractSpinBox::focusOutEvent(event);
    emit focusLeft();
}

void ValueListBox::show()
{
    lineEdit()->setText(m_lines.value(m_position));
    update();
}

QStringList ZoomLines()
{
    QStringList lines;
    for (int v = 400; v >= 10; --v)
        lines << QString::number(v);
    return lines;
}

QStringList TitleCountLines()
{
    QStringList lines;
    for (int v = 20; v >= 0; --v)
        lines << QString::number(v);
    return lines;
}

QStringList MarginLines()
{
    // 3.0 down to 1.0 by tenths, 21 lines. Counted in whole tenths: a
    // single-precision counter lowered by 0.1 ends a hair above 1.0, which
    // lists the same 21 lines.
    QStringList lines;
    for (int tenths = 30; tenths >= 10; --tenths)
        lines << QString::number(tenths / 10.0, 'f', 1);
    return lines;
}

QString CurrentListValue(const ValueListBox &box)
{
    return box.listText().split(QStringLiteral("\r\n")).value(box.scrollPosition());
}

void SelectListValue(ValueListBox &box, double value, ValueListKind kind)
{
    const auto above = [&box](const QString &line) {
        box.insertLine(0, line);
        box.setScrollPosition(0);
    };
    const auto below = [&box](const QString &line) {
        box.insertLine(int(box.lines().size()), line);
        box.setScrollPosition(int(box.lines().size()) - 1);
    };
    // Lines added before this call shift the listed values down by as many.
    const auto listed = [&box](const QString &first) { return int(box.lines().indexOf(first)); };
    switch (kind) {
    case ValueListKind::Zoom: {
        const int v = int(std::lround(value));
        if (v > 400)
            above(QString::number(v));
        else if (v < 10)
            below(QString::number(v));
        else
            box.setScrollPosition(listed(QStringLiteral("400")) + 400 - v);
        break;
    }
    case ValueListKind::TitleCount: {
        const int v = int(std::lround(value));
        if (v > 20)
            above(QString::number(v));
        else if (v < 0)
            below(QString::number(v));
        else
            box.setScrollPosition(listed(QStringLiteral("20")) + 20 - v);
        break;
    }
    case ValueListKind::Margin:
        if (value < 1)
            below(QString::number(value, 'f', 1));
        else if (value > 3)
            above(QString::number(value, 'f', 1));
        else
            box.setScrollPosition(listed(QStringLiteral("3.0")) + int(std::lround(20 - (value - 1) * 10)));
        break;
    }
}
