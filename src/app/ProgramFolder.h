#pragma once

#include <QString>
#include <QStringList>

// The file whose presence marks a folder as the program's own: the
// placeholder picture shown until a photo is taken.
inline const QString kProgramFolderMarker = QStringLiteral("default.bmp");

// Folders that may hold the program's own files, in the order they are tried:
// the executable's folder (a build tree keeps them there), the folder
// installedDataFolder leads to from it (an installed program, usually
// "../share/lumora"), then "lumora" under each of dataLocations (the standard
// data folders). Paths are cleaned and duplicates dropped, e.g.
// ("/usr/bin", "../share/lumora", {"/usr/share"}) gives
// {"/usr/bin", "/usr/share/lumora"}.
QStringList programFolderCandidates(const QString &executableFolder, const QString &installedDataFolder,
                                    const QStringList &dataLocations);

// The first of candidates holding a file named default.bmp; fallback when
// none does, so that the program still starts, without its picture.
QString findProgramFolder(const QStringList &candidates, const QString &fallback);
