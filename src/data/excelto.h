#pragma once

#include <QDialog>
#include <memory>

#include "data/DataSource.h"
class DialogService;
class QButtonGroup;
class QCloseEvent;

namespace lumora::engine {
class Database;
}
namespace Ui {
class excelto;
}

// The open-table window "打开数据表": the operator picks the kind of data
// file, the file, a table and its key columns. The window fills its own
// DataSource as it goes and hands it over only on Open, so browsing and
// cancelling never disturb the table in use. Modeless: the caller shows it
// and it deletes itself when closed. The database stays open while the
// window shows its lists and is released when it closes.
class excelto : public QDialog
{
    Q_OBJECT
public:
    explicit excelto(DialogService *dialogs, QWidget *parent = nullptr);
    ~excelto() override;

    // The Option1_0..Option1_4 buttons, ids 0..4 in kind order.
    QButtonGroup *kindButtons() const { return m_kinds; }

    // Connect string, file extension and file dialog filter of kind 0..4
    // (Excel, Access, FoxPro, dBase, delimited text).
    static QString kindConnectString(int kind);
    static QString kindExtension(int kind);
    static QString kindFilter(int kind);
    // The caption of the kind a connect string belongs to ("dBase数据库").
    static QString kindName(const QString &connectString);

signals:
    // Open was pressed: `chosen` names the kind, file, table, field types
    // and keys (its filter is empty). The main window takes them over and
    // selects its data-table option.
    void tableChosen(const DataSource &chosen);

public:
    // What the window has chosen so far.
    const DataSource &choice() const { return *m_ds; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void chooseKind(int kind);
    void browse();
    void chooseTable(int row);
    void openTable();
    void showError(const QString &text);
    void releaseDatabase();
    // Lets go of the chosen table: its fields, types and keys; 打开 disabled.
    void forgetTable();
    // Lets go of the file's tables and database as well.
    void forgetFile();

    std::unique_ptr<Ui::excelto> ui;
    std::unique_ptr<DataSource> m_ds;
    DialogService *m_dialogs;
    QButtonGroup *m_kinds;
    std::unique_ptr<lumora::engine::Database> m_db;
};
