#pragma once

#include <QString>
#include <QStringView>

// Cell texts and typed names become parts of a path. These rules keep such a
// part inside the folder it is meant for, and change nothing else: no
// trimming, no other characters touched.

// "/" becomes the full-width solidus "／" (U+FF0F), which reads the same to
// the operator, and every control character (U+0000-U+001F, U+007F) becomes
// "_".
QString safeNamePart(const QString &text);
// Whether safeNamePart would leave the text as it is.
bool isSafeNamePart(QStringView text);

// False for "." and "..": as a whole folder name they would point at the
// folder itself or its parent, so a path with such a folder is refused.
bool isUsableFolderName(QStringView name);
