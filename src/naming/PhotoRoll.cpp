#include "naming/PhotoRoll.h"

#include "data/RosterModel.h"
#include "naming/SafeName.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>

namespace {

// Whether a file of `name` followed by one or more digits is among the
// sorted names: they all sort right after the name itself.
bool hasNumbered(const QStringList &sorted, QStringView name)
{
    for (auto it = std::upper_bound(sorted.cbegin(), sorted.cend(), name);
         it != sorted.cend() && it->startsWith(name); ++it) {
        const QStringView rest = QStringView(*it).mid(name.size());
        if (!rest.isEmpty() && std::all_of(rest.cbegin(), rest.cend(), [](QChar c) {
                return c.unicode() >= u'0' && c.unicode() <= u'9';
            }))
            return true;
    }
    return false;
}

} // namespace

const PhotoRoll::Folder &PhotoRoll::folder(const QString &path, const QString &extension)
{
    auto it = m_folders.constFind(path);
    if (it != m_folders.constEnd())
        return *it;
    Folder f;
    // readdir itself, not QDirIterator: the entry's type comes with its name,
    // where a stat per file would cost more than everything else here.
    const QString suffix = QLatin1Char('.') + extension;
    if (DIR *dir = ::opendir(QFile::encodeName(path).constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            const QString file = QFile::decodeName(entry->d_name);
            if (!file.endsWith(suffix) || file.size() == suffix.size())
                continue;
            f.sorted << file.chopped(suffix.size());
        }
        ::closedir(dir);
    }
    std::sort(f.sorted.begin(), f.sorted.end());
    return *m_folders.insert(path, f);
}

PhotoRoll PhotoRoll::ofRoster(const RosterModel &grid, const NamingInputs &in)
{
    PhotoRoll roll;
    const int rows = grid.rows();
    roll.m_taken.resize(qMax(rows, 0));
    // The header, the records, the trailing empty row; an empty result is
    // the header and the marker row alone.
    const int last = rows - 2;
    if (!in.tableMode || last < 1)
        return roll;
    roll.m_people = last;
    // No save folder: no path is formed for anyone.
    if (in.saveFolder.isEmpty())
        return roll;
    const QString base =
        in.saveFolder.endsWith(QLatin1Char('/')) ? in.saveFolder : in.saveFolder + QLatin1Char('/');

    // The path as FormPhotoPath forms it, without the number: the base
    // folder, the variable sub-folders, the name columns.
    const int columns = grid.cols();
    const auto readable = [columns](int index) { return index + 1 >= 0 && index + 1 < columns; };
    if ((in.subFolder1On && !readable(in.subFolder1Index)) ||
        (in.subFolder1On && in.subFolder2On && !readable(in.subFolder2Index)) || !readable(in.name1Index) ||
        (in.name2On && !readable(in.name2Index)))
        return roll;
    // Most rows look into the folder the row before looked into.
    const Folder *lastFolder = nullptr;
    QString lastPath;
    for (int row = 1; row <= last; ++row) {
        QString folderPath = base;
        if (in.subFolder1On) {
            const QString sub1 = safeNamePart(grid.cellText(row, in.subFolder1Index + 1));
            if (!isUsableFolderName(sub1))
                continue;
            folderPath += sub1 + QLatin1Char('/');
            if (in.subFolder2On) {
                const QString sub2 = safeNamePart(grid.cellText(row, in.subFolder2Index + 1));
                if (!isUsableFolderName(sub2))
                    continue;
                folderPath += sub2 + QLatin1Char('/');
            }
        }
        // The cell itself, uncopied, when it is the name as it stands.
        const QStringView cell = grid.cellView(row, in.name1Index + 1);
        QString made;
        QStringView name = cell;
        if (in.name2On || !isSafeNamePart(cell)) {
            made = safeNamePart(cell.toString());
            if (in.name2On)
                made += safeNamePart(grid.cellText(row, in.name2Index + 1));
            name = made;
        }
        if (name.isEmpty())
            continue;
        if (!lastFolder || folderPath != lastPath) {
            lastFolder = &roll.folder(folderPath, in.format);
            lastPath = folderPath;
        }
        const Folder &f = *lastFolder;
        const bool taken = in.numberOn ? hasNumbered(f.sorted, name)
                                       : std::binary_search(f.sorted.cbegin(), f.sorted.cend(), name);
        if (taken) {
            roll.m_taken.setBit(row);
            ++roll.m_takenCount;
        }
    }
    return roll;
}
