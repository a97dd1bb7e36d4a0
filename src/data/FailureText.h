#pragma once

#include <QString>

// The words for the exception being handled, for a status line, in
// Chinese: the engine's Chinese text (which names the file, table or field
// concerned), "内存不足" for an allocation failure, and a Chinese frame
// around the English words of anything else. Call it only inside a catch
// block:
//
//     try { ... } catch (...) { setStatus(QStringLiteral("数据表无法载入：") + CurrentFailureText()); }
QString CurrentFailureText();
