#pragma once

#include "data/DataError.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct DataSource;
class RosterModel;
class QComboBox;

namespace lumora::engine {
class Database;
}

// What one load put into the grid.
struct TableLoad
{
    qsizetype records = 0; // records read (0: the grid shows the empty-result marker)
    QString caption;       // "数据表[N]" for the grid's frame; empty when it stays as it was
};

// Opens the database the DataSource names (not exclusive, not read-only,
// with its connect string), or hands the work to its opener when it has
// one. Throws lumora::engine::EngineError.
std::unique_ptr<lumora::engine::Database> OpenDatabase(const DataSource &ds);
// The database the DataSource's last load opened, when it is still the one
// its fields name; else one opened now and held in its place. Throws
// lumora::engine::EngineError. ForgetDatabase lets it go (after a failure
// that may have left it unsure of the file, or when the roster changes).
lumora::engine::Database &HeldOrOpenDatabase(const DataSource &ds);
void ForgetDatabase(const DataSource &ds);

// The two statements of a load: the field query and the row query. The field
// query's result would only give the field names and types, so LoadTable
// asks the table for them (Database::fields) instead of reading every record
// an extra time.
QString FieldQuery(const QString &tableName);
// "select A & Chr(9) & B as Item  from [T]" + whereClause. A name the
// engine would not read bare is bracketed; a name that cannot be written at
// all leaves the result empty.
QString RowQuery(const QStringList &fieldNames, const QString &tableName, const QString &whereClause);

// The text of the row that stands for an empty result.
inline QString NoRecordsMarker()
{
    return QStringLiteral(" [没有记录]");
}

// The cell texts (one per field) that a load of tableName + whereClause
// shows for one record, or nothing when the filter does not show it.
// Throws lumora::engine::EngineError.
std::optional<QStringList> LoadRecordTexts(lumora::engine::Database &db, const QString &tableName,
                                           const QString &whereClause, qsizetype record);

// The cell texts of every record of the table, as a load without a filter
// shows them, in file order. Throws lumora::engine::EngineError.
QList<QStringList> AllRecordTexts(lumora::engine::Database &db, const QString &tableName);

// Fills the grid from the open database: header row, one row per record of
// tableName + whereClause, a trailing empty row, or the " [没有记录]" marker
// row when nothing matches. Each field value lands in its own cell, tabs
// included. Records the suffix as the model's loadedClause once the load is
// complete. Throws lumora::engine::EngineError; the model is then left as far
// as the load got (its bulk change ended).
TableLoad LoadTable(lumora::engine::Database &db, const QString &tableName, const QString &whereClause,
                    RosterModel &grid);
// Opens the DataSource's database and loads its table through whereClause
// into the grid, as LoadTable does. Never throws: on failure `error` says
// why and the grid is left as far as the load got. `warnings`: the Chinese texts
// of the table's notes that warn (records missing, text that may be misread;
// see EngineNote), each once.
struct GridLoad
{
    TableLoad load;
    std::optional<DataError> error;
    QStringList warnings;
    bool ok() const { return !error; }
};
GridLoad LoadIntoGrid(const DataSource &ds, const QString &whereClause, RosterModel &grid);

// The same with the DataSource's table and its current filter.
TableLoad LoadTable(lumora::engine::Database &db, const DataSource &ds, RosterModel &grid);

// Refills the nine column pickers from the grid's header row: "全部" first in
// Combo1 only, then the header text of every data column in all nine. After
// the fill Combo1, Comkb1, Comkb2, Comfname1, Comfname2 and Comzd are set to
// their first entry (raising their change handlers once, with the lists
// complete); Combo2, Comt1 and Comt2 are left without a selection. Null
// pointers are skipped.
void RefreshColumnPickers(const RosterModel &grid, QComboBox *Combo1, QComboBox *Combo2, QComboBox *Comkb1,
                          QComboBox *Comkb2, QComboBox *Comfname1, QComboBox *Comfname2, QComboBox *Comzd,
                          QComboBox *Comt1, QComboBox *Comt2);
