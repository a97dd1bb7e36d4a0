#pragma once

#include "app/RosterStore.h"

#include <QString>
#include <QStringList>

struct DataSource;
class MessageService;
class QWidget;

// The photo day's settings of each roster, so that a restart in the middle
// of the day goes on where it stopped: the save folder, the name columns,
// the sub-folders, the write-back switch and column, the extension, the
// format, the distinguishing number (and its next value) and the caption
// line. They are stored per roster (RosterStore) when the window closes and
// when another roster is opened; when a roster with a stored day is opened
// again the operator is asked "继续上次的拍摄设置？" (Yes by default). A
// roster never seen keeps the window's usual start. The window's own keys
// are not touched.
//
// Columns are kept by their names, so a roster whose columns moved still
// gets the right ones; a column that is gone is said, and its picker left
// as it is. The window's controls are found by objectName.
class RosterResume
{
public:
    RosterResume(QWidget &window, const DataSource &ds, MessageService *messages);

    // The roster whose settings the window shows now: stores them for it.
    // Nothing happens while no roster was opened.
    void leaveRoster();
    // A roster was opened and loaded. When it is not the one in charge
    // already and a day is stored for it, asks, and on Yes puts the day's
    // settings back. It is the roster in charge from now on. Returns a line
    // for the status bar (empty when nothing was restored).
    QString rosterOpened();

    // The settings on show, stored for `store`. False when the store
    // refused a value.
    static bool save(const QWidget &window, const RosterStore &store);
    // Whether a day is stored for `store`.
    static bool hasDay(const RosterStore &store);
    // Puts the stored day back into the window's controls, each through its
    // own change handling. The write-back is switched on only when
    // writeBackAllowed (the roster was opened with keys). Returns what could
    // not be put back, one line each.
    static QStringList apply(QWidget &window, const RosterStore &store, bool writeBackAllowed);

private:
    QWidget &m_window;
    const DataSource &m_ds;
    MessageService *m_messages;
    RosterStore m_inCharge;
};

inline const QString kResumeQuestion = QStringLiteral("继续上次的拍摄设置？");
