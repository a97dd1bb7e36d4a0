#include "naming/FormPhotoPath.h"

#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "naming/SafeName.h"

namespace {

std::optional<QString> cellOf(const RosterModel &grid, int row, int column)
{
    if (row < 0 || row >= grid.rows() || column < 0 || column >= grid.cols())
        return std::nullopt;
    return grid.cellText(row, column);
}

} // namespace

RowCellReader currentRowCells(const RosterModel &roster, const RosterCursor &cursor)
{
    return [&roster, &cursor](int column) { return cellOf(roster, cursor.currentRow(), column); };
}

RowCellReader rowCells(const RosterModel &grid, int row)
{
    return [&grid, row](int column) { return cellOf(grid, row, column); };
}

PhotoPathResult FormPhotoPath(const NamingInputs &in, const RowCellReader &cells, const NamingState &previous)
{
    PhotoPathResult result{previous, false, {}, {}};
    NamingState &s = result.state;

    if (in.saveFolder.isEmpty()) {
        result.message = kNoSaveFolderMessage;
        return result;
    }
    s.baseFolder = in.saveFolder;
    if (!s.baseFolder.endsWith(QLatin1Char('/')))
        s.baseFolder += QLatin1Char('/');

    QString subPart;
    QString name;
    bool folderRefused = false;
    bool nameBlank = false;
    if (in.tableMode) {
        if (in.subFolder1On) {
            const std::optional<QString> cell = cells(in.subFolder1Index + 1);
            if (!cell)
                return result;
            s.subFolder1 = safeNamePart(*cell);
            folderRefused = !isUsableFolderName(s.subFolder1);
            subPart = s.subFolder1;
            if (in.subFolder2On) {
                const std::optional<QString> cell2 = cells(in.subFolder2Index + 1);
                if (!cell2)
                    return result;
                s.subFolder2 = safeNamePart(*cell2);
                folderRefused = folderRefused || !isUsableFolderName(s.subFolder2);
                subPart += QLatin1Char('/') + s.subFolder2;
            }
            subPart += QLatin1Char('/');
        }
        const std::optional<QString> name1 = cells(in.name1Index + 1);
        if (!name1)
            return result;
        name = safeNamePart(*name1);
        QString cellTexts = *name1;
        if (in.name2On) {
            const std::optional<QString> name2 = cells(in.name2Index + 1);
            if (!name2)
                return result;
            name += safeNamePart(*name2);
            cellTexts += *name2;
        }
        // A person without a name would get a hidden ".jpg" (or a bare
        // number), and the next such person would replace it.
        nameBlank = cellTexts.trimmed().isEmpty();
    } else {
        if (in.typedName.isEmpty()) {
            result.message = kNoTypedNameMessage;
            return result;
        }
        name = safeNamePart(in.typedName);
    }
    if (in.numberOn)
        name += safeNamePart(in.numberText);

    s.photoName = name;
    if (folderRefused || nameBlank) {
        s.photoFolder.clear();
        s.photoPath.clear();
        result.problem = folderRefused
                             ? QStringLiteral("可变目录“%1”不能用作文件夹名，照片无法保存")
                                   .arg(isUsableFolderName(s.subFolder1) ? s.subFolder2 : s.subFolder1)
                             : kBlankNameProblem;
    } else {
        s.photoFolder = subPart.isEmpty() ? s.baseFolder : s.baseFolder + subPart;
        // Made in one piece: a check forms the path of every row of a roster.
        QString path;
        path.reserve(s.photoFolder.size() + name.size() + 1 + in.format.size());
        path += s.photoFolder;
        path += name;
        path += QLatin1Char('.');
        path += in.format;
        s.photoPath = std::move(path);
    }
    result.formed = true;
    return result;
}

std::optional<QString> PhotoPathResult::text2() const
{
    if (!formed)
        return std::nullopt;
    return kText2Prefix + state.photoPath;
}
