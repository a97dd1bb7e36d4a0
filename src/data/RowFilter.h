#pragma once

#include "data/DataError.h"

#include <optional>

#include <QString>
#include <QStringList>

struct DataSource;
class RosterModel;
class QComboBox;

// The row filter under the grid: Combo1 picks the column ("全部" = all rows),
// Combo2 one of its distinct values; the filter is kept as the DataSource's
// whereClause and applied by reloading the grid.

// "select distinct " + column + " from " + tableName (the column bracketed
// only when it needs it, see SqlText::columnName); empty when the name
// cannot be written.
QString DistinctQuery(const QString &column, const QString &tableName);

// The distinct values of the column, as text, in the engine's order; Nulls
// and empty texts share one empty entry, which filters on both (see
// SqlText::equals). Opens and closes the database. Throws
// lumora::engine::EngineError.
QStringList DistinctValues(const DataSource &ds, const QString &column);

// Handler of Combo1: "全部" (or nothing) selected leaves Combo2 with the
// single entry "全部"; a column fills Combo2 with its distinct values,
// leaving it without a selection. Returns why, Combo2 untouched, when the
// column cannot be queried; nothing when the list was filled.
std::optional<DataError> RefillFilterValues(const DataSource &ds, const QComboBox &Combo1, QComboBox &Combo2);

// The filter suffix for Combo1's entry k with text h and Combo2's text v:
// empty for k = 0 ("全部"), else " where " + h + "=" + literal, the literal
// made for the column's type (text quoted with apostrophes doubled, numbers
// checked and bare, dates between "#", booleans True/False).
struct FilterClause
{
    bool ok = false; // false: no clause could be built; keep the previous one
    QString clause;  // "" or " where ..."
    QString error;   // why not, for the window's status line
};
FilterClause BuildFilterClause(int combo1Index, const QString &column, const QString &value,
                               const QList<qint16> &fieldTypes);

// A reload through a filter: the frame caption "数据表[rows - 2]", and why
// the filter was refused or the load failed (the grid then stays as far as
// the load got).
struct FilterLoad
{
    QString caption;
    std::optional<DataError> error;
};

// Reloads the grid through the filter already in force (ds.whereClause).
// Never throws.
FilterLoad ReloadThroughFilter(DataSource &ds, RosterModel &grid);

// ApplyFilter: sets ds.whereClause from the two lists (keeping the previous
// one when no clause can be built) and reloads the grid through it. Never
// throws: the error tells why the clause was refused or, when the reload
// failed too, why that failed.
FilterLoad ApplyFilter(DataSource &ds, RosterModel &grid, int combo1Index, const QString &combo1Text,
                       const QString &combo2Text);
