#include "data/TableLoader.h"

#include "data/DataSource.h"
#include "data/FailureText.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QComboBox>
#include <QSignalBlocker>

using namespace lumora::engine;

std::unique_ptr<Database> OpenDatabase(const DataSource &ds)
{
    if (ds.opener)
        return ds.opener(ds);
    return Database::open(ds.databasePath, ds.connectString);
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

QStringList FieldNames(Database &db, const QString &tableName)
{
    QStringList names;
    for (const FieldInfo &field : db.fields(tableName))
        names << field.name;
    return names;
}

QString CheckedRowQuery(const QStringList &names, const QString &tableName, const QString &whereClause)
{
    const QString statement = RowQuery(names, tableName, whereClause);
    if (statement.isEmpty())
        throw EngineError(QStringLiteral("a field name of %1 cannot be used in a statement").arg(tableName),
                          QStringLiteral("数据表 %1 中有不能用于语句的字段名").arg(tableName));
    return statement;
}

// The cells of one result row: each field's own text, tabs included.
QStringList RowTexts(const Recordset &rows, qsizetype j)
{
    QStringList parts = rows.parts(j, 0);
    if (parts.isEmpty())
        parts << rows.value(j, 0).toText(); // a single field is no join
    return parts;
}

} // namespace

std::optional<QStringList> LoadRecordTexts(Database &db, const QString &tableName, const QString &whereClause,
                                           qsizetype record)
{
    const QString statement = CheckedRowQuery(FieldNames(db, tableName), tableName, whereClause);
    const Recordset rows = db.openRecordset(statement, record);
    if (rows.isEmpty())
        return std::nullopt;
    return RowTexts(rows, 0);
}

QList<QStringList> AllRecordTexts(Database &db, const QString &tableName)
{
    const Recordset rows = db.openRecordset(CheckedRowQuery(FieldNames(db, tableName), tableName, QString()));
    QList<QStringList> texts;
    texts.reserve(rows.size());
    for (qsizetype j = 0; j < rows.size(); ++j)
        texts << RowTexts(rows, j);
    return texts;
}

TableLoad LoadTable(Database &db, const QString &tableName, const QString &whereClause, RosterModel &grid)
{
    grid.setLoadedClause(std::nullopt);
    grid.setColumnCode(1, 3);
    grid.setRows(1);

    // The field query's result only supplies the field names and types: take
    // them from the table itself rather than reading every record twice.
    const QList<FieldInfo> fields = db.fields(tableName);
    const int n = int(fields.size());

    BulkGuard bulk{grid};
    bulk.begin();
    grid.setCols(n + 1);
    QStringList names;
    names.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int c = i + 1;
        grid.setCellText(0, c, fields.at(i).name);
        if (fields.at(i).daoType == DaoDouble)
            grid.setColumnCode(c, 5);
        grid.askColumnWidth(c, 50);
        names << fields.at(i).name;
    }

    const Recordset rows = db.openRecordset(CheckedRowQuery(names, tableName, whereClause));

    TableLoad result;
    if (rows.isEmpty()) {
        grid.appendRow({}, false);
        grid.setCellText(1, 1, NoRecordsMarker());
        grid.setLoadedClause(whereClause);
        return result;
    }

    const qsizetype count = rows.size();
    grid.reserveRows(count + 1);
    for (qsizetype j = 0; j < count; ++j) {
        // The packed parts are shared with the result: no copy per row, and
        // nothing at all for a row of empty cells (a sheet whose used area
        // reaches IV65536 through four cells is mostly such rows).
        if (rows.packsParts())
            grid.appendPackedRow(rows.packedParts(j), false);
        else
            grid.appendRow(RowTexts(rows, j), false);
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
        const std::unique_ptr<Database> db = OpenDatabase(ds);
        result.load = LoadTable(*db, ds.tableName, whereClause, grid);
        result.ok = true;
        for (const EngineNote &note : db->notes(ds.tableName))
            if (note.warns && !result.warnings.contains(note.chinese))
                result.warnings << note.chinese;
    } catch (...) {
        result.error = CurrentFailureText();
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
