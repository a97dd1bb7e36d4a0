#include "naming/RosterCheck.h"

#include "data/DataSource.h"
#include "data/FailureText.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/OfficeLockFile.h"
#include "data/engine/mdb/MdbTable.h"
#include "naming/SafeName.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <optional>
#include <vector>

using namespace lumora::engine;

namespace {

// The cell of a naming column, or nothing when the picker points nowhere.
std::optional<QString> namingCell(const RosterModel &grid, int row, int pickerIndex)
{
    const int column = pickerIndex + 1;
    if (column < 1 || column >= grid.cols())
        return std::nullopt;
    return grid.cellText(row, column);
}

// The naming parts of a row the save would not use as they stand.
void checkNameParts(const RosterModel &grid, int row, const NamingInputs &in, QStringList &lines)
{
    struct Part
    {
        bool on;
        int index;
        bool folder;
    };
    const Part parts[] = {{in.subFolder1On, in.subFolder1Index, true},
                          {in.subFolder1On && in.subFolder2On, in.subFolder2Index, true},
                          {true, in.name1Index, false},
                          {in.name2On, in.name2Index, false}};
    for (const Part &p : parts) {
        if (!p.on)
            continue;
        const int column = p.index + 1;
        if (column < 1 || column >= grid.cols())
            continue;
        // Most cells are fine as they stand, and are looked at without a copy.
        const QStringView view = grid.cellView(row, column);
        if (isSafeNamePart(view) && (!p.folder || isUsableFolderName(view)))
            continue;
        const QString cell = view.toString();
        const QString safe = safeNamePart(cell);
        if (safe != cell)
            lines << QStringLiteral("“%1”含有“/”或控制字符，保存时写作“%2”")
                         .arg(QString(cell).replace(QLatin1Char('\n'), QStringLiteral("\\n")), safe);
        if (p.folder && !isUsableFolderName(safe))
            lines << QStringLiteral("“%1”不能用作文件夹名，这一行的照片无法保存").arg(safe);
    }
}

// Rows by a text they carry: the texts that more than one row carries, each
// with its rows in the order they were added. Only the texts' hashes are
// kept and sorted, not the texts (a roster of 200,000 people would hold
// them all twice over); the rare rows whose hashes meet have their texts
// formed again to tell them apart.
class Sharing
{
public:
    explicit Sharing(int rows) { m_items.reserve(size_t(qMax(rows, 0))); }
    void add(const QString &text, int row) { addHash(qHash(text, 0), row); }
    // A hash that rows with equal texts are sure to share (it may be of
    // something cheaper to hash than the text).
    void addHash(size_t hash, int row) { m_items.push_back({hash, row}); }

    // textOf(row) forms the text again; each(text, rows) for every shared text.
    template <typename TextOf, typename Each> void forEachShared(TextOf textOf, Each each)
    {
        // The hashes alone are sorted to find those met more than once; the
        // rows are then gathered in their order for those few.
        std::vector<size_t> hashes;
        hashes.reserve(m_items.size());
        for (const Item &item : m_items)
            hashes.push_back(item.hash);
        std::sort(hashes.begin(), hashes.end());
        std::vector<size_t> shared;
        for (size_t i = 1; i < hashes.size(); ++i)
            if (hashes[i] == hashes[i - 1] && (shared.empty() || shared.back() != hashes[i]))
                shared.push_back(hashes[i]);
        if (shared.empty())
            return;
        QHash<size_t, QList<int>> rowsOf;
        for (const Item &item : m_items)
            if (std::binary_search(shared.begin(), shared.end(), item.hash))
                rowsOf[item.hash] << item.row;
        for (size_t hash : shared) {
            QList<std::pair<QString, QList<int>>> texts; // nearly always one
            for (int row : std::as_const(rowsOf[hash])) {
                const QString text = textOf(row);
                auto it =
                    std::find_if(texts.begin(), texts.end(), [&](const auto &t) { return t.first == text; });
                if (it == texts.end())
                    texts.append({text, {row}});
                else
                    it->second << row;
            }
            for (const auto &[text, rows] : texts)
                if (rows.size() > 1)
                    each(text, rows);
        }
    }

private:
    struct Item
    {
        size_t hash;
        int row;
    };
    std::vector<Item> m_items;
};

// What each folder holds, listed once however many rows look into it: a
// file lookup per person would cost a roster of 200,000 people as many
// system calls. The listing only rules names out (compared case-folded, for
// the file systems that ignore case); a name it has is looked up as
// QFileInfo::exists does, and so is every name of a folder that cannot be
// listed.
class FolderListings
{
public:
    bool contains(const QString &folder, QStringView name)
    {
        // Most rows look into the folder the row before looked into.
        auto it =
            m_last != m_folders.constEnd() && m_last.key() == folder ? m_last : m_folders.constFind(folder);
        if (it == m_folders.constEnd()) {
            std::optional<QSet<QString>> names;
            const QFileInfo info(folder);
            if (!info.exists() || (info.isDir() && info.isReadable())) {
                names.emplace();
                const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                                   QDir::System | QDir::NoDotAndDotDot);
                for (const QString &entry : entries)
                    names->insert(entry.toCaseFolded());
            }
            it = m_folders.insert(folder, names);
        }
        m_last = it;
        if (*it && ((*it)->isEmpty() || !(*it)->contains(name.toString().toCaseFolded())))
            return false;
        return QFileInfo::exists(folder + name.toString());
    }

private:
    QHash<QString, std::optional<QSet<QString>>> m_folders;
    QHash<QString, std::optional<QSet<QString>>>::const_iterator m_last = m_folders.constEnd();
};

