#pragma once

#include <QAbstractSpinBox>
#include <QStringList>

// A value list of the page-setup window: a box one line high whose lines are
// the offered values, largest first. The line at the scroll position is the
// box's value; stepping down (arrow, wheel, page key) shows the next line,
// the next smaller value.
class ValueListBox : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit ValueListBox(QWidget *parent = nullptr);

    void setLines(const QStringList &lines);
    const QStringList &lines() const { return m_lines; }
    // The lines joined by carriage-return/line-feed, no break after the last.
    QString listText() const { return m_lines.join(QStringLiteral("\r\n")); }
    void insertLine(int index, const QString &line);

    int scrollPosition() const { return m_position; }
    // Scrolls to line `line` (from 0), kept within the lines.
    void setScrollPosition(int line);

    void stepBy(int steps) override;

signals:
    void focusEntered();
    void focusLeft();

protected:
    StepEnabled stepEnabled() const override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void show();

    QStringList m_lines;
    int m_position = 0;
};

// Kinds of value list, for SelectListValue.
enum class ValueListKind {
    Zoom = 0,       // 400 .. 10
    TitleCount = 1, // 20 .. 0
    Margin = 2      // 3.0 .. 1.0
};

// The lines of each kind when the window loads.
QStringList ZoomLines();
QStringList TitleCountLines();
QStringList MarginLines();

// The box's value: the line at its scroll position ("" for an empty box).
QString CurrentListValue(const ValueListBox &box);

// Shows value in the box. Zoom and title counts scroll to their line; a
// margin scrolls to the nearest tenth. A value beyond the lines is added as a
// new line (first when above them, last when below) and shown; it stays
// while the window is open.
void SelectListValue(ValueListBox &box, double value, ValueListKind kind);
