#pragma once

#include "data/PendingWriteBack.h"

#include <QList>
#include <QString>

// The names not yet written into a roster, kept per roster (its file and
// table) in the settings file, beside the program's own keys and apart
// from them (group "Pending"), so that no restart loses one. Each roster's
// list is one JSON text under a group named after a digest of the file's
// path and the table, which also stand in the group for a person to read.
//
//     PendingStore::save(path, "[roster]", entries);  // an empty list removes the group
//     const QList<PendingWriteBack> kept = PendingStore::load(path, "[roster]");
namespace PendingStore {

// The entries kept for the roster, in the order they were kept; none when
// there are none or what is stored cannot be read.
QList<PendingWriteBack> load(const QString &rosterPath, const QString &tableName);
// Keeps exactly these entries for the roster; false when the settings file
// could not be written.
bool save(const QString &rosterPath, const QString &tableName, const QList<PendingWriteBack> &entries);

} // namespace PendingStore
