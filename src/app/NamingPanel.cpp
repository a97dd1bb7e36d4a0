#include "app/NamingPanel.h"

#include "app/StatusLine.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/WriteBack.h"
#include "dialogs/MessageService.h"
#include "naming/FolderBrowser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

NamingPanel::NamingPanel(const Controls &controls, NamingState &naming, const RosterModel &roster,
                         const RosterCursor &cursor, MessageService *messages, DialogService *dialogs,
                         StatusLine *status, QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_naming(naming)
    , m_roster(roster)
    , m_cursor(cursor)
    , m_messages(messages)
    , m_dialogs(dialogs)
    , m_status(status)
    , m_window(window)
{
    // Setting a naming control from code (start-up, settings restore, mode
    // switches, another handler) must form the path as a user's change does:
    // hence textChanged, currentIndexChanged and toggled, never clicked.
    const auto form = [this] { formPhotoPath(); };
    connect(m_c.Text1, &QLineEdit::textChanged, this, form);
    connect(m_c.Command7, &QPushButton::clicked, this, &NamingPanel::chooseSaveFolder);
    connect(m_c.Chekb1, &QCheckBox::toggled, this, &NamingPanel::subFolder1Toggled);
    connect(m_c.Chekb2, &QCheckBox::toggled, this, &NamingPanel::subFolder2Toggled);
    connect(m_c.Comkb1, &QComboBox::currentIndexChanged, this, form);
    connect(m_c.Comkb2, &QComboBox::currentIndexChanged, this, form);
    connect(m_c.Texfname, &QLineEdit::textChanged, this, form);
    connect(m_c.Comfname1, &QComboBox::currentIndexChanged, this, form);
    connect(m_c.Comfname2, &QComboBox::currentIndexChanged, this, form);
    connect(m_c.Chefname2, &QCheckBox::toggled, this, &NamingPanel::secondNameToggled);
    connect(m_c.Cheqbm, &QCheckBox::toggled, this, &NamingPanel::numberToggled);
    connect(m_c.Texqbm, &QLineEdit::textChanged, this, form);
    connect(m_c.Chekzm, &QCheckBox::toggled, this, &NamingPanel::updateExtensionCaption);
}

NamingInputs NamingPanel::inputs() const
{
    NamingInputs in;
    in.saveFolder = m_c.Text1->text();
    in.tableMode = m_c.Option1->isChecked();
    in.subFolder1On = m_c.Chekb1->isChecked();
    in.subFolder1Index = m_c.Comkb1->currentIndex();
    in.subFolder2On = m_c.Chekb2->isChecked();
    in.subFolder2Index = m_c.Comkb2->currentIndex();
    in.name1Index = m_c.Comfname1->currentIndex();
    in.name2On = m_c.Chefname2->isChecked();
    in.name2Index = m_c.Comfname2->currentIndex();
    in.numberOn = m_c.Cheqbm->isChecked();
    in.numberText = m_c.Texqbm->text();
    in.typedName = m_c.Texfname->text();
    in.format = m_c.Comgs->currentText();
    return in;
}

void NamingPanel::formPhotoPath()
{
    const PhotoPathResult result = FormPhotoPath(inputs(), currentRowCells(m_roster, m_cursor), m_naming);
    m_naming = result.state;
    if (const std::optional<QString> text2 = result.text2())
        m_c.Text2->setText(*text2);
    if (!result.message.isEmpty())
        m_messages->show(m_window, result.message);
    // A refused path stays in the status line until a path is formed again.
    if (!result.formed)
        return;
    // The trailing empty row is nobody: that it has no name is no news.
    QString problem = result.problem;
    if (problem == kBlankNameProblem && !IsRecordRow(m_roster, m_cursor.currentRow()))
        problem.clear();
    if (!problem.isEmpty()) {
        m_status->setMessage(problem);
    } else if (!m_namingProblem.isEmpty() && m_status->message().contains(m_namingProblem)) {
        QString shown = m_status->message();
        shown.remove(QStringLiteral("；") + m_namingProblem);
        shown.remove(m_namingProblem);
        m_status->setMessage(shown);
    }
    m_namingProblem = problem;
}

void NamingPanel::chooseSaveFolder()
{
    // A cancelled choice empties Text1, so that the operator is told to choose.
    m_c.Text1->setText(::browseSaveFolder(*m_dialogs, m_window, m_c.Text1->text()));
}

void NamingPanel::subFolder1Toggled(bool on)
{
    m_c.Comkb1->setEnabled(on);
    if (on) {
        m_c.Chekb2->setEnabled(true);
    } else {
        // Clearing the second sub-folder runs its own handling first.
        m_c.Chekb2->setChecked(false);
        m_c.Chekb2->setEnabled(false);
        m_c.Comkb2->setEnabled(false);
    }
    formPhotoPath();
}

void NamingPanel::subFolder2Toggled(bool on)
{
    m_c.Comkb2->setEnabled(on);
    formPhotoPath();
}

void NamingPanel::secondNameToggled(bool on)
{
    m_c.Comfname2->setEnabled(on);
    formPhotoPath();
}

void NamingPanel::numberToggled(bool on)
{
    formPhotoPath();
    m_c.Texqbm->setEnabled(on);
}

void NamingPanel::updateExtensionCaption()
{
    m_c.Chekzm->setText(QStringLiteral("带扩展名") + m_c.Comgs->currentText());
}
