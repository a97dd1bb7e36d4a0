#pragma once

#include <QString>

// The words for the exception being handled, for a status line: the
// engine's own message, "内存不足" for an allocation failure, the library's
// text for any other standard exception. Call it only inside a catch block:
//
//     try { ... } catch (...) { setStatus(QStringLiteral("数据表无法载入：") + CurrentFailureText()); }
QString CurrentFailureText();
