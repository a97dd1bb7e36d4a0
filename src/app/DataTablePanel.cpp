#include "app/DataTablePanel.h"

#include "data/FailureText.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/RowFilter.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/WriteBack.h"
#include "data/engine/Value.h"
#include "data/excelto.h"
#include "dialogs/MessageService.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>

DataTablePanel::DataTablePanel(const Controls &controls, DataSource &ds, RosterModel &roster,
                               RosterCursor &cursor, const NamingState &naming, MessageService *messages,
                               DialogService *dialogs, QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_ds(ds)
    , m_roster(roster)
    , m_cursor(cursor)
    , m_naming(naming)
    , m_messages(messages)
    , m_dialogs(dialogs)
    , m_window(window)
{
    connect(m_c.Command9, &QPushButton::clicked, this, &DataTablePanel::openTableWindow);
    connect(m_c.opentable, &QAction::triggered, this, &DataTablePanel::openTableWindow);
    // The program's own selections in Combo1 (the picker refill) fill Combo2
    // too; Combo2 filters only on the operator's pick.
    connect(m_c.Combo1, &QComboBox::currentIndexChanged, this, &DataTablePanel::filterColumnChosen);
    connect(m_c.Combo2, &QComboBox::activated, this, &DataTablePanel::filterValuePicked);
    connect(m_c.Chezd, &QCheckBox::toggled, this, &DataTablePanel::writeBackSwitchToggled);
    // Every selection of Comzd is checked, the operator's (a pick from the
    // list ends in this signal too, before activated) and the program's.
    connect(m_c.Comzd, &QComboBox::currentIndexChanged, this, &DataTablePanel::writeBackColumnChanged);
    m_c.Label5->installEventFilter(this);
}

bool DataTablePanel::eventFilter(QObject *watched, QEvent *event)
{
    // Label5 has no click signal of its own: its clicks are caught here.
    if (watched == m_c.Label5 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_c.Label5->isEnabled() &&
            m_c.Label5->rect().contains(mouse->position().toPoint())) {
            filterLabelClicked();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DataTablePanel::openTableWindow()
{
    // One open-table window at a time; asking again brings it forward.
    if (m_tableWindow) {
        m_tableWindow->raise();
        m_tableWindow->activateWindow();
        return;
    }
    m_tableWindow = new excelto(m_dialogs, m_window);
    connect(m_tableWindow, &excelto::tableChosen, this, &DataTablePanel::takeChosenTable);
    m_tableWindow->show();
}

void DataTablePanel::takeChosenTable(const DataSource &chosen)
{
    // The window's choice takes over only now, on 打开: a browse that was
    // cancelled never reaches the roster in use.
    m_ds.connectString = chosen.connectString;
    m_ds.fileExtension = chosen.fileExtension;
    m_ds.databasePath = chosen.databasePath;
    m_ds.tableName = chosen.tableName;
    m_ds.fieldTypes = chosen.fieldTypes;
    m_ds.keyColumns = chosen.keyColumns;
    m_ds.keyCount = chosen.keyCount;
    ForgetDatabase(m_ds);
    // A roster just opened starts on its first person.
    m_cursor.setResume(1, 1);

    emit tableChosen();
}

bool DataTablePanel::loadIntoGrid()
{
    // Data-table mode always shows every row, whatever the filter lists say.
    const GridLoad loaded = LoadIntoGrid(m_ds, QString(), m_roster);
    m_tableWarnings = loaded.warnings.isEmpty()
                          ? QString()
                          : QStringLiteral("注意：") + loaded.warnings.join(QStringLiteral("；"));
    if (loaded.error) {
        emit status(QStringLiteral("数据表无法载入：") + loaded.error->text());
        return false;
    }
    if (!loaded.load.caption.isEmpty())
        m_c.Frame4->setTitle(loaded.load.caption);
    fitColumns();
    m_cursor.resume();
    emit gridReloaded();
    return true;
}

void DataTablePanel::reloadThroughFilter()
{
    const FilterLoad load = ReloadThroughFilter(m_ds, m_roster);
    m_c.Frame4->setTitle(load.caption);
    fitColumns();
    m_cursor.moveTo(1, 1);
    if (load.error)
        emit status(QStringLiteral("数据表无法载入：") + load.error->text());
    emit gridReloaded();
}

QString DataTablePanel::loadedTableIdentity() const
{
    QStringList parts{m_ds.databasePath, m_ds.connectString, m_ds.tableName};
    for (int c = 1; c < m_roster.cols(); ++c)
        parts << m_roster.cellText(0, c);
    return parts.join(QLatin1Char('\n'));
}

void DataTablePanel::fitColumns()
{
    // A load gives every data column 50 pixels, which cuts a student number
    // or a date in half: widen each column to its header and the texts of
    // the first rows, within reason.
    constexpr int sampleRows = 200;
    constexpr int widest = 240;
    TableGrid *g = m_c.Grid1;
    const QFontMetrics cellMetrics(g->font());
    const QFontMetrics headerMetrics(g->horizontalHeader()->font());
    const int lastRow = qMin(m_roster.rows() - 1, sampleRows);
    for (int c = 1; c < m_roster.cols(); ++c) {
        const int loaded = g->gridColumnWidth(c);
        int width = headerMetrics.horizontalAdvance(m_roster.cellText(0, c)) + 16;
        for (int r = 1; r <= lastRow; ++r)
            width = qMax(width, cellMetrics.horizontalAdvance(m_roster.cellText(r, c)) + 10);
        g->setGridColumnWidth(c, qMax(loaded, qMin(width, widest)));
    }
}

void DataTablePanel::refreshColumnPickers()
{
    const QScopedValueRollback quiet(m_programChoosing, true);
    RefreshColumnPickers(m_roster, m_c.Combo1, m_c.Combo2, m_c.Comkb1, m_c.Comkb2, m_c.Comfname1,
                         m_c.Comfname2, m_c.Comzd, m_c.Comt1, m_c.Comt2);
    m_pickerKeys = m_ds.keyColumns;
}

void DataTablePanel::followKeys()
{
    if (m_ds.keyColumns == m_pickerKeys)
        return;
    // The same table opened with other keys: the fields are the same, so the
    // naming pickers keep their choices, but the write-back column is filled
    // and checked afresh, and a column that became a key is let go.
    const QScopedValueRollback programs(m_programChoosing, true);
    const int chosen = m_c.Comzd->currentIndex();
    {
        const QSignalBlocker quiet(m_c.Comzd);
        m_c.Comzd->clear();
        for (int c = 1; c < m_roster.cols(); ++c)
            m_c.Comzd->addItem(m_roster.cellText(0, c));
        m_c.Comzd->setCurrentIndex(-1);
    }
    m_c.Comzd->setCurrentIndex(chosen < m_c.Comzd->count() ? chosen : -1);
    m_pickerKeys = m_ds.keyColumns;
}

bool DataTablePanel::isWriteBackTarget(int index) const
{
    using namespace lumora::engine;
    return index >= 0 && index < m_ds.fieldTypes.size() && m_ds.fieldTypes.at(index) == DaoText &&
           !m_ds.keyColumns.contains(qint16(index + 1));
}

void DataTablePanel::filterColumnChosen()
{
    if (const std::optional<DataError> error = RefillFilterValues(m_ds, *m_c.Combo1, *m_c.Combo2))
        emit status(QStringLiteral("筛选值无法读取：") + error->text());
}

void DataTablePanel::filterValuePicked(int index)
{
    const FilterLoad load = ApplyFilter(m_ds, m_roster, m_c.Combo1->currentIndex(), m_c.Combo1->currentText(),
                                        m_c.Combo2->itemText(index));
    m_c.Frame4->setTitle(load.caption);
    fitColumns();
    // The operator goes on from the first row shown.
    m_cursor.moveTo(1, 1);
    emit status(load.error ? QStringLiteral("筛选未生效：") + load.error->text() : QString());
    emit gridReloaded();
}

void DataTablePanel::writeBackSwitchToggled(bool checked)
{
    if (m_inWriteBackSwitch)
        return;
    const QScopedValueRollback guard(m_inWriteBackSwitch, true);
    if (m_ds.keyCount < 1) {
        m_messages->show(
            m_window,
            QStringLiteral("你在打开数据时没有指定主键，请重新打开数据表，并指定主主键，详细见帮助。"));
        if (m_c.Chezd->isChecked())
            m_c.Chezd->setChecked(false);
        return;
    }
    m_c.Comzd->setEnabled(checked);
    m_c.Chekzm->setEnabled(checked);
}

void DataTablePanel::writeBackColumnChanged(int index)
{
    using namespace lumora::engine;
    if (index < 0 || isWriteBackTarget(index))
        return;
    // A key or a column that is no text is never the target, whoever chose
    // it: the picker is left without a column, so that nothing is written
    // until the operator picks one (the first entry is no safe stand-in: it
    // is most often the student number).
    const QString name = m_c.Comzd->itemText(index);
    m_c.Comzd->setCurrentIndex(-1);
    // The program's own choices (filling the pickers, following new keys,
    // resuming a day) are not the operator's doing: nothing to tell.
    if (m_programChoosing || index >= m_ds.fieldTypes.size())
        return;
    if (m_ds.fieldTypes.at(index) == DaoText)
        m_messages->show(m_window, name + QStringLiteral(" 已被您在打开") +
                                       excelto::kindName(m_ds.connectString) +
                                       QStringLiteral("时指定为主键,请重新选择一个列!"));
    else
        m_messages->show(m_window, QStringLiteral("请选择文本型的列"));
}

void DataTablePanel::setProgramChoosing(bool on)
{
    m_programChoosing = on;
}

WriteBackRequest DataTablePanel::writeBackRequest() const
{
    WriteBackRequest request;
    request.enabled = m_c.Chezd->isChecked();
    request.targetIndex = m_c.Comzd->currentIndex();
    request.withExtension = m_c.Chekzm->isChecked();
    request.extension = m_c.Comgs->currentText();
    request.photoName = m_naming.photoName;
    request.row = m_cursor.currentRow();
    return request;
}

WriteBackNote DataTablePanel::writeBackForCurrentRow()
{
    WriteBackNote note;
    const WriteBackRequest request = writeBackRequest();
    const WriteBackResult result = WriteBackFileName(m_ds, m_roster, request);
    emit writeBackTried(request, result);
    if (!result.written()) {
        note.text = result.statusText();
        return note;
    }

    // The grid shows the stored name as a reload through the filter would.
    // A column chosen in Combo1 without a value picked in Combo2 would
    // filter on the empty text and empty the grid mid-session: the filter
    // in force stays instead.
    QString error;
    const bool valuePicked = m_c.Combo1->currentIndex() <= 0 || m_c.Combo2->currentIndex() >= 0;
    QString clause = m_ds.whereClause;
    if (valuePicked) {
        const FilterClause picked = BuildFilterClause(m_c.Combo1->currentIndex(), m_c.Combo1->currentText(),
                                                      m_c.Combo2->currentText(), m_ds.fieldTypes);
        if (picked.ok)
            clause = picked.clause;
    }
    bool refreshed = false;
    if (m_roster.loadedClause() == clause) {
        // Only the written record changed: ask for that one record instead
        // of reading the whole table again.
        try {
            note.rowRemoved = RefreshWrittenRow(m_ds, m_roster, request.row, result.record);
            m_ds.whereClause = clause;
            m_c.Frame4->setTitle(QStringLiteral("数据表[%1]").arg(m_roster.rows() - 2));
            // The stored name may be wider than the column was.
            fitColumns();
            refreshed = true;
        } catch (...) {
            error = CurrentFailureText();
        }
    }
    if (!refreshed) {
        const FilterLoad load = valuePicked
                                    ? ApplyFilter(m_ds, m_roster, m_c.Combo1->currentIndex(),
                                                  m_c.Combo1->currentText(), m_c.Combo2->currentText())
                                    : ReloadThroughFilter(m_ds, m_roster);
        error = load.error ? load.error->text() : QString();
        m_c.Frame4->setTitle(load.caption);
        fitColumns();
        emit gridReloaded();
    }
    if (!error.isEmpty())
        note.text = QStringLiteral("文件名已写入数据表，表格未能重新载入：") + error;
    return note;
}

void DataTablePanel::filterLabelClicked()
{
    TableGrid *g = m_c.Grid1;
    const int row = m_cursor.currentRow();
    const int column = g->activeColumn();
    if (!m_c.Chezd->isChecked())
        return;
    // Only a photo that is there may be booked in the roster.
    if (!IsRecordRow(m_roster, row)) {
        WriteBackResult refused;
        refused.status = WriteBackResult::Status::NotAPerson;
        emit status(refused.statusText());
        return;
    }
    if (m_naming.photoPath.isEmpty() || !QFileInfo(m_naming.photoPath).isFile()) {
        emit status(QStringLiteral("文件名未写入数据表：第 %1 行的照片 %2 还没有保存")
                        .arg(row)
                        .arg(m_naming.photoPath));
        return;
    }
    const WriteBackNote note = writeBackForCurrentRow();
    // A reload forgets the active cell: the operator stays on the row (or
    // on whoever moved up into it).
    if (g->activeRow() != row || note.rowRemoved)
        m_cursor.moveTo(row, column);
    if (!note.text.isEmpty())
        emit status(note.text);
    else
        emit status(QStringLiteral("文件名已写入数据表：第 %1 行").arg(row));
}
