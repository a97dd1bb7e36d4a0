#pragma once

#include <QString>

namespace lumora::engine {

// Throws EngineError (Code::Locked), naming `what`, when an office program
// has the document at `path` open: Excel and WPS leave "~$name",
// LibreOffice ".~lock.name#", beside a document they have open; Word-style
// owner files drop the name's first two characters.
void refuseIfOpenInOffice(const QString &path, const QString &what);

} // namespace lumora::engine
