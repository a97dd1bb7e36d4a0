#pragma once

#include <QString>

namespace lumora::engine {

// The lock file an office program leaves beside a file it has open, whose
// name it returns; empty when there is none. Excel and WPS leave "~$name",
// LibreOffice ".~lock.name#"; Word-style owner files drop the name's first
// two characters when the base name is longer than six.
//
//     officeLockFileBeside("/rosters/高一.xls") // ".~lock.高一.xls#" while LibreOffice has it open
QString officeLockFileBeside(const QString &path);

// Throws EngineError with Code::Locked, naming `what` (the file's name) and
// the lock file, when an office program has the file at `path` open.
void refuseWhileOfficeHoldsOpen(const QString &path, const QString &what);

} // namespace lumora::engine