// A hash of a row's keys that rows with equal key conditions share, made
// without forming the conditions: a text key's condition quotes its text as
// it stands, a number's is its trimmed text. Nothing when a key is blank or
// not of its column's type, or a column cannot be named: the conditions are
// then formed to say why.
std::optional<size_t> keyHash(const DataSource &ds, const RosterModel &grid, int row, bool namesUsable)
{
    if (!namesUsable)
        return std::nullopt;
    size_t hash = 0;
    for (qsizetype k = 0; k < ds.keyColumns.size(); ++k) {
        const int c = ds.keyColumns.at(k);
        const qint16 type = c >= 1 && c <= ds.fieldTypes.size() ? ds.fieldTypes.at(c - 1) : qint16(0);
        const QStringView value = grid.cellView(row, c);
        if (value.trimmed().isEmpty())
            return std::nullopt;
        if (type == DaoText || type == DaoMemo) {
            hash = qHashMulti(hash, value);
            continue;
        }
        const std::optional<QString> literal = SqlText::literal(type, value.toString(), nullptr);
        if (!literal)
            return std::nullopt;
        hash = qHashMulti(hash, *literal);
    }
    return hash;
}

} // namespace

QString RosterHeldOpen(const QString &path)
{
    const QFileInfo info(path);
    // What the engine refuses a write for: an office program's lock file
    // beside a workbook or a text table, a lock file of Access in use.
    if (const QString lock = officeLockFileBeside(path); !lock.isEmpty())
        return QStringLiteral("锁定文件 %1").arg(lock);
    QString accessLock;
    if (info.suffix().compare(QStringLiteral("mdb"), Qt::CaseInsensitive) == 0 &&
        mdbOpenElsewhere(path, &accessLock))
        return QStringLiteral("锁定文件 %1").arg(QFileInfo(accessLock).fileName());
    const QString suffix = info.suffix();
    if (suffix.compare(QStringLiteral("dbf"), Qt::CaseInsensitive) != 0 &&
        suffix.compare(QStringLiteral("csv"), Qt::CaseInsensitive) != 0 &&
        suffix.compare(QStringLiteral("txt"), Qt::CaseInsensitive) != 0)
        return {};
    // A lock another process holds on any part of the table (dBase programs
    // lock records and the header while they write; a text table is not
    // replaced while another program holds such a lock).
    const LockedFile::OtherLock other = LockedFile::heldByOther(path);
    return other.held ? QStringLiteral("进程 %1 锁定了它").arg(other.pid) : QString();
}

QString RosterProblem::line() const
{
    if (row < 1)
        return text;
    return person.isEmpty() ? QStringLiteral("第 %1 行：%2").arg(row).arg(text)
                            : QStringLiteral("第 %1 行 %2：%3").arg(row).arg(person, text);
}

QString PersonOnRow(const DataSource &ds, const RosterModel &grid, const NamingInputs &in, int row)
{
    QStringList names;
    if (in.tableMode) {
        const int parts[] = {in.name1Index, in.name2On ? in.name2Index : -1};
        for (int index : parts)
            if (const std::optional<QString> cell = namingCell(grid, row, index);
                cell && !cell->trimmed().isEmpty())
                names << cell->trimmed();
    }
    QStringList keys;
    for (const WriteBackKey &key : RowKeys(ds, grid, row)) {
        if (names.contains(key.value.trimmed()))
            continue;
        keys << key.column + QLatin1Char(' ') +
                    (key.value.trimmed().isEmpty() ? QStringLiteral("（空）") : key.value.trimmed());
    }
    const QString name = names.join(QLatin1Char(' '));
    if (keys.isEmpty())
        return name;
    const QString keyText = keys.join(QStringLiteral("，"));
    return name.isEmpty() ? keyText : name + QStringLiteral("（") + keyText + QStringLiteral("）");
}

QStringList CheckRoster(const DataSource &ds, const RosterModel &grid, const RosterCheckInput &input)
{
    QStringList lines;
    for (const RosterProblem &p : FindRosterProblems(ds, grid, input))
        lines << p.line();
    return lines;
}

