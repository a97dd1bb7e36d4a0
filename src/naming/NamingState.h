#pragma once

#include <QString>

// Where the next picture goes, as formed by FormPhotoPath from the save
// folder, the current row and the typed name. The main window keeps one for
// the whole run; it is empty until the first successful FormPhotoPath and is
// never stored.
struct NamingState
{
    QString baseFolder;  // the save folder, always ending with "/"
    QString subFolder1;  // first variable sub-folder, as last read from the grid
    QString subFolder2;  // second variable sub-folder, as last read from the grid
    QString photoFolder; // baseFolder + sub-folder part, ending with "/"; empty when refused
    QString photoName;   // file name without folder and extension, number included
    QString photoPath;   // photoFolder + photoName + "." + format; empty when refused

    friend bool operator==(const NamingState &, const NamingState &) = default;
};
