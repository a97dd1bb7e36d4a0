#pragma once

#include "naming/NamingState.h"

#include <QString>
#include <functional>
#include <optional>

class RosterCursor;
class RosterModel;

// What FormPhotoPath reads from the window's naming controls. A picker index
// k stands for grid column k + 1; -1 (no selection) therefore reads column 0.
struct NamingInputs
{
    QString saveFolder;        // Text1
    bool tableMode = false;    // Option1 "数据表保存" selected
    bool subFolder1On = false; // Chekb1
    int subFolder1Index = -1;  // Comkb1
    bool subFolder2On = false; // Chekb2
    int subFolder2Index = -1;  // Comkb2
    int name1Index = -1;       // Comfname1
    bool name2On = false;      // Chefname2
    int name2Index = -1;       // Comfname2
    bool numberOn = false;     // Cheqbm
    QString numberText;        // Texqbm
    QString typedName;         // Texfname
    QString format;            // Comgs text: "jpg" or "bmp"
};

// Text of the current row's cell in a grid column; nullopt when the cell
// cannot be read.
using RowCellReader = std::function<std::optional<QString>(int column)>;

// Reads cells of the cursor's current row. A row or column outside the
// roster cannot be read. Roster and cursor must outlive the reader.
RowCellReader currentRowCells(const RosterModel &roster, const RosterCursor &cursor);
// The same for one fixed row.
RowCellReader rowCells(const RosterModel &roster, int row);

struct PhotoPathResult
{
    NamingState state;   // the new naming state
    bool formed = false; // the path was formed (or refused for a reason): Text2 says so
    QString message;     // to show with an OK button; empty for none
    QString problem;     // why the path was refused, for the status line

    // New text of Text2; nullopt keeps the old one. Made when asked: a check
    // forms the paths of a whole roster and shows none of them.
    std::optional<QString> text2() const;
};

inline const QString kNoSaveFolderMessage = QStringLiteral("请点击 浏览 按钮，先设置保存目录！");
inline const QString kNoTypedNameMessage = QStringLiteral("没有输入文件名，请输入！");
inline const QString kText2Prefix = QStringLiteral("照片保存目录及文件名：");
inline const QString kBlankNameProblem = QStringLiteral("这个人的文件名列为空，照片无法保存");

// Forms the folder and file name of the next picture from the inputs and the
// current row, starting from the previous state. Stops early, keeping what is
// already updated, when the save folder or the typed name is empty or a cell
// cannot be read. Cell texts and the typed name go through safeNamePart; a
// sub-folder named "." or ".." and, in data-table mode, name columns that are
// blank for the row (empty or only blanks) leave photoFolder and photoPath
// empty, so that nothing can be saved until the row or the settings change.
PhotoPathResult FormPhotoPath(const NamingInputs &inputs, const RowCellReader &cells,
                              const NamingState &previous);
