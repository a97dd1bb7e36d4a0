#include "app/WindowSaveHost.h"

#include "app/CameraPanel.h"
#include "app/PreviewPanel.h"

#include <QLineEdit>

void WindowSaveHost::focusTypedName()
{
    m_parts.Texfname->setFocus();
}

void WindowSaveHost::setNumberText(const QString &text)
{
    m_parts.Texqbm->setText(text);
}

WriteBackNote WindowSaveHost::writeBackFileName()
{
    return m_parts.writeBack();
}

bool WindowSaveHost::stillAlreadyFiled() const
{
    return m_parts.camera->stillFiled();
}

void WindowSaveHost::markStillFiled()
{
    m_parts.camera->markStillFiled();
}

void WindowSaveHost::centrePreviewPicture()
{
    m_parts.preview->CentrePreviewPicture();
}

void WindowSaveHost::setButtonEnabled(SaveButton button, bool enabled)
{
    const int on = enabled ? 1 : 0;
    switch (button) {
    case SaveButton::Take: m_parts.camera->setButtons(-1, -1, on, -1, -1, -1, -1); break;
    case SaveButton::Retake: m_parts.camera->setButtons(-1, -1, -1, on, -1, -1, -1); break;
    case SaveButton::Save: m_parts.camera->setButtons(-1, -1, -1, -1, on, -1, -1); break;
    }
}

void WindowSaveHost::setStatus(const QString &text)
{
    m_parts.status(text);
}
