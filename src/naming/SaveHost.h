#pragma once

#include <QString>

// The three camera buttons the save flow switches.
enum class SaveButton {
    Take,   // Command3 "拍摄照片(&P)"
    Retake, // Command4 "恢复再拍(&R)"
    Save,   // Command8 "保存照片(&S)"
};

// What the save flow needs of the main window: the naming controls it reads,
// the routines of other parts it calls and the controls it sets. The window
// implements it; tests fake it.
class SaveHost
{
public:
    virtual ~SaveHost() = default;

    virtual bool isTableMode() const = 0;       // Option1 "数据表保存" selected
    virtual bool subFolder1On() const = 0;      // Chekb1 ticked
    virtual bool subFolder2On() const = 0;      // Chekb2 ticked
    virtual QString nameColumnText() const = 0; // text shown by Comfname1
    virtual QString typedName() const = 0;      // Texfname
    virtual void focusTypedName() = 0;          // keyboard focus into Texfname
    virtual bool numberOn() const = 0;          // Cheqbm ticked
    virtual QString numberText() const = 0;     // Texqbm
    // Sets Texqbm; its change handling forms the next path.
    virtual void setNumberText(const QString &text) = 0;
    // WriteBackFileName for the grid's currentRow; it may reload the grid.
    // Returns why nothing was written when the operator should know it
    // (the write-back was on but failed), else an empty text.
    virtual QString writeBackFileName() = 0;
    virtual void centrePreviewPicture() = 0;
    virtual void setButtonEnabled(SaveButton button, bool enabled) = 0;
    // One line in the window's status bar saying how the last save went.
    virtual void setStatus(const QString &text) = 0;
};
