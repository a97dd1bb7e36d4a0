#pragma once

#include "data/WriteBack.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct DataSource;
class RosterModel;

// A photo's file name the write-back could not store in its person's
// record (the roster locked by another program, a blank or shared key ...),
// kept until it is stored. It carries what the write-back knew when the
// photo was saved, so it can be tried again later, after a restart too:
//
//     person "聂姬（学号 2024000001）", reason "数据表被其他程序锁定：…",
//     update [Sheet1$] set 照片='聂姬.jpg' where 学号='2024000001'
struct PendingWriteBack
{
    QString person;            // who, as the operator knows them: the photo's name and the keys
    QString reason;            // why the name is not stored yet
    bool waitsForLock = false; // refused only because another program held the roster
    QString target;            // the write-back column's name
    qint16 targetType = 0;     // its type code
    QString value;             // the name to store: "聂姬.jpg"
    QString photoPath;         // the photo that name stands for
    QList<WriteBackKey> keys;  // the record's key columns and values at the save
    QStringList columns;       // the grid's header at the save
    QStringList texts;         // the person's row as the grid showed it then, one text per column
};

// Whether a write-back that ended so leaves a name to keep: a person's row,
// with the write-back on and a target chosen, whose name was not stored.
bool LeavesPending(const WriteBackResult &result);

// The entry for grid row `row` with the request's name and target (reason
// and waitsForLock from the result).
PendingWriteBack PendingFor(const DataSource &ds, const RosterModel &grid, const WriteBackRequest &request,
                            const WriteBackResult &result, const QString &photoPath);

// Whether two entries are for the same person and column: the same row
// texts in every column but the target.
bool SamePerson(const PendingWriteBack &a, const PendingWriteBack &b);

// The grid row showing the entry's person (same texts in every column but
// the target), or 0.
int RowOf(const PendingWriteBack &entry, const RosterModel &grid);

// How a retry went: the entries written (with the engine's number of the
// record each went into) and those left, each with its new reason.
struct PendingRetry
{
    QList<PendingWriteBack> written;
    QList<qsizetype> records; // records[i] took written[i]
    QList<PendingWriteBack> left;
};

// Tries every entry again on the DataSource's roster, in order. The
// person is the one record with the entry's texts in every column but the
// target or, failing that (a blank or shared key mended since), the one
// with them in every column but the keys and the target; the name is
// written into it through its present keys, and only when they pick that
// record and no other. An entry whose photo is gone is kept with that as
// its reason. A lock ends the retry: that entry and the rest wait for it.
// Never throws.
PendingRetry RetryPending(const DataSource &ds, const QList<PendingWriteBack> &entries);
