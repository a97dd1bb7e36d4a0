#pragma once

#include "naming/PhotoRoll.h"

#include "naming/RosterCheck.h"
#include "naming/SaveHost.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

struct DataSource;
class DialogService;
class RosterCheckWindow;
class TableGrid;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QTimer;
class QWidget;

// How the photo day stands, for the operator to see: "已拍 N / M" beside
// the grid's caption (M people in the view, N of them with their photo
// file), a mark in the row header of each photographed row, the box
// "只显示未拍照" that leaves only the people still missing in the grid, the
// roster check and the list of the people still missing.
class PhotoDayPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        TableGrid *Grid1;
        QGroupBox *Frame4; // "数据表[N]"
        QComboBox *Combo1; // the filter row: the box goes after Combo2
        QLabel *Label4;
        QComboBox *Combo2;
        QMenu *datebase; // 数据表(&B): the check and the export join it
        // The controls whose change changes the names photos get (check
        // boxes, lists, line edits, the two mode options).
        QList<QWidget *> naming;
    };

    // settings: the naming and write-back controls as they stand.
    PhotoDayPanel(const Controls &controls, const DataSource &ds, std::function<RosterCheckInput()> settings,
                  DialogService *dialogs, QWidget *window);

    // Places the filter row's lists and the box on the row at y.
    void layOutFilterRow(int y);
    bool missingOnly() const;

    // Works out who has a photo, marks them, and with "只显示未拍照" drops
    // them from the grid, keeping the operator on the same person (or the
    // next one still missing).
    void refresh();
    // The same a moment later, once a run of setting changes has settled.
    void scheduleRefresh();
    // The grid was filled afresh: every dropped row came back.
    void rowsCameBack() { m_hiddenTaken = 0; }

    // After the write-back of a save in data-table mode (`reloaded`: the
    // grid was filled afresh during it): drops the saved person (and any
    // other photographed one) with "只显示未拍照" on and tells the save flow
    // where the next person stands.
    // `savedPath`: the photo's file. The count follows the saved person
    // alone when nothing else changed; a full count follows a moment later,
    // for photos other programs put in the folders.
    void afterWriteBack(int savedRow, bool reloaded, WriteBackNote &note, const QString &savedPath);

    // 数据表 → 检查数据表, and after a roster is opened (quiet: only when
    // there is something to say). Returns the problems found.
    QStringList checkRoster(bool quiet);
    // 数据表 → 导出未拍照名单: the rows still missing, every column, to a
    // CSV file (UTF-8 with BOM) chosen through the dialog.
    void exportMissing();

    QLabel *progressLabel() const { return m_progress; }

signals:
    void status(const QString &text);
    // Rows dropped from the grid must come back: reload through the filter.
    void reloadRequested();

private:
    // Drops the photographed rows; returns the new row of the person who
    // stood on `anchor` (or of the next one kept after it).
    int dropTaken(const QBitArray &taken, int anchor);
    void missingOnlyToggled(bool on);
    void showProgress(int taken, int people);
    // Takes the saved photo into the last count; false when that count no
    // longer describes the grid and the settings.
    bool followSave(int savedRow, bool rowRemoved, const QString &savedPath,
                    const RosterCheckInput &settings);

    Controls m_c;
    const DataSource &m_ds;
    std::function<RosterCheckInput()> m_settings;
    DialogService *m_dialogs;
    QWidget *m_window;
    QLabel *m_progress;
    QCheckBox *m_missingOnly;
    QAction *m_check;
    QAction *m_export;
    QTimer *m_settle;
    QTimer *m_recount;                        // the full count after saves were followed one by one
    PhotoRoll m_roll;                         // the last count, for following saves
    std::optional<NamingInputs> m_rollInputs; // what it was made with; nothing: not kept
    int m_rollRows = 0;                       // the grid's rows then
    QPointer<RosterCheckWindow> m_checkWindow;
    int m_filterRight;     // where the filter row ends
    int m_hiddenTaken = 0; // photographed rows dropped since the grid was last filled
};
