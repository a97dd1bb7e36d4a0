#include "app/WindowSaveHost.h"

#include "app/CameraPanel.h"
#include "app/Form1.h"
#include "ui_Form1.h"

bool WindowSaveHost::isTableMode() const
{
    return m_window.ui()->Option1->isChecked();
}

bool WindowSaveHost::subFolder1On() const
{
    return m_window.ui()->Chekb1->isChecked();
}

bool WindowSaveHost::subFolder2On() const
{
    return m_window.ui()->Chekb2->isChecked();
}

QString WindowSaveHost::nameColumnText() const
{
    return m_window.ui()->Comfname1->currentText();
}

QString WindowSaveHost::typedName() const
{
    return m_window.ui()->Texfname->text();
}

void WindowSaveHost::focusTypedName()
{
    m_window.ui()->Texfname->setFocus();
}

bool WindowSaveHost::numberOn() const
{
    return m_window.ui()->Cheqbm->isChecked();
}

QString WindowSaveHost::numberText() const
{
    return m_window.ui()->Texqbm->text();
}

void WindowSaveHost::setNumberText(const QString &text)
{
    m_window.ui()->Texqbm->setText(text);
}

WriteBackNote WindowSaveHost::writeBackFileName()
{
    return m_window.writeBackFileName();
}

bool WindowSaveHost::stillAlreadyFiled() const
{
    return m_window.m_camera->stillFiled();
}

void WindowSaveHost::markStillFiled()
{
    m_window.m_camera->markStillFiled();
}

void WindowSaveHost::centrePreviewPicture()
{
    m_window.CentrePreviewPicture();
}

void WindowSaveHost::setButtonEnabled(SaveButton button, bool enabled)
{
    Ui::Form1 *ui = m_window.ui();
    switch (button) {
    case SaveButton::Take:
        ui->Command3->setEnabled(enabled);
        break;
    case SaveButton::Retake:
        ui->Command4->setEnabled(enabled);
        break;
    case SaveButton::Save:
        ui->Command8->setEnabled(enabled);
        break;
    }
}

void WindowSaveHost::setStatus(const QString &text)
{
    m_window.setStatus(text);
}
