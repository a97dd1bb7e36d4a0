#pragma once

#include "data/PendingWriteBack.h"

#include <QList>
#include <QString>

// The names not yet written into a roster, kept with the roster's other
// values (RosterStore, key "pending": one JSON text), so that no restart
// loses one.
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
