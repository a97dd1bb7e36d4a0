#include "app/SaveCoordinator.h"

#include "app/CameraPanel.h"
#include "app/CaptionPanel.h"
#include "app/DataTablePanel.h"
#include "app/NamingPanel.h"
#include "app/PendingPanel.h"
#include "app/PhotoDayPanel.h"
#include "app/PreviewPanel.h"
#include "app/ShotLimit.h"
#include "data/RosterCursor.h"
#include "naming/SaveFlow.h"

#include <QLineEdit>

SaveCoordinator::SaveCoordinator(Parts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
}

void SaveCoordinator::save(const NamingState &naming)
{
    m_parts.caption->refresh();
    if (!m_parts.capture) {
        // Nothing can be written without the camera component: end as any
        // failed save ends.
        setButtonEnabled(SaveButton::Retake, true);
        setButtonEnabled(SaveButton::Take, false);
        setButtonEnabled(SaveButton::Save, false);
        setStatus(QStringLiteral("照片未保存：没有摄像头组件"));
        return;
    }
    // A filed still is refused by the flow itself, without a question.
    const bool asking = m_parts.shots && m_parts.naming->inputs().tableMode && !stillAlreadyFiled();
    if (asking) {
        QString why;
        if (!m_parts.shots->mayShoot(m_parts.cursor->currentRow(), &why)) {
            setStatus(why);
            return;
        }
    }
    SaveFlow flow(*this, *m_parts.roster, *m_parts.cursor, *m_parts.capture, *m_parts.messages,
                  m_parts.window);
    m_savedPath = naming.photoPath; // the file the photo day takes into its count
    const SaveFlow::Outcome outcome = flow.run(naming, m_parts.naming->inputs());
    if (asking && (outcome == SaveFlow::Outcome::Saved || outcome == SaveFlow::Outcome::SavedAtEnd))
        m_parts.shots->shot();
    m_parts.camera->focusNextStep();
    // The save's own line hides a refused path for the next row: keep both.
    const QString problem = m_parts.naming->problem();
    const QString shown = m_parts.statusText();
    if (!problem.isEmpty() && !shown.contains(problem))
        setStatus(shown + QStringLiteral("；") + problem);
}

void SaveCoordinator::rosterReloaded()
{
    m_parts.photoDay->rowsCameBack();
    if (m_reloadedInWriteBack)
        *m_reloadedInWriteBack = true;
    else
        m_parts.photoDay->refresh();
}

WriteBackNote SaveCoordinator::writeBackFileName()
{
    const int savedRow = m_parts.cursor->currentRow();
    m_reloadedInWriteBack = false;
    WriteBackNote note = m_parts.data->writeBackForCurrentRow();
    m_parts.pending->reword(note);
    const bool reloaded = *m_reloadedInWriteBack;
    m_reloadedInWriteBack.reset();
    m_parts.photoDay->afterWriteBack(savedRow, reloaded, note, m_savedPath);
    return note;
}

void SaveCoordinator::focusTypedName()
{
    m_parts.Texfname->setFocus();
}

void SaveCoordinator::setNumberText(const QString &text)
{
    m_parts.Texqbm->setText(text);
}

bool SaveCoordinator::stillAlreadyFiled() const
{
    return m_parts.camera->stillFiled();
}

void SaveCoordinator::markStillFiled()
{
    m_parts.camera->markStillFiled();
}

void SaveCoordinator::centrePreviewPicture()
{
    m_parts.preview->CentrePreviewPicture();
}

void SaveCoordinator::setButtonEnabled(SaveButton button, bool enabled)
{
    const int on = enabled ? 1 : 0;
    switch (button) {
    case SaveButton::Take: m_parts.camera->setButtons(-1, -1, on, -1, -1, -1, -1); break;
    case SaveButton::Retake: m_parts.camera->setButtons(-1, -1, -1, on, -1, -1, -1); break;
    case SaveButton::Save: m_parts.camera->setButtons(-1, -1, -1, -1, on, -1, -1); break;
    }
}

void SaveCoordinator::setStatus(const QString &text)
{
    m_parts.setStatus(text);
}
