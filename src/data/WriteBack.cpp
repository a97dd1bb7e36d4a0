#include "data/WriteBack.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

using namespace lumora::engine;

QList<QString> KeyColumnNames(const QList<WriteBackKey> &keys)
{
    QList<QString> names;
    names.reserve(keys.size());
    for (const WriteBackKey &key : keys)
        names << SqlText::columnName(key.column);
    return names;
}

WriteBackStatement BuildKeyConditions(const QList<WriteBackKey> &keys)
{
    return BuildKeyConditions(keys, KeyColumnNames(keys));
}

WriteBackStatement BuildKeyConditions(const QList<WriteBackKey> &keys, const QList<QString> &names)
{
    WriteBackStatement result;
    if (keys.isEmpty()) {
        result.error = QStringLiteral("没有指定主键");
        return result;
    }
    QString conditions;
    for (qsizetype k = 0; k < keys.size(); ++k) {
        const WriteBackKey &key = keys.at(k);
        if (key.value.trimmed().isEmpty()) {
            result.error = QStringLiteral("主键“%1”为空").arg(key.column);
            return result;
        }
        const QString &name = names.at(k);
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

WriteBackStatement BuildUpdateStatement(const QString &tableName, const QString &targetColumn,
                                        qint16 targetType, const QString &storedValue,
                                        const QList<WriteBackKey> &keys)
{
    WriteBackStatement result;
    const QString target = SqlText::columnName(targetColumn);
    if (target.isEmpty()) {
        result.error = QStringLiteral("列名“%1”不能用于语句").arg(targetColumn);
        return result;
    }
    // The keys find the person: a name written into one of them would
    // replace the very value that identifies the record.
    for (const WriteBackKey &key : keys) {
        if (key.column.compare(targetColumn, Qt::CaseInsensitive) == 0) {
            result.error = QStringLiteral("目标列“%1”是主键，文件名不能写入主键列").arg(targetColumn);
            return result;
        }
    }
    const bool storable =
        targetType == DaoText || targetType == DaoMemo || targetType == DaoDouble || targetType == DaoDate;
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
    result.statement = QStringLiteral("update ") + tableName + QStringLiteral(" set ") + target +
                       QLatin1Char('=') + *value + QStringLiteral(" where ") + conditions.statement;
    return result;
}

QList<WriteBackKey> RowKeys(const DataSource &ds, const RosterModel &grid, int row)
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

WriteBackStatement BuildWriteBack(const DataSource &ds, const RosterModel &grid,
                                  const WriteBackRequest &request)
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
    case Status::SwitchedOff: return {};
    case Status::NoMatch:
    case Status::Ambiguous: return why() + QStringLiteral("，文件名未写入数据表");
    default: return QStringLiteral("文件名未写入数据表：") + why();
    }
}

QString WriteBackResult::why() const
{
    switch (status) {
    case Status::Written:
    case Status::SwitchedOff: return {};
    case Status::NoKeys: return QStringLiteral("打开数据表时没有指定主键");
    case Status::NoTarget: return QStringLiteral("没有选择存放文件名的列");
    case Status::NotBuilt:
    case Status::Failed: return reason;
    case Status::NotAPerson: return QStringLiteral("当前行不是数据表中的记录");
    case Status::NoMatch: return QStringLiteral("关键字段没有匹配到记录");
    case Status::Ambiguous: return QStringLiteral("关键字段匹配到 %1 条记录").arg(matched);
    }
    return {};
}

WriteBackResult WriteBackFileName(const DataSource &ds, const RosterModel &grid,
                                  const WriteBackRequest &request)
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
    if (!IsRecordRow(grid, request.row)) {
        result.status = WriteBackResult::Status::NotAPerson;
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
        // Only a statement that picks exactly this one person writes: a
        // shared key (or two keys differing only in letter case) writes
        // nothing rather than the same name into several records.
        const UpdateResult update = HeldOrOpenDatabase(ds).executeIfMatches(built.statement, 1);
        result.matched = update.matched();
        if (update.written) {
            result.changed = 1;
            result.record = update.records.constFirst();
        }
    } catch (...) {
        result.status = WriteBackResult::Status::Failed;
        result.error = DataError::current();
        result.reason = result.error->text();
        // The next write opens the file afresh rather than trust what this
        // one left behind.
        ForgetDatabase(ds);
        return result;
    }
    if (result.changed == 1)
        result.status = WriteBackResult::Status::Written;
    else
        result.status =
            result.matched == 0 ? WriteBackResult::Status::NoMatch : WriteBackResult::Status::Ambiguous;
    return result;
}

bool IsRecordRow(const RosterModel &grid, int row)
{
    // rows: the header, the records, then the trailing empty row (or, with
    // no record, the marker row alone).
    return row >= 1 && row <= grid.rows() - 2;
}

bool RefreshWrittenRow(const DataSource &ds, RosterModel &grid, int row, qsizetype record)
{
    if (!grid.loadedClause())
        throw EngineError(QStringLiteral("the grid shows no complete load"),
                          QStringLiteral("表格没有完整载入"));
    // The database the write went through: it holds the file as written.
    const std::optional<QStringList> texts =
        LoadRecordTexts(HeldOrOpenDatabase(ds), ds.tableName, *grid.loadedClause(), record);
    if (texts) {
        for (int c = 1; c < grid.cols(); ++c)
            grid.setCellText(row, c, texts->value(c - 1));
        return false;
    }
    grid.removeRow(row);
    // The last record gone: what is left is the marker row a load of an
    // empty result shows.
    if (grid.rows() == 2)
        grid.setCellText(1, 1, NoRecordsMarker());
    return true;
}
