#include "data/CodeLookup.h"

#include "data/DataError.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/PackedTexts.h"

namespace {

int columnCalled(const RosterModel &grid, std::initializer_list<const char16_t *> names)
{
    for (int c = 1; c < grid.cols(); ++c) {
        const QString header = grid.cellText(0, c).trimmed();
        for (const char16_t *name : names)
            if (header.compare(QString::fromUtf16(name), Qt::CaseInsensitive) == 0)
                return c;
    }
    return 0;
}

} // namespace

int NameColumn(const RosterModel &grid)
{
    return columnCalled(grid, {u"姓名", u"名字", u"学生姓名", u"name", u"xm"});
}

int ClassColumn(const RosterModel &grid)
{
    return columnCalled(grid, {u"班级", u"班别", u"班", u"行政班", u"class", u"bj"});
}

QString CodeMatch::statusText(const QString &code) const
{
    const QString head = QStringLiteral("扫码：%1 → ").arg(code);
    switch (status) {
    case Status::NoTable: return QStringLiteral("扫码：请先以数据表方式打开名单");
    case Status::NoKeys: return QStringLiteral("扫码：名单打开时没有选主键，无法按号码找人");
    case Status::Empty: return QStringLiteral("扫码：没有读到号码");
    case Status::NoMatch: return head + QStringLiteral("名单里没有这个号码，仍停在原来的行");
    case Status::Ambiguous:
        return head + QStringLiteral("名单里有 %1 个人是这个号码，无法确定是谁，仍停在原来的行").arg(records);
    case Status::Shown: return head + QStringLiteral("第 %1 行 %2").arg(row).arg(name);
    case Status::Filtered:
        return head + QStringLiteral("%1 不在当前筛选的结果里，仍停在原来的行；要给他拍照请把筛选改为“全部”")
                          .arg(name);
    case Status::Dropped:
        return head + QStringLiteral("%1 已经拍过，“只显示未拍照”没有列出他，仍停在原来的行；要重拍请取消"
                                     "“只显示未拍照”")
                          .arg(name);
    case Status::Failed: return head + QStringLiteral("无法读取名单：%1").arg(reason);
    }
    return QString();
}

CodeMatch FindByCode(const DataSource &ds, const RosterModel &grid, const QString &rawCode)
{
    CodeMatch m;
    if (!ds.hasTable() || !grid.loadedClause())
        return m;
    const qint16 keyColumn = ds.keyColumns.isEmpty() ? 0 : ds.keyColumns.constFirst();
    if (keyColumn < 1 || keyColumn >= grid.cols()) {
        m.status = CodeMatch::Status::NoKeys;
        return m;
    }
    // A scanner ends its line with Enter; some send blanks or a carriage
    // return before it.
    const QString code = rawCode.trimmed();
    if (code.isEmpty()) {
        m.status = CodeMatch::Status::Empty;
        return m;
    }
    const qint16 type = keyColumn <= ds.fieldTypes.size() ? ds.fieldTypes.at(keyColumn - 1) : qint16(0);
    const QString name = SqlText::columnName(grid.cellText(0, keyColumn));
    // A code that is no value of the key's type (letters for a number key)
    // is nobody's.
    const std::optional<QString> condition =
        name.isEmpty() ? std::nullopt : SqlText::equals(name, type, code);
    m.status = CodeMatch::Status::NoMatch;
    if (!condition)
        return m;
    try {
        lumora::engine::Database &db = HeldOrOpenDatabase(ds);
        const lumora::engine::TableTexts found =
            db.readTexts(ds.tableName, QStringLiteral(" where ") + *condition);
        m.records = found.records.size();
        if (m.records == 0)
            return m;
        if (m.records > 1) {
            m.status = CodeMatch::Status::Ambiguous;
            return m;
        }
        const QStringList cells = lumora::engine::PackedTexts::list(found.rows.constFirst());
        const int nameColumn = NameColumn(grid);
        m.name = cells.value((nameColumn > 0 ? nameColumn : keyColumn) - 1).trimmed();
        if (m.name.isEmpty())
            m.name = cells.value(keyColumn - 1).trimmed();
        const qsizetype record = found.records.constFirst();
        for (int row = 1; row < grid.rows(); ++row) {
            if (grid.recordOf(row) == record) {
                m.status = CodeMatch::Status::Shown;
                m.row = row;
                return m;
            }
        }
        m.status = LoadRecordTexts(db, ds.tableName, *grid.loadedClause(), record)
                       ? CodeMatch::Status::Dropped
                       : CodeMatch::Status::Filtered;
    } catch (...) {
        m.status = CodeMatch::Status::Failed;
        m.reason = DataError::current().text();
        ForgetDatabase(ds);
    }
    return m;
}
