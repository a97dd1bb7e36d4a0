#include "data/TableLoader.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/PackedTexts.h"

#include <QComboBox>
#include <QSignalBlocker>

using namespace lumora::engine;

std::unique_ptr<Database> OpenDatabase(const DataSource &ds)
{
    if (ds.opener)
        return ds.opener(ds);
    return Database::open(ds.databasePath, ds.connectString);
}

HeldDatabase::HeldDatabase() = default;
HeldDatabase::~HeldDatabase() = default;

Database &HeldOrOpenDatabase(const DataSource &ds)
{
    HeldDatabase &held = *ds.held;
    if (!held.db || held.path != ds.databasePath || held.connect != ds.connectString) {
        held.db.reset();
        held.db = OpenDatabase(ds);
        held.path = ds.databasePath;
        held.connect = ds.connectString;
    }
    return *held.db;
}

void ForgetDatabase(const DataSource &ds)
{
    ds.held->db.reset();
}

QString FieldQuery(const QString &tableName)
{
    return QStringLiteral("select * from ") + tableName;
}

QString RowQuery(const QStringList &fieldNames, const QString &tableName, const QString &whereClause)
{
    QString list;
    for (const QString &field : fieldNames) {
        const QString name = SqlText::columnName(field);
        if (name.isEmpty())
            return {};
        if (!list.isEmpty())
            list += QStringLiteral(" & Chr(9) & ");
        list += name;
    }
    return QStringLiteral("select ") + list + QStringLiteral(" as Item  from ") + tableName + whereClause;
}

namespace {
// Ends the model's bulk change however the load ends.
struct BulkGuard
{
    RosterModel &model;
    bool active = false;
    void begin()
    {
        model.beginBulk();
        active = true;
    }
    ~BulkGuard()
    {
        if (active)
            model.endBulk();
    }
};
} // namespace

namespace {

// The cells of one row: each field's own text, tabs included, one per field.
QStringList CellTexts(const TableTexts &texts, qsizetype j)
{
    QStringList cells = PackedTexts::list(texts.rows.at(j));
    cells.resize(texts.fields.size());
    return cells;
}

} // namespace

std::optional<QStringList> LoadRecordTexts(Database &db, const QString &tableName, const QString &whereClause,
                                           qsizetype record)
{
    if (record < 0)
        throw EngineError::format(u"no record %1", u"没有第 %1 条记录", record);
    const TableTexts texts = db.readTexts(tableName, whereClause, record, record + 1);
    if (texts.rows.isEmpty())
        return std::nullopt;
    return CellTexts(texts, 0);
}

QList<QStringList> AllRecordTexts(Database &db, const QString &tableName)
{
    const TableTexts texts = db.readTexts(tableName, QString());
    QList<QStringList> all;
    all.reserve(texts.rows.size());
    for (qsizetype j = 0; j < texts.rows.size(); ++j)
        all << CellTexts(texts, j);
    return all;
}

TableLoad LoadTable(Database &db, const QString &tableName, const QString &whereClause, RosterModel &grid)
{
    grid.setLoadedClause(std::nullopt);
    grid.setColumnCode(1, 3);
    grid.setRows(1);

    // The fields and every shown record's texts in one read of the table:
    // each field's text lands in its own cell, tabs and all.
    TableTexts texts = db.readTexts(tableName, whereClause);
    const QList<FieldInfo> &fields = texts.fields;
    const int n = int(fields.size());

    BulkGuard bulk{grid};
    bulk.begin();
    grid.setCols(n + 1);
    for (int i = 0; i < n; ++i) {
        const int c = i + 1;
        grid.setCellText(0, c, fields.at(i).name);
        if (fields.at(i).daoType == DaoDouble)
            grid.setColumnCode(c, 5);
        grid.askColumnWidth(c, 50);
    }

    TableLoad result;
    if (texts.rows.isEmpty()) {
        grid.appendRow({}, false);
        grid.setCellText(1, 1, NoRecordsMarker());
        grid.setLoadedClause(whereClause);
        return result;
    }

    const qsizetype count = texts.rows.size();
    grid.reserveRows(count + 1);
    for (qsizetype j = 0; j < count; ++j) {
        // The packed row is handed over, not copied; a row of empty cells
        // is nothing at all (a sheet whose used area reaches IV65536
        // through four cells is mostly such rows).
        grid.appendPackedRow(std::move(texts.rows[j]), false, texts.records.at(j));
        grid.setRowHeaderAttribute(int(j) + 1, QLatin1Char('U'));
    }
    result.records = count;
    result.caption = QStringLiteral("数据表[%1]").arg(count);
    grid.appendRow({}, false);
    grid.setLoadedClause(whereClause);
    return result;
}

GridLoad LoadIntoGrid(const DataSource &ds, const QString &whereClause, RosterModel &grid)
{
    GridLoad result;
    try {
        // A load reads the file as it is now, and what follows uses that.
        ForgetDatabase(ds);
        Database *db = &HeldOrOpenDatabase(ds);
        result.load = LoadTable(*db, ds.tableName, whereClause, grid);
        for (const EngineNote &note : db->notes(ds.tableName))
            if (note.warns && !result.warnings.contains(note.chinese))
                result.warnings << note.chinese;
    } catch (...) {
        result.error = DataError::current();
        ForgetDatabase(ds);
    }
    return result;
}

TableLoad LoadTable(Database &db, const DataSource &ds, RosterModel &grid)
{
    return LoadTable(db, ds.tableName, ds.whereClause, grid);
}

void RefreshColumnPickers(const RosterModel &grid, QComboBox *Combo1, QComboBox *Combo2, QComboBox *Comkb1,
                          QComboBox *Comkb2, QComboBox *Comfname1, QComboBox *Comfname2, QComboBox *Comzd,
                          QComboBox *Comt1, QComboBox *Comt2)
{
    QComboBox *const all[] = {Combo1, Combo2, Comkb1, Comkb2, Comfname1, Comfname2, Comzd, Comt1, Comt2};
    QStringList header;
    for (int c = 1; c < grid.cols(); ++c)
        header << grid.cellText(0, c);

    // Filled quietly, so that no handler sees a half-filled list.
    for (QComboBox *box : all) {
        if (!box)
            continue;
        const QSignalBlocker quiet(box);
        box->clear();
        if (box == Combo1)
            box->addItem(QStringLiteral("全部"));
        box->addItems(header);
        box->setCurrentIndex(-1);
    }
    for (QComboBox *box : {Combo1, Comkb1, Comkb2, Comfname1, Comfname2, Comzd})
        if (box && box->count() > 0)
            box->setCurrentIndex(0);
}
