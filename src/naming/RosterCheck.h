#pragma once

#include "data/WriteBack.h"
#include "naming/FormPhotoPath.h"

#include <QString>
#include <QStringList>

struct DataSource;
class RosterModel;

// Looks over the roster in the grid, before the first photo, for what the
// photo day would stumble on, and says it one line per problem. A row's
// line begins with its grid row, as the grid numbers its rows, and the
// person on it: "第 8 行 温娴亚（学号 2024000008）：…". Reads the roster's
// file (its fields, its lock), never changes it.
//
// - key fields blank or unusable (the write-back would refuse the row);
// - rows sharing their keys (the write-back would refuse both);
// - rows whose file-name columns are blank (the save refuses them);
// - rows that would get the same photo file (numbering off);
// - name and folder parts the save would rewrite ("/", control characters)
//   or refuse ("." and "..");
// - photos already there that a save would overwrite (numbering off);
// - file names the write-back column cannot hold (with the width needed);
// - the roster file read-only or held open by another program.
struct RosterCheckInput
{
    NamingInputs naming;
    WriteBackRequest writeBack; // enabled, targetIndex, withExtension, extension
};
// One problem: its grid row (0: the roster as a whole), who stands there
// and what is wrong.
struct RosterProblem
{
    int row = 0;
    QString person;
    QString text;
    // "第 N 行 <person>：<text>" ("第 N 行：<text>" without a person), or
    // the text alone for the roster as a whole.
    QString line() const;
};
QList<RosterProblem> FindRosterProblems(const DataSource &ds, const RosterModel &grid,
                                        const RosterCheckInput &input);
// The problems' lines.
QStringList CheckRoster(const DataSource &ds, const RosterModel &grid, const RosterCheckInput &input);

// Who stands on a grid row, as the operator knows them: the texts of the
// file-name columns (table mode) and the keys that are not those texts,
// "温娴亚（学号 2024000008）"; empty when the row has neither.
QString PersonOnRow(const DataSource &ds, const RosterModel &grid, const NamingInputs &in, int row);

// Whether another program holds the roster file open, as the engine sees it
// when it writes: an office program's lock file beside it (~$name,
// .~lock.name#), an Access lock file (name.ldb) another process holds, or,
// for a dBase table, a lock another process holds on it. Empty when none is
// seen, else what was seen. Cheap enough to ask every few seconds.
QString RosterHeldOpen(const QString &path);
