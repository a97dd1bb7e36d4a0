#pragma once

#include "data/DataError.h"

#include <QList>
#include <QString>
#include <QStringList>

struct DataSource;
class RosterModel;

// Writing a saved photo's file name back into the current row's record.

// What the window's controls say at the moment of the write-back.
struct WriteBackRequest
{
    bool enabled = false;       // Chezd ticked
    int targetIndex = -1;       // Comzd's selected entry: field position; -1 = none
    bool withExtension = false; // Chekzm ticked
    QString extension;          // Comgs: "jpg" or "bmp"
    QString photoName;          // no folder, no extension
    int row = 0;                // the cursor's current row
};

// One key of the record: its column's name, type code and the row's text.
struct WriteBackKey
{
    QString column;
    qint16 type = 0;
    QString value;
};

struct WriteBackStatement
{
    bool ok = false;
    QString statement;
    QString error; // why no statement, for the status line
};

// "h='v' and k=3 and d=#2009-04-19#": one condition per key, in order;
// refused when any key value is blank, is not of its column's type, or the
// column's type cannot be compared, since leaving such a key out (or
// matching every blank key) would reach other people's records too.
WriteBackStatement BuildKeyConditions(const QList<WriteBackKey> &keys);
// The same with the key columns' names as statements spell them (see
// KeyColumnNames), made once for many rows; an empty name cannot be used.
WriteBackStatement BuildKeyConditions(const QList<WriteBackKey> &keys, const QList<QString> &names);
QList<QString> KeyColumnNames(const QList<WriteBackKey> &keys);

// The value stored: photoName, plus "." + extension when asked.
QString StoredFileName(const QString &photoName, bool withExtension, const QString &extension);

// "update " + table + " set " + target + "=" + literal + " where " + conditions,
// the literal made for the target's type (text and memo quoted with
// apostrophes doubled, double and date checked). Refused when the target is
// one of the key columns (names compared ignoring letter case, as the
// engines do).
WriteBackStatement BuildUpdateStatement(const QString &tableName, const QString &targetColumn,
                                        qint16 targetType, const QString &storedValue,
                                        const QList<WriteBackKey> &keys);

// The keys of a grid row, from the DataSource's key columns and the grid's
// header row and cells.
QList<WriteBackKey> RowKeys(const DataSource &ds, const RosterModel &grid, int row);

// The statement for the request, or why there is none.
WriteBackStatement BuildWriteBack(const DataSource &ds, const RosterModel &grid,
                                  const WriteBackRequest &request);

struct WriteBackResult
{
    enum class Status {
        Written,     // exactly one record matched and was changed
        SwitchedOff, // the write-back is not switched on: nothing to say
        NoKeys,      // the table was opened without key columns
        NoTarget,    // no (valid) target column chosen
        NotAPerson,  // the row is the trailing empty row or the "no records" marker
        NotBuilt,    // a key is blank, or a key or the value does not fit its column's type
        Failed,      // the engine refused: file locked or read-only, value too long, ...
        NoMatch,     // no record has these key values
        Ambiguous,   // several records have these key values: none was written
    };
    Status status = Status::SwitchedOff;
    qsizetype changed = 0;          // records written: 1 or 0
    qsizetype matched = 0;          // records the key conditions picked
    qsizetype record = -1;          // the record written (engine numbering), or -1
    QString statement;              // what was sent, when something was
    QString reason;                 // the builder's or the engine's words
    std::optional<DataError> error; // Failed: what the engine said

    // Failed because another program held the roster: trying later may work.
    bool locked() const { return error && error->locked(); }

    bool written() const { return status == Status::Written; }
    // One line for the window's status line; empty when written or switched off.
    QString statusText() const;
    // Why nothing was written, without the "文件名未写入数据表" the status line
    // puts before it; empty when written or switched off.
    QString why() const;
};

// WriteBackFileName: builds the update for the request's row, opens the
// database, runs it when the key conditions pick exactly one record, and
// closes it. Never throws. The caller brings the grid up to date
// (RefreshWrittenRow or a reload through the filter) when it is written().
WriteBackResult WriteBackFileName(const DataSource &ds, const RosterModel &grid,
                                  const WriteBackRequest &request);

// Whether the grid row is one person's record: not the header, the trailing
// empty row nor the " [没有记录]" marker row.
bool IsRecordRow(const RosterModel &grid, int row);

// After a write-back into `record` shown on grid row `row`: asks the table
// for that record through the filter the grid was loaded with, and either
// puts its new texts into the row or, when the filter no longer shows it,
// removes the row (the next person moves up into its place). The grid then
// shows what a full reload would. Returns whether the row was removed.
// Throws lumora::engine::EngineError.
bool RefreshWrittenRow(const DataSource &ds, RosterModel &grid, int row, qsizetype record);
