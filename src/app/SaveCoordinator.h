#pragma once

#include "naming/SaveHost.h"

#include <QObject>

#include <functional>
#include <optional>

class CameraPanel;
class CaptionPanel;
class CaptureControl;
class DataTablePanel;
class MessageService;
class NamingPanel;
class PendingPanel;
class PhotoDayPanel;
class PreviewPanel;
class QLineEdit;
class QWidget;
class RosterCursor;
class RosterModel;
class ShotLimit;
struct NamingState;

// The save of a photo in the main window ("保存照片(&S)": Command8 and
// savezhao). It runs the save flow and is the flow's host: the typed
// name's focus, the distinguishing number, the camera buttons, the preview
// and the status line. Around the write-back it brings the panels in turn:
// the table panel writes the name back, the pending names reword a refused
// write, the photo day drops the saved person and says who is next. A grid
// reload during the write-back is noted and handed to the photo day after
// it rather than acted on at once.
class SaveCoordinator : public QObject, public SaveHost
{
    Q_OBJECT
public:
    struct Parts
    {
        QLineEdit *Texfname; // the typed name, focused when it is missing
        QLineEdit *Texqbm;   // the distinguishing number
        CameraPanel *camera;
        PreviewPanel *preview;
        CaptionPanel *caption;
        NamingPanel *naming;
        DataTablePanel *data;
        PendingPanel *pending;
        PhotoDayPanel *photoDay;
        RosterModel *roster;
        RosterCursor *cursor;
        CaptureControl *capture; // nullptr: no camera component
        MessageService *messages;
        QWidget *window; // the dialogs' parent
        std::function<void(const QString &)> setStatus;
        std::function<QString()> statusText;
        ShotLimit *shots = nullptr; // asks before a second photo of a person
    };

    SaveCoordinator(Parts parts, QObject *parent);

    // Saves the still to the path `naming` holds, as the naming controls
    // stand.
    void save(const NamingState &naming);
    // The grid was filled afresh from the table.
    void rosterReloaded();

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
    // While a write-back runs: whether the grid was reloaded during it.
    std::optional<bool> m_reloadedInWriteBack;
    QString m_savedPath; // the photo of the save under way
};
