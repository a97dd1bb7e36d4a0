#pragma once

#include <QString>

#include <functional>

class QWidget;

// The settings writers of the main window, driven by the one key table
// (SettingsStore::keys()): each key names the control it mirrors, found in
// the window by objectName, and its value is that control's state as text —
// a line edit's text, a check box as "0" / "1" / "2", a list's selected
// index. Keys whose control is no widget ("fLabel (font size)") get their
// text from `special`.
class SettingsBinding
{
public:
    SettingsBinding(const QWidget &window, std::function<QString(const QString &control)> special);

    // Writes every key that routine `writtenBy` ("zpsvset", "zpset") writes,
    // in the table's order. Stops at the first key the store refuses and
    // returns its name; empty when every key was written.
    QString write(const QString &writtenBy) const;

    // The stored text of one control's state; empty for an unknown kind.
    static QString storedText(const QWidget *control);

private:
    const QWidget &m_window;
    std::function<QString(const QString &)> m_special;
};
