#pragma once

#include "naming/FormPhotoPath.h"
#include "naming/NamingState.h"

#include <QString>

class CaptureControl;
class MessageService;
class SaveHost;
class RosterCursor;
class RosterModel;
class QWidget;

inline const QString kOverwriteQuestion = QStringLiteral("照片文件重名，你如保存，将覆盖原来的，保存吗？");
inline const QString kNoFileNameMessage = QStringLiteral("没有设置文件名，请先设置！");
inline const QString kPastLastRowMessage = QStringLiteral("已移出最后一行！");

// The save command ("保存照片(&S)", button Command8 and menu item savezhao):
// writes the taken still to the formed path, books it (write-back and next
// row in data-table mode, the list of saved photos in ordinary mode), raises
// the distinguishing number and sets the camera buttons.
class SaveFlow
{
public:
    enum class Outcome {
        Saved,      // written and booked; Command8 disabled
        SavedAtEnd, // written, but no next row: nothing booked, buttons as after a failure
        Declined,   // the operator kept the existing file; nothing changed
        StillFiled, // data-table mode: this still was already saved for a person; nothing changed
        NoName,     // no file name set; message shown, nothing changed
        Failed,     // nothing written; buttons as after a failure
    };

    SaveFlow(SaveHost &host, RosterModel &roster, RosterCursor &cursor, CaptureControl &camera,
             MessageService &messages, QWidget *dialogParent = nullptr);

    // Runs the whole save with the naming state as the last FormPhotoPath
    // left it and the naming controls as they stand. Both are copied first:
    // the row change and the number change during the save form the next
    // path while this one is in use.
    Outcome run(const NamingState &naming, const NamingInputs &inputs);

private:
    Outcome interrupted(const QString &status);
    bool makeFolder(const QString &path);
    // QFile::moveToTrash into the user's trash; false (and the file where
    // it was) when it did not go there.
    static bool moveToTrash(const QString &path, QString *trashed);
    static bool putBackFromTrash(const QString &trashed, const QString &original);
    void appendToSavedList(const QString &typedName, const QString &photoPath);

    SaveHost &m_host;
    RosterModel &m_roster;
    RosterCursor &m_cursor;
    CaptureControl &m_camera;
    MessageService &m_messages;
    QWidget *m_parent;
};
