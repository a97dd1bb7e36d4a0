#pragma once

#include "naming/SaveHost.h"

#include <functional>

class CameraPanel;
class PreviewPanel;
class QLineEdit;

// What the save flow does in the main window: the typed name's focus, the
// distinguishing number, the camera buttons, the preview, the write-back and
// the status line. It reads nothing: the naming inputs reach the flow as a
// value.
class WindowSaveHost : public SaveHost
{
public:
    struct Parts
    {
        QLineEdit *Texfname; // the typed name, focused when it is missing
        QLineEdit *Texqbm;   // the distinguishing number
        CameraPanel *camera;
        PreviewPanel *preview;
        std::function<WriteBackNote()> writeBack;
        std::function<void(const QString &)> status;
    };

    explicit WindowSaveHost(Parts parts)
        : m_parts(std::move(parts))
    {
    }

    void focusTypedName() override;
    void setNumberText(const QString &text) override;
    WriteBackNote writeBackFileName() override;
    bool stillAlreadyFiled() const override;
    void markStillFiled() override;
    void centrePreviewPicture() override;
    void setButtonEnabled(SaveButton button, bool enabled) override;
    void setStatus(const QString &text) override;

private:
    Parts m_parts;
};
