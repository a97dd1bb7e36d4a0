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

namespace {

// Where a row's photo goes, as FormPhotoPath forms it without the number:
// the folder (base, variable sub-folders) and the name from the name
// columns. False when the row forms none. `name` is a view of the cell
// itself when that is the name as it stands, else of `made`.
bool placeOf(const RosterModel &grid, const NamingInputs &in, const QString &base, int row, QString &folder,
             QStringView &name, QString &made)
{
    folder = base;
    if (in.subFolder1On) {
        const QString sub1 = safeNamePart(grid.cellText(row, in.subFolder1Index + 1));
        if (!isUsableFolderName(sub1))
            return false;
        folder += sub1 + QLatin1Char('/');
        if (in.subFolder2On) {
            const QString sub2 = safeNamePart(grid.cellText(row, in.subFolder2Index + 1));
            if (!isUsableFolderName(sub2))
                return false;
            folder += sub2 + QLatin1Char('/');
        }
    }
    const QStringView cell = grid.cellView(row, in.name1Index + 1);
    name = cell;
    if (in.name2On || !isSafeNamePart(cell)) {
        made = safeNamePart(cell.toString());
        if (in.name2On)
            made += safeNamePart(grid.cellText(row, in.name2Index + 1));
        name = made;
    }
    return !name.isEmpty();
}

// A row's place by its folder's hash (made once per folder) and its name.
size_t placeHash(size_t folderHash, QStringView name)
{
    return qHashMulti(folderHash, name) | 1; // never 0, which stands for no place
}

} // namespace

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
    roll.m_inputs = in;
    roll.m_base = in.saveFolder.endsWith(QLatin1Char('/')) ? in.saveFolder : in.saveFolder + QLatin1Char('/');

    const int columns = grid.cols();
    const auto readable = [columns](int index) { return index + 1 >= 0 && index + 1 < columns; };
    if ((in.subFolder1On && !readable(in.subFolder1Index)) ||
        (in.subFolder1On && in.subFolder2On && !readable(in.subFolder2Index)) || !readable(in.name1Index) ||
        (in.name2On && !readable(in.name2Index)))
        return roll;
    roll.m_places.assign(size_t(rows), 0);
    // Most rows look into the folder the row before looked into.
    const Folder *lastFolder = nullptr;
    QString lastPath;
    size_t folderHash = 0;
    QString folderPath, made;
    QStringView name;
    for (int row = 1; row <= last; ++row) {
        if (!placeOf(grid, in, roll.m_base, row, folderPath, name, made))
            continue;
        if (!lastFolder || folderPath != lastPath) {
            lastFolder = &roll.folder(folderPath, in.format);
            lastPath = folderPath;
            folderHash = qHash(folderPath, 0);
        }
        roll.m_places[size_t(row)] = placeHash(folderHash, name);
        const Folder &f = *lastFolder;
        const bool taken = in.numberOn ? hasNumbered(f.sorted, name)
                                       : std::binary_search(f.sorted.cbegin(), f.sorted.cend(), name);
        if (taken) {
            roll.m_taken.setBit(row);
            ++roll.m_takenCount;
        }
    }
    roll.m_counted = true;
    return roll;
}

std::optional<QList<int>> PhotoRoll::notePhoto(const RosterModel &grid, const QString &path)
{
    if (!m_counted)
        return std::nullopt;
    const QString suffix = QLatin1Char('.') + m_inputs.format;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || !path.endsWith(suffix))
        return std::nullopt;
    const QString folderPath = path.left(slash + 1);
    const QString stem = path.mid(slash + 1).chopped(suffix.size());
    if (stem.isEmpty())
        return std::nullopt;
    // The folder's names now hold the new one, as a listing would.
    Folder &f = m_folders[folderPath];
    const auto at = std::lower_bound(f.sorted.begin(), f.sorted.end(), stem);
    if (at == f.sorted.end() || *at != stem)
        f.sorted.insert(at, stem);
    // The names whose photo this file can be: the stem itself, or with the
    // distinguishing number on, the stem less one or more trailing digits.
    QList<QStringView> names;
    if (!m_inputs.numberOn) {
        names << QStringView(stem);
    } else {
        for (qsizetype cut = stem.size() - 1;
             cut > 0 && stem.at(cut).unicode() >= u'0' && stem.at(cut).unicode() <= u'9'; --cut)
            names << QStringView(stem).first(cut);
    }
    const size_t folderHash = qHash(folderPath, 0);
    QList<size_t> hashes;
    for (QStringView name : std::as_const(names))
        hashes << placeHash(folderHash, name);
    // One look along the rows' places (a few hundred thousand numbers at
    // most); only rows whose place hashes alike form their name again.
    QString rowFolder, made;
    QStringView rowName;
    QList<int> newlyTaken;
    for (int row = 1; row < int(m_places.size()) && row < m_taken.size(); ++row) {
        if (m_places[size_t(row)] == 0 || !hashes.contains(m_places[size_t(row)]) || m_taken.testBit(row))
            continue;
        if (!placeOf(grid, m_inputs, m_base, row, rowFolder, rowName, made) || rowFolder != folderPath)
            continue;
        if (std::any_of(names.cbegin(), names.cend(), [&](QStringView name) { return rowName == name; })) {
            m_taken.setBit(row);
            ++m_takenCount;
            newlyTaken << row;
        }
    }
    return newlyTaken;
}

void PhotoRoll::rowRemoved(int row)
{
    if (row < 1 || row >= m_taken.size())
        return;
    if (m_taken.testBit(row))
        --m_takenCount;
    for (int r = row; r + 1 < m_taken.size(); ++r)
        m_taken.setBit(r, m_taken.testBit(r + 1));
    m_taken.resize(m_taken.size() - 1);
    --m_people;
    if (size_t(row) < m_places.size())
        m_places.erase(m_places.begin() + row);
}
