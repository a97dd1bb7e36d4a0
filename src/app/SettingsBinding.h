#pragma once

#include <QString>

#include <functional>

class QComboBox;
class QLineEdit;
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
    SettingsBinding(QWidget &window, std::function<QString(const QString &control)> special);

    // Writes every key that routine `writtenBy` ("zpsvset", "zpset") writes,
    // in the table's order. Stops at the first key the store refuses and
    // returns its name; empty when every key was written.
    // A list with no entries (a column list before any table was loaded)
    // leaves its key as stored, or stores the key's default when there is
    // none yet.
    QString write(const QString &writtenBy) const;

    // The stored text of one control's state; empty for an unknown kind.
    static QString storedText(const QWidget *control);

    // What the restore sets that is no control of the window.
    struct Restorer
    {
        std::function<void(qint32)> setCropWidth; // the camera's crop
        std::function<void(qint32)> setCropHeight;
        std::function<void(double)> setFontSize; // the caption's font size, points
        std::function<void(qint32)> setColour;   // the caption's colour, packed
    };
    // The start-up restore of the stored settings, in its own order: the
    // first stored value that cannot be applied ends it, leaving the rest as
    // they were.
    void redzpsvset(const Restorer &r) const;

    // A stored number made whole: blanks around it allowed, a fraction
    // rounded half to even; false for text that is no number or does not
    // fit 32 bits.
    static bool wholeNumber(const QString &text, qint32 &value);
    static bool validPackedColour(qint32 value);
    // Applies a stored list index: an index at or above the item count
    // leaves the list alone, -1 clears the selection. False for text that is
    // no index.
    static bool applyListIndex(QComboBox *list, const QString &text);

private:
    QLineEdit *edit(const char *name) const;
    QComboBox *list(const char *name) const;

    QWidget &m_window;
    std::function<QString(const QString &)> m_special;
};
