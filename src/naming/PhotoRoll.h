#pragma once

#include "naming/FormPhotoPath.h"

#include <QBitArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class RosterModel;

// Which people of the grid already have their photo: a row counts as taken
// when a file exists in the save folder under the name the naming settings
// form for that row. With the distinguishing number on, the number a photo
// got is not known afterwards, so any file of the row's name followed by
// digits counts (张三10001.jpg for 张三, and for 张三1 too: the number
// cannot be told from a name that ends in digits).
//
// Each folder is listed once, however many rows share it: a roster of
// 50,000 people costs a few directory listings, not 50,000 lookups.
class PhotoRoll
{
public:
    // Rows 1 .. rows - 2 of the grid (the records; the header, the trailing
    // empty row and the " [没有记录]" marker row are nobody).
    static PhotoRoll ofRoster(const RosterModel &grid, const NamingInputs &inputs);

    // taken.testBit(row) for grid rows; bits 0 and the rows that are no
    // record stay clear.
    const QBitArray &taken() const { return m_taken; }
    bool isTaken(int row) const { return row >= 0 && row < m_taken.size() && m_taken.testBit(row); }
    int takenCount() const { return m_takenCount; }
    int people() const { return m_people; }

    // Keeping the count without counting again, while the grid changes only
    // as these say. notePhoto: a photo was just saved as `path`; the rows
    // whose photo that file is (every row of its folder and name, or with
    // the number on, of its name less the number) are taken now; returns
    // them. Nothing when the roll cannot tell (it was made without a save
    // folder or readable name columns): count again. rowRemoved: grid row `row` left the grid
    // and the rows below moved up. Files other programs put in the folders
    // are only seen by counting again.
    std::optional<QList<int>> notePhoto(const RosterModel &grid, const QString &path);
    void rowRemoved(int row);

private:
    // The photos of one folder, by name without the extension, sorted.
    struct Folder
    {
        QStringList sorted;
    };
    const Folder &folder(const QString &path, const QString &extension);

    QBitArray m_taken;
    int m_takenCount = 0;
    int m_people = 0;
    QHash<QString, Folder> m_folders;
    bool m_counted = false; // every row's place was filed
    NamingInputs m_inputs;
    QString m_base;               // the save folder, with its slash
    std::vector<size_t> m_places; // [grid row]: hash of its folder and name; 0: it forms none
};
