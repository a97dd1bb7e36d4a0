#pragma once

#include "data/WriteBack.h"
#include "naming/FormPhotoPath.h"

#include <QString>
#include <QStringList>

struct DataSource;
class TableGrid;

// Looks over the roster in the grid, before the first photo, for what the
// photo day would stumble on, and says it one line per problem. A row's
// line begins with its grid row as "第 N 行". Reads the roster's file (its
// fields, its lock), never changes it.
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
QStringList CheckRoster(const DataSource &ds, const TableGrid &grid, const RosterCheckInput &input);

// Whether another program holds the roster file open: an office program's
// lock file beside it (~$name, .~lock.name#, name.ldb) or, for a dBase
// table, a lock another process holds on it. Empty when none is seen, else
// what was seen.
QString RosterHeldOpen(const QString &path);
