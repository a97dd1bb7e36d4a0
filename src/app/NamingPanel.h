#pragma once

#include "naming/FormPhotoPath.h"
#include "naming/NamingState.h"

#include <QObject>
#include <QString>

class DialogService;
class MessageService;
class StatusLine;
class RosterCursor;
class RosterModel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

// The naming controls of the "照片保存设置" page: the save folder, the two
// variable sub-folders, the name columns or the typed name, the
// distinguishing number and the format. Every change forms the next photo
// path (FormPhotoPath) into the naming state and shows it in Text2; a path
// that cannot be formed is said in the status line until one can.
class NamingPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QLineEdit *Text1;      // save folder
        QPushButton *Command7; // 浏览: the folder browser
        QCheckBox *Chekb1;
        QComboBox *Comkb1; // sub-folder 1 column
        QCheckBox *Chekb2;
        QComboBox *Comkb2;    // sub-folder 2 column
        QLineEdit *Texfname;  // typed name (ordinary mode)
        QComboBox *Comfname1; // name column (data-table mode)
        QCheckBox *Chefname2;
        QComboBox *Comfname2; // second name column
        QCheckBox *Cheqbm;
        QLineEdit *Texqbm;     // distinguishing number
        QComboBox *Comgs;      // format
        QCheckBox *Chekzm;     // "带扩展名" + format
        QRadioButton *Option1; // data-table mode
        QLineEdit *Text2;      // the formed path
    };

    NamingPanel(const Controls &controls, NamingState &naming, const RosterModel &roster,
                const RosterCursor &cursor, MessageService *messages, DialogService *dialogs,
                StatusLine *status, QWidget *window);

    // What FormPhotoPath reads from the controls, as they stand.
    NamingInputs inputs() const;
    // Recomputes the naming state and Text2 for the cursor's current row.
    void formPhotoPath();
    // Why the last FormPhotoPath refused the path; empty when it did not.
    const QString &problem() const { return m_namingProblem; }
    void updateExtensionCaption();

private:
    void chooseSaveFolder();
    void subFolder1Toggled(bool on);
    void subFolder2Toggled(bool on);
    void secondNameToggled(bool on);
    void numberToggled(bool on);

    Controls m_c;
    NamingState &m_naming;
    const RosterModel &m_roster;
    const RosterCursor &m_cursor;
    MessageService *m_messages;
    DialogService *m_dialogs;
    StatusLine *m_status;
    QWidget *m_window;
    QString m_namingProblem;
};
