#pragma once

#include <QObject>

#include <functional>

class QLineEdit;

// Runs a box's check when the operator leaves the box for another control of
// the window (Tab, a click), as the checks of the settings pages expect; not
// when the window itself loses the focus or a menu opens, and not again while
// the check runs (its message box takes the focus). The check returns the
// text to reset the box to, or an empty text to leave it; on a reset the
// focus goes back into the box.
class LeaveCheck : public QObject
{
    Q_OBJECT
public:
    LeaveCheck(QLineEdit *box, std::function<QString(const QString &text)> check);

    // Runs the check now, as leaving the box does.
    void run();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_box;
    std::function<QString(const QString &)> m_check;
    bool m_running = false;
};
