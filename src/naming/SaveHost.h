#pragma once

#include <QString>

// The three camera buttons the save flow switches.
enum class SaveButton {
    Take,   // Command3 "拍摄照片(&P)"
    Retake, // Command4 "恢复再拍(&R)"
    Save,   // Command8 "保存照片(&S)"
};

// How a write-back went, as the save flow needs to know it.
struct WriteBackNote
{
    QString text; // why nothing was written, for the status line; empty when there is nothing to say
    bool rowRemoved = false; // the saved row left the grid (the filter no longer shows it): the
                             // next person now stands on the same row
    int nextRow = 0;         // > 0: rows left the grid around the saved one, and the next person
                             // now stands on this row
};

// What the save flow does to the main window: the routines of other parts
// it calls and the controls it sets. It reads nothing (the naming inputs
// reach the flow as a value). The window implements it; tests fake it.
class SaveHost
{
public:
    virtual ~SaveHost() = default;

    virtual void focusTypedName() = 0; // keyboard focus into Texfname
    // Sets Texqbm; its change handling forms the next path.
    virtual void setNumberText(const QString &text) = 0;
    // WriteBackFileName for the cursor's current row; it may reload the grid
    // or remove the row from it.
    virtual WriteBackNote writeBackFileName() = 0;
    // Whether the still on show was already saved for a person in
    // data-table mode; taking a new still clears it.
    virtual bool stillAlreadyFiled() const = 0;
    virtual void markStillFiled() = 0;
    virtual void centrePreviewPicture() = 0;
    virtual void setButtonEnabled(SaveButton button, bool enabled) = 0;
    // One line in the window's status bar saying how the last save went.
    virtual void setStatus(const QString &text) = 0;
};