QList<RosterProblem> FindRosterProblems(const DataSource &ds, const RosterModel &grid,
                                        const RosterCheckInput &input)
{
    QList<RosterProblem> lines;
    if (!ds.hasTable())
        return lines;
    const int last = grid.rows() - 2;
    // The save folder as every path begins with it, made once for all rows.
    NamingInputs in = input.naming;
    if (!in.saveFolder.isEmpty() && !in.saveFolder.endsWith(QLatin1Char('/')))
        in.saveFolder += QLatin1Char('/');

    // The file first: nothing is written back into a file that cannot be written.
    const QFileInfo file(ds.databasePath);
    if (file.exists() && !file.isWritable())
        lines << RosterProblem{
            0, {}, QStringLiteral("数据表文件是只读的，文件名无法写入：%1").arg(ds.databasePath)};
    if (file.exists()) {
        const QString held = RosterHeldOpen(ds.databasePath);
        if (!held.isEmpty())
            lines << RosterProblem{
                0, {}, QStringLiteral("数据表文件正被其他程序打开（%1）：%2").arg(held, ds.databasePath)};
    }

    // The write-back column, when the write-back is on: the table is asked
    // whether each name fits, as a write-back would ask it.
    Database *db = nullptr;
    int targetField = -1;
    QString targetName;
    const WriteBackRequest &wb = input.writeBack;
    if (wb.enabled && wb.targetIndex >= 0 && wb.targetIndex + 1 < grid.cols()) {
        targetName = grid.cellText(0, wb.targetIndex + 1);
        try {
            // The database the grid was loaded from, when it is still held.
            db = &HeldOrOpenDatabase(ds);
            const QList<FieldInfo> fields = db->fields(ds.tableName);
            for (int f = 0; f < fields.size() && targetField < 0; ++f)
                if (fields.at(f).name.compare(targetName, Qt::CaseInsensitive) == 0)
                    targetField = f;
        } catch (...) {
            db = nullptr;
            ForgetDatabase(ds);
            lines << RosterProblem{0, {}, QStringLiteral("数据表无法打开：%1").arg(CurrentFailureText())};
        }
    }

    // Lines by row; rows that share keys or a file name are gathered first
    // and each of them gets its line once every row was seen. A text seen
    // once costs one entry; only texts shared by rows get a list of them.
    std::vector<QStringList> byRow(size_t(qMax(last, 0)) + 1);
    Sharing keyRows(last);  // key conditions → rows
    Sharing pathRows(last); // photo path → rows
    FolderListings photos;
    const QList<QString> keyNames = KeyColumnNames(RowKeys(ds, grid, 0)); // the same for every row
    const bool namesUsable = !keyNames.contains(QString());
    for (int row = 1; row <= last; ++row) {
        QStringList &here = byRow[size_t(row)];
        if (!ds.keyColumns.isEmpty()) {
            if (const std::optional<size_t> hash = keyHash(ds, grid, row, namesUsable))
                keyRows.addHash(*hash, row);
            else if (const WriteBackStatement keys = BuildKeyConditions(RowKeys(ds, grid, row), keyNames);
                     !keys.ok)
                here << keys.error + QStringLiteral("，文件名不会写入数据表");
        }
        if (!in.tableMode)
            continue;
        checkNameParts(grid, row, in, here);
        const PhotoPathResult formed = FormPhotoPath(in, rowCells(grid, row), NamingState{});
        const NamingState &s = formed.state;
        if (formed.problem == kBlankNameProblem)
            here << QStringLiteral("文件名为空，这个人的照片无法保存");
        if (!in.numberOn && !s.photoPath.isEmpty()) {
            pathRows.add(s.photoPath, row);
            if (photos.contains(s.photoFolder, QStringView(s.photoPath).sliced(s.photoFolder.size())))
                here << QStringLiteral("照片已经存在，再保存会覆盖它：%1").arg(s.photoPath);
        }
        if (db && targetField >= 0 && !s.photoName.isEmpty()) {
            const QString stored = StoredFileName(s.photoName, wb.withExtension, wb.extension);
            try {
                db->checkValue(ds.tableName, targetField, Value::text(stored));
            } catch (const EngineError &e) {
                here << QStringLiteral("文件名“%1”写不进列“%2”：%3")
                            .arg(stored, targetName, e.chinese().isEmpty() ? e.message() : e.chinese());
            }
        }
    }
    const auto others = [](const QList<int> &rows, int row) {
        QStringList list;
        for (int r : rows)
            if (r != row)
                list << QStringLiteral("第 %1 行").arg(r);
        return list.join(QStringLiteral("、"));
    };
    const auto keysOf = [&](int row) {
        return BuildKeyConditions(RowKeys(ds, grid, row), keyNames).statement;
    };
    const auto pathOf = [&](int row) {
        return FormPhotoPath(in, rowCells(grid, row), NamingState{}).state.photoPath;
    };
    keyRows.forEachShared(keysOf, [&](const QString &keys, const QList<int> &rows) {
        for (int row : rows)
            byRow[size_t(row)]
                << QStringLiteral("主键与%1相同（%2），文件名不会写入数据表").arg(others(rows, row), keys);
    });
    pathRows.forEachShared(pathOf, [&](const QString &path, const QList<int> &rows) {
        for (int row : rows)
            byRow[size_t(row)] << QStringLiteral("照片文件名与%1相同：%2").arg(others(rows, row), path);
    });
    for (int row = 1; row <= last; ++row)
        for (const QString &text : byRow[size_t(row)])
            lines << RosterProblem{row, PersonOnRow(ds, grid, in, row), text};
    return lines;
}
