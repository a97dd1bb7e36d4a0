#include "data/RowFilter.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QComboBox>

using namespace lumora::engine;

QString DistinctQuery(const QString &column, const QString &tableName)
{
    const QString name = SqlText::columnName(column);
    if (name.isEmpty())
        return {};
    return QStringLiteral("select distinct ") + name + QStringLiteral(" from ") + tableName;
}

QStringList DistinctValues(const DataSource &ds, const QString &column)
{
    const QString statement = DistinctQuery(column, ds.tableName);
    if (statement.isEmpty())
        throw EngineError(QStringLiteral("the column name “%1” cannot be used in a statement").arg(column),
                          QStringLiteral("列名“%1”不能用于语句").arg(column));
    const std::unique_ptr<Database> db = OpenDatabase(ds);
    const Recordset values = db->openRecordset(statement);
    QStringList texts;
    texts.reserve(values.size());
    // The grid shows a Null and an empty text alike: one blank entry stands
    // for both, where the first of them came.
    bool blankListed = false;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const Value &v = values.value(i, 0);
        const QString text = v.isNull() ? QString() : v.toText();
        if (text.isEmpty()) {
            if (blankListed)
                continue;
            blankListed = true;
        }
        texts << text;
    }
    return texts;
}

std::optional<DataError> RefillFilterValues(const DataSource &ds, const QComboBox &Combo1, QComboBox &Combo2)
{
    if (Combo1.currentIndex() <= 0) {
        Combo2.clear();
        Combo2.addItem(QStringLiteral("全部"));
        return std::nullopt;
    }
    QStringList values;
    try {
        values = DistinctValues(ds, Combo1.currentText());
    } catch (...) {
        return DataError::current();
    }
    Combo2.clear();
    Combo2.addItems(values);
    Combo2.setCurrentIndex(-1);
    return std::nullopt;
}

FilterClause BuildFilterClause(int combo1Index, const QString &column, const QString &value,
                               const QList<qint16> &fieldTypes)
{
    FilterClause result;
    if (combo1Index == 0) {
        result.ok = true;
        return result;
    }
    if (combo1Index < 0 || combo1Index > fieldTypes.size()) {
        result.error = QStringLiteral("没有选择筛选的列");
        return result;
    }
    const QString name = SqlText::columnName(column);
    if (name.isEmpty()) {
        result.error = QStringLiteral("列名“%1”不能用于筛选").arg(column);
        return result;
    }
    const std::optional<QString> condition =
        SqlText::equals(name, fieldTypes.at(combo1Index - 1), value, &result.error);
    if (!condition)
        return result;
    result.ok = true;
    result.clause = QStringLiteral(" where ") + *condition;
    return result;
}

FilterLoad ApplyFilter(DataSource &ds, RosterModel &grid, int combo1Index, const QString &combo1Text,
                       const QString &combo2Text)
{
    const FilterClause clause = BuildFilterClause(combo1Index, combo1Text, combo2Text, ds.fieldTypes);
    if (clause.ok)
        ds.whereClause = clause.clause;
    FilterLoad load = ReloadThroughFilter(ds, grid);
    if (!clause.ok && !load.error)
        load.error = DataError::refusal(clause.error);
    return load;
}

FilterLoad ReloadThroughFilter(DataSource &ds, RosterModel &grid)
{
    FilterLoad load;
    try {
        ForgetDatabase(ds);
        LoadTable(HeldOrOpenDatabase(ds), ds, grid);
    } catch (...) {
        ForgetDatabase(ds);
        load.error = DataError::current();
    }
    load.caption = QStringLiteral("数据表[%1]").arg(grid.rows() - 2);
    return load;
}
