#include "print/RowPhotos.h"

#include "data/RosterModel.h"

#include <QFileInfo>

RowPhoto PhotoOfRow(const NamingInputs &inputs, const NamingState &naming, const RosterModel &grid, int row)
{
    if (row < 1 || row >= grid.rows())
        return {};
    if (!inputs.tableMode) {
        const QString path = grid.cellText(row, 2);
        const QString name = grid.cellText(row, 1);
        return {name.isEmpty() ? QFileInfo(path).completeBaseName() : name, path};
    }
    const RowCellReader cells = [&grid, row](int column) -> std::optional<QString> {
        if (column < 0 || column >= grid.cols())
            return std::nullopt;
        return grid.cellText(row, column);
    };
    RowPhoto photo;
    photo.label = cells(inputs.name1Index + 1).value_or(QString());
    if (inputs.name2On)
        photo.label += cells(inputs.name2Index + 1).value_or(QString());
    const PhotoPathResult formed = FormPhotoPath(inputs, cells, naming);
    photo.path = formed.state.photoPath;
    return photo;
}
