#pragma once

#include "data/DataSource.h"
#include "data/WriteBack.h"
#include "naming/NamingState.h"
#include "naming/SaveHost.h"

#include <QObject>
#include <QPointer>
#include <QString>

class DialogService;
class MessageService;
class RosterCursor;
class RosterModel;
class TableGrid;
class excelto;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

// The data table of the main window: the open-table window, the grid in
// its frame, the row filter under it, the write-back switch and column, and
// the column pickers the grid's header fills. It works on the window's
// DataSource, roster and cursor and reads the naming state (the photo's name and path); every
// failure of the table engine ends as a status line, never as an exception.
class DataTablePanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        TableGrid *Grid1;
        QGroupBox *Frame4;     // "数据表[N]"
        QPushButton *Command9; // 打开表
        QAction *opentable;    // 打开表(&O)
        QComboBox *Combo1;     // filter column, "全部" first
        QComboBox *Combo2;     // filter value
        QLabel *Label5;        // "筛选": a click writes the current row's photo name back
        QCheckBox *Chezd;      // write-back switch
        QComboBox *Comzd;      // write-back column
        QCheckBox *Chekzm;     // with extension
        QComboBox *Comgs;      // picture format: the extension
        QComboBox *Comkb1, *Comkb2, *Comfname1, *Comfname2, *Comt1, *Comt2; // the other pickers
    };

    DataTablePanel(const Controls &controls, DataSource &ds, RosterModel &roster, RosterCursor &cursor,
                   const NamingState &naming, MessageService *messages, DialogService *dialogs,
                   QWidget *window);

    // "打开表": shows the open-table window, one at a time.
    void openTableWindow();
    // Opens the database, loads the table unfiltered into the grid and
    // makes the resume cell active. False when the load failed (the status
    // line says why).
    bool loadIntoGrid();
    // What the table of the last loadIntoGrid warns about (records missing,
    // text that may be misread), in one line; empty when nothing.
    const QString &tableWarnings() const { return m_tableWarnings; }
    // Reads the table again through the filter in force (rows dropped from
    // the grid come back) and makes the first row active.
    void reloadThroughFilter();
    // The table the pickers describe: file, table and field names.
    QString loadedTableIdentity() const;
    // Fills the nine column pickers from the grid's header row.
    void refreshColumnPickers();
    // After the table the pickers were filled for was opened again: when
    // its keys changed, fills the write-back column's picker afresh and
    // checks its choice against the new keys.
    void followKeys();
    // Whether field position `index` may take the photo's name: a text
    // column that is not a key.
    bool isWriteBackTarget(int index) const;
    // While on, a write-back column the program chooses and this panel lets
    // go (a key, a column that is no text) is let go without a message.
    void setProgramChoosing(bool on);
    // Widens the data columns to their header and first rows' texts.
    void fitColumns();
    // Writes the photo's name into the Comzd column of the current row's
    // record (Chezd, Chekzm and Comgs as they stand) when the row's keys
    // pick exactly that one record and, when it was written, brings the grid
    // up to date through the row filter. The note says why nothing was
    // written or the grid could not be brought up to date (empty when there
    // is nothing to say) and whether the row left the grid.
    WriteBackNote writeBackForCurrentRow();
    // What the write-back controls say now, for the current row and photo.
    WriteBackRequest writeBackRequest() const;

signals:
    // A table was chosen in the open-table window and taken over: the
    // window selects data-table mode, which loads it.
    void tableChosen();
    void status(const QString &text);
    // The grid was filled afresh from the table (a load, a filter, a reload
    // after a write-back).
    void gridReloaded();
    // A write-back ran for grid row request.row, which the grid still shows
    // as it was: the update has not reached the grid yet.
    void writeBackTried(const WriteBackRequest &request, const WriteBackResult &result);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void takeChosenTable(const DataSource &chosen);
    void filterColumnChosen();
    void filterValuePicked(int index);
    void writeBackSwitchToggled(bool checked);
    void writeBackColumnChanged(int index);
    void filterLabelClicked();

    Controls m_c;
    DataSource &m_ds;
    RosterModel &m_roster;
    RosterCursor &m_cursor;
    const NamingState &m_naming;
    MessageService *m_messages;
    DialogService *m_dialogs;
    QWidget *m_window;
    QPointer<excelto> m_tableWindow;
    QList<qint16> m_pickerKeys; // the keys when the pickers were filled
    QString m_tableWarnings;
    bool m_inWriteBackSwitch = false;
    bool m_programChoosing = false;
};
