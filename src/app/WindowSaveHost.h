#pragma once

#include "naming/SaveHost.h"

class Form1;

// The main window as the save flow sees it: its naming controls, the camera
// buttons, the preview and the status line.
class WindowSaveHost : public SaveHost
{
public:
    explicit WindowSaveHost(Form1 &window) : m_window(window) {}

    bool isTableMode() const override;
    bool subFolder1On() const override;
    bool subFolder2On() const override;
    QString nameColumnText() const override;
    QString typedName() const override;
    void focusTypedName() override;
    bool numberOn() const override;
    QString numberText() const override;
    void setNumberText(const QString &text) override;
    WriteBackNote writeBackFileName() override;
    bool stillAlreadyFiled() const override;
    void markStillFiled() override;
    void centrePreviewPicture() override;
    void setButtonEnabled(SaveButton button, bool enabled) override;
    void setStatus(const QString &text) override;

private:
    Form1 &m_window;
};
