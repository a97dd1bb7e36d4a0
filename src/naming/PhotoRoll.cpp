#include "naming/PhotoRoll.h"

#include "data/TableGrid.h"

#include <QDir>

namespace {

// "张三10001.jpg" → "张三.jpg"; nothing when the name has no digits before
// its extension.
QString withoutNumber(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {};
    qsizetype end = dot;
    while (end > 0 && fileName.at(end - 1).isDigit() && fileName.at(end - 1).unicode() < 128)
        --end;
    if (end == dot)
        return {};
    return fileName.left(end) + fileName.mid(dot);
}

} // namespace

const PhotoRoll::Folder &PhotoRoll::folder(const QString &path, const QString &extension)
{
    auto it = m_folders.constFind(path);
    if (it != m_folders.constEnd())
        return *it;
    Folder f;
    const QStringList files = QDir(path).entryList({QStringLiteral("*.") + extension}, QDir::Files);
    for (const QString &name : files) {
        f.names.insert(name);
        const QString stem = withoutNumber(name);
        if (!stem.isEmpty())
            f.stems.insert(stem);
    }
    return *m_folders.insert(path, f);
}

PhotoRoll PhotoRoll::ofGrid(const TableGrid &grid, const NamingInputs &inputs)
{
    PhotoRoll roll;
    const int rows = grid.rows();
    roll.m_taken.resize(qMax(rows, 0));
    // The header, the records, the trailing empty row; an empty result is
    // the header and the marker row alone.
    const int last = rows - 2;
    if (!inputs.tableMode || last < 1)
        return roll;
    NamingInputs in = inputs;
    const bool numbered = in.numberOn;
    in.numberOn = false; // the name alone; the number is matched apart
    roll.m_people = last;
    roll.m_paths.reserve(last);
    for (int row = 1; row <= last; ++row) {
        const RowCellReader cells = [&grid, row](int column) -> std::optional<QString> {
            if (column < 0 || column >= grid.cols())
                return std::nullopt;
            return grid.cellText(row, column);
        };
        const NamingState s = FormPhotoPath(in, cells, NamingState{}).state;
        roll.m_paths << s.photoPath;
        if (s.photoPath.isEmpty() || s.photoName.isEmpty())
            continue;
        const Folder &f = roll.folder(s.photoFolder, in.format);
        const QString file = s.photoName + QLatin1Char('.') + in.format;
        if (numbered ? f.stems.contains(file) : f.names.contains(file)) {
            roll.m_taken.setBit(row);
            ++roll.m_takenCount;
        }
    }
    return roll;
}
