#include "data/WriteBack.h"

#include "data/DataSource.h"
#include "data/SqlText.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

using namespace lumora::engine;

WriteBackStatement BuildKeyConditions(const QList<WriteBackKey> &keys)
{
    WriteBackStatement result;
    if (keys.isEmpty()) {
        result.error = QStringLiteral("没有指定主键");
        return result;
    }
    QString conditions;
    for (const WriteBackKey &key : keys) {
        const QString name = SqlText::columnName(key.column);
        if (name.isEmpty()) {
            result.error = QStringLiteral("主键列名“%1”不能用于语句").arg(key.column);
            return result;
        }
        QString why;
        const std::optional<QString> condition = SqlText::equals(name, key.type, key.value, &why);
        if (!condition) {
            result.error = QStringLiteral("主键“%1”：%2").arg(key.column, why);
            return result;
        }
        if (!conditions.isEmpty())
            conditions += QStringLiteral(" and ");
        conditions += *condition;
    }
    result.ok = true;
    result.statement = conditions;
    return result;
}

QString StoredFileName(const QString &photoName, bool withExtension, const QString &extension)
{
    return withExtension ? photoName + QLatin1Char('.') + extension : photoName;
}

WriteBackStatement BuildUpdateStatement(const QString &tableName, const QString &targetColumn, qint16 targetType,
                                        const QString &storedValue, const QList<WriteBackKey> &keys)
{
    WriteBackStatement result;
    const QString target = SqlText::columnName(targetColumn);
    if (target.isEmpty()) {
        result.error = QStringLiteral("列名“%1”不能用于语句").arg(targetColumn);
        return result;
    }
    const bool storable = targetType == DaoText || targetType == DaoMemo || targetType == DaoDouble
                          || targetType == DaoDate;
    if (!storable) {
        result.error = QStringLiteral("目标列“%1”不是文本型").arg(targetColumn);
        return result;
    }
    QString why;
    const std::optional<QString> value = SqlText::literal(targetType, storedValue, &why);
    if (!value) {
        result.error = QStringLiteral("目标列“%1”：%2").arg(targetColumn, why);
        return result;
    }
    const WriteBackStatement conditions = BuildKeyConditions(keys);
    if (!conditions.ok)
        return conditions;
    result.ok = true;
    result.statement = QStringLiteral("update ") + tableName + QStringLiteral(" set ") + target + QLatin1Char('=')
                       + *value + QStringLiteral(" where ") + conditions.statement;
    return result;
}

QList<WriteBackKey> RowKeys(const DataSource &ds, const TableGrid &grid, int row)
{
    QList<WriteBackKey> keys;
    for (qint16 c : ds.keyColumns) {
        WriteBackKey key;
        key.column = grid.cellText(0, c);
        key.type = c >= 1 && c <= ds.fieldTypes.size() ? ds.fieldTypes.at(c - 1) : qint16(0);
        key.value = grid.cellText(row, c);
        keys << key;
    }
    return keys;
}

WriteBackStatement BuildWriteBack(const DataSource &ds, const TableGrid &grid, const WriteBackRequest &request)
{
    const int k = request.targetIndex;
    if (k < 0 || k >= ds.fieldTypes.size() || k + 1 >= grid.cols()) {
        WriteBackStatement none;
        none.error = QStringLiteral("没有选择存放文件名的列");
        return none;
    }
    return BuildUpdateStatement(ds.tableName, grid.cellText(0, k + 1), ds.fieldTypes.at(k),
                                StoredFileName(request.photoName, request.withExtension, request.extension),
                                RowKeys(ds, grid, request.row));
}

QString WriteBackResult::statusText() const
{
    switch (status) {
    case Status::Written:
    case Status::SwitchedOff:
        return {};
    case Status::NoKeys:
        return QStringLiteral("文件名未写入数据表：打开数据表时没有指定主键");
    case Status::NoTarget:
        return QStringLiteral("文件名未写入数据表：没有选择存放文件名的列");
    case Status::NotBuilt:
        return QStringLiteral("文件名未写入数据表：") + reason;
    case Status::Failed:
        return QStringLiteral("文件名未写入数据表：") + reason;
    case Status::NoMatch:
        return QStringLiteral("文件名未写入数据表：没有找到这一行的记录");
    }
    return {};
}

WriteBackResult WriteBackFileName(const DataSource &ds, const TableGrid &grid, const WriteBackRequest &request)
{
    WriteBackResult result;
    if (!request.enabled)
        return result;
    if (ds.keyColumns.isEmpty()) {
        result.status = WriteBackResult::Status::NoKeys;
        return result;
    }
    const int k = request.targetIndex;
    if (k < 0 || k >= ds.fieldTypes.size() || k + 1 >= grid.cols()) {
        result.status = WriteBackResult::Status::NoTarget;
        return result;
    }
    const WriteBackStatement built = BuildWriteBack(ds, grid, request);
    if (!built.ok) {
        result.status = WriteBackResult::Status::NotBuilt;
        result.reason = built.error;
        return result;
    }
    result.statement = built.statement;
    try {
        const std::unique_ptr<Database> db = OpenDatabase(ds);
        result.changed = db->execute(built.statement);
    } catch (const EngineError &e) {
        result.status = WriteBackResult::Status::Failed;
        result.reason = e.message();
        return result;
    }
    result.status = result.changed > 0 ? WriteBackResult::Status::Written : WriteBackResult::Status::NoMatch;
    return result;
}
