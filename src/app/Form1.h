#pragma once

#include "app/CaptionPanel.h"
#include "app/CropFramePanel.h"
#include "app/WindowSession.h"
#include "data/DataSource.h"
#include "help/HelpMenu.h"
#include "naming/NamingState.h"
#include "naming/SaveHost.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

class CaptureControl;
class DialogService;
class MessageService;
class ShellService;
class CameraPanel;
class DataTablePanel;
class FramingPanel;
class NamingPanel;
class PendingPanel;
class PhotoDayPanel;
class PreviewPanel;
class SaveCoordinator;
class ScanPanel;
class ShotLimit;
class RosterResume;
class SettingsBinding;
class StatusLine;
class TableGrid;
class QCloseEvent;
struct NamingInputs;
struct ScanCard;

namespace Ui {
class Form1;
}

// The main window: preview, camera buttons, data table, the two settings
// pages and the menus. It is handed its services so that tests can drive it
// without a camera, message boxes or dialogs.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    // programFolder holds default.bmp and, when it can be written, temp.jpg.
    // capture may be nullptr (no camera component): the window then says so
    // in its status line and the camera commands do nothing. opener reaches
    // the roster's database; empty: the file the open-table window chose.
    Form1(CaptureControl *capture, MessageService *messages, DialogService *dialogs,
          const QString &programFolder, DatabaseOpener opener = {}, QWidget *parent = nullptr);
    ~Form1() override;

    TableGrid *grid() const;

    // --- settings (written on close, restored at start-up) ---
    void zpsvset();
    void zpset();
    void redzpsvset();
    // The writers' binding of the key table to this window's controls.
    SettingsBinding settingsBinding();

    // Shows the table-mode naming controls (true) or the typed-name box.
    void SetTableModeControls(bool tableMode);

    // --- preview panel ---
    void CentrePreviewPicture();
    // The file at the naming state's photoPath, or the placeholder when it does not exist.
    void ShowCurrentRowPhoto();
    // The file listed in column 2 of the grid row (ordinary mode), or the placeholder.
    void ShowListedPhoto(int row);
    // temp.jpg in the program folder, or in the per-user cache folder when
    // the program folder cannot be written.
    QString tempPhotoPath() const;
    // The program folder is an installed data folder shared by every user
    // (writable only to the superuser): temp.jpg always goes to the cache.
    void setProgramFolderShared(bool shared);

    // The frame colour behind the preview, packed red | green << 8 | blue << 16.
    int frameColour() const;
    // Overlay font size (points) and colour (packed) shown by fLabel.
    double overlayFontSize() const { return m_caption->fontSize(); }
    void setOverlayFontSize(double points) { m_caption->setFontSize(points); }
    int overlayColour() const { return m_caption->colour(); }
    void setOverlayColour(int packed) { m_caption->setColour(packed); }

    // Where the help page and the home page go (none: they do nothing).
    void setShell(ShellService *shell) { m_help->setShell(shell); }

    // The window's status line. While the table loaded warns of something
    // (records missing, text that may be misread), the warning follows
    // `text`, until the operator saves a photo or leaves data-table mode.
    void setStatus(const QString &text);
    QString statusText() const;

    // "退出(&Q)": asks for the program's end at once (quitRequested); the
    // settings are not written when the window then closes.
    void quit();

signals:
    // The program should end now, without the close handling: the owner of
    // the event loop ends it (exit(), not quit(), which would close the
    // windows the normal way and write the settings).
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Lays the window out again when its central widget is resized. (Label5's
    // clicks are caught by the data-table panel, not here.)
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Mode handlers.
    void selectTableMode();
    void selectOrdinaryMode();
    // Picture-format choice: the camera's save format and Chekzm's caption.
    void formatChosen(int index);

    // What FormPhotoPath reads from the naming controls.
    NamingInputs namingInputs() const;
    // The grid's notifications: a new current row, a click on a cell.
    void gridRowChanged(int row);
    void gridClicked();
    // The card to scan of a grid row: its first key, its name and class.
    ScanCard scanCardOf(int row) const;

private:
    // Recomputes the naming state and Text2.
    void formPhotoPath();
    // "保存照片(&S)": Command8 and savezhao.
    void saveHandling();
    void hostVideoWidget();
    // The camera's video widget, or the label standing in its place.
    QWidget *videoArea() const;
    // Places the grid frame, the settings tabs and the path line under the
    // top row for the window's present size.
    void layOutWindow();
    void connectHandlers();
    void startUp();
    void settingsPageChanged(int index);
    void lockClicked(bool checked);
    void connectNamingHandlers();

    WindowSession *m_session = new WindowSession(this);
    Ui::Form1 *m_ui;
    CaptureControl *m_capture;
    MessageService *m_messages;
    DialogService *m_dialogs;
    QString m_programFolder;
    QPointer<QWidget> m_videoWidget;
    PreviewPanel *m_preview = nullptr;
    CameraPanel *m_camera = nullptr;
    DataTablePanel *m_data = nullptr;
    NamingPanel *m_namingPanel = nullptr;
    PhotoDayPanel *m_photoDay = nullptr;
    PendingPanel *m_pending = nullptr;
    StatusLine *m_statusLine = nullptr;
    HelpMenu *m_help = nullptr;
    CropFramePanel *m_cropFrame = nullptr;
    CaptionPanel *m_caption = nullptr;
    FramingPanel *m_framing = nullptr;
    SaveCoordinator *m_saver = nullptr;
    ScanPanel *m_scan = nullptr;
    ShotLimit *m_shots = nullptr;

    // The session's parts, by their short names.
    DataSource &m_dataSource = m_session->source;
    RosterModel &m_roster = m_session->roster;
    RosterCursor &m_cursor = m_session->cursor;
    NamingState &m_naming = m_session->naming;
    QString m_pickersTable; // the loaded table's identity when the pickers were filled
    // What the table loaded warns about (a file cut short, a code page
    // guessed): said with every status until the operator saves a photo,
    // leaves data-table mode or loads a table again.
    QString m_tableWarnings;
    std::unique_ptr<RosterResume> m_resume;
    bool m_tableLoaded = false; // the last data-table mode selection loaded its table

    int m_lastPage = 1;
    bool m_quitting = false;
};
