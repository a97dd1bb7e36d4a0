#include "data/PendingWriteBack.h"

#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/SqlText.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QFileInfo>

using namespace lumora::engine;

namespace {

QString personText(const QString &photoName, const QList<WriteBackKey> &keys)
{
    QStringList keyTexts;
    for (const WriteBackKey &key : keys) {
        if (key.value == photoName)
            return photoName;
        keyTexts << key.column + QLatin1Char(' ') +
                        (key.value.trimmed().isEmpty() ? QStringLiteral("（空）") : key.value);
    }
    return keyTexts.isEmpty() ? photoName
                              : photoName + QStringLiteral("（") + keyTexts.join(QStringLiteral("，")) +
                                    QStringLiteral("）");
}

// Whether `texts` (laid out as `columns`) shows the entry's person: the same
// text in every column but the target.
bool sameRow(const PendingWriteBack &entry, const QStringList &columns, const QStringList &texts)
{
    if (columns != entry.columns)
        return false;
    for (qsizetype c = 0; c < columns.size(); ++c)
        if (columns.at(c) != entry.target && texts.value(c) != entry.texts.value(c))
            return false;
    return true;
}

QStringList gridRow(const RosterModel &grid, int row)
{
    QStringList texts;
    for (int c = 1; c < grid.cols(); ++c)
        texts << grid.cellText(row, c);
    return texts;
}

// Where the entry's person is among the records (texts in table order, one
// list per record, `fields` naming them): the one record with the entry's
// texts in every column but the target or, when none has them all (a key
// was mended since), the one with them in every column but the keys and the
// target. -1 when there is not exactly one; `why` then says so.
qsizetype findPerson(const PendingWriteBack &e, const QStringList &fields, const QList<QStringList> &records,
                     QString *why)
{
    const auto isKey = [&e](const QString &name) {
        return std::any_of(e.keys.cbegin(), e.keys.cend(),
                           [&](const WriteBackKey &k) { return k.column == name; });
    };
    for (const bool withKeys : {true, false}) {
        QList<std::pair<qsizetype, qsizetype>> compared; // entry column, field
        for (qsizetype c = 0; c < e.columns.size(); ++c) {
            const QString &name = e.columns.at(c);
            if (name == e.target || (!withKeys && isKey(name)))
                continue;
            const qsizetype f = fields.indexOf(name);
            if (f < 0) {
                *why = QStringLiteral("名单中已没有列“%1”").arg(name);
                return -1;
            }
            compared.append({c, f});
        }
        if (compared.isEmpty())
            break;
        qsizetype found = -1;
        int count = 0;
        for (qsizetype r = 0; r < records.size(); ++r) {
            const QStringList &record = records.at(r);
            if (std::all_of(compared.cbegin(), compared.cend(), [&](const auto &p) {
                    return record.value(p.second) == e.texts.value(p.first);
                })) {
                found = r;
                ++count;
            }
        }
        if (count == 1)
            return found;
        if (count > 1) {
            *why = QStringLiteral("名单中有 %1 条记录与此人相同，无法确定是哪一条").arg(count);
            return -1;
        }
    }
    *why = QStringLiteral("名单中找不到此人的记录");
    return -1;
}

// Writes the entry's name into record `person` through that record's keys,
// only when they pick it and no other. Empty when written, else why not.
QString writeInto(Database &db, const DataSource &ds, const PendingWriteBack &e, const QStringList &fields,
                  const QStringList &record, qsizetype person)
{
    QList<WriteBackKey> keys = e.keys;
    for (WriteBackKey &key : keys)
        key.value = record.value(fields.indexOf(key.column));
    const WriteBackStatement conditions = BuildKeyConditions(keys);
    if (!conditions.ok)
        return conditions.error;
    // The keys must take this very record: a key mended into another
    // person's would otherwise reach that person.
    const QString select = QStringLiteral("select ") + SqlText::columnName(fields.constFirst()) +
                           QStringLiteral(" from ") + ds.tableName + QStringLiteral(" where ") +
                           conditions.statement;
    if (db.openRecordset(select, person).isEmpty())
        return QStringLiteral("主键不能确定此人的记录");
    const WriteBackStatement update =
        BuildUpdateStatement(ds.tableName, e.target, e.targetType, e.value, keys);
    if (!update.ok)
        return update.error;
    const UpdateResult done = db.executeIfMatches(update.statement, 1);
    if (!done.written)
        return QStringLiteral("关键字段匹配到 %1 条记录").arg(done.matched());
    return {};
}

} // namespace

bool LeavesPending(const WriteBackResult &result)
{
    using S = WriteBackResult::Status;
    return result.status == S::NotBuilt || result.status == S::Failed || result.status == S::NoMatch ||
           result.status == S::Ambiguous;
}

PendingWriteBack PendingFor(const DataSource &ds, const RosterModel &grid, const WriteBackRequest &request,
                            const WriteBackResult &result, const QString &photoPath)
{
    PendingWriteBack e;
    e.keys = RowKeys(ds, grid, request.row);
    e.person = personText(request.photoName, e.keys);
    e.reason = result.why();
    e.waitsForLock = result.locked();
    const int k = request.targetIndex;
    e.target = grid.cellText(0, k + 1);
    e.targetType = k >= 0 && k < ds.fieldTypes.size() ? ds.fieldTypes.at(k) : qint16(0);
    e.value = StoredFileName(request.photoName, request.withExtension, request.extension);
    e.photoPath = photoPath;
    e.columns = gridRow(grid, 0);
    e.texts = gridRow(grid, request.row);
    return e;
}

bool SamePerson(const PendingWriteBack &a, const PendingWriteBack &b)
{
    return a.target == b.target && sameRow(a, b.columns, b.texts);
}

int RowOf(const PendingWriteBack &entry, const RosterModel &grid)
{
    const QStringList columns = gridRow(grid, 0);
    for (int row = 1; row <= grid.rows() - 2; ++row)
        if (sameRow(entry, columns, gridRow(grid, row)))
            return row;
    return 0;
}

PendingRetry RetryPending(const DataSource &ds, const QList<PendingWriteBack> &entries)
{
    PendingRetry out;
    Database *db = nullptr;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        PendingWriteBack e = entries.at(i);
        e.waitsForLock = false;
        if (!QFileInfo(e.photoPath).isFile()) {
            e.reason = QStringLiteral("照片 %1 已不存在").arg(e.photoPath);
            out.left << e;
            continue;
        }
        try {
            if (!db) {
                // Read as the file is now; the rows these writes change are
                // then brought up to date through the same database.
                ForgetDatabase(ds);
                db = &HeldOrOpenDatabase(ds);
            }
            // Read afresh for each entry: a write may move records.
            QStringList fields;
            for (const FieldInfo &f : db->fields(ds.tableName))
                fields << f.name;
            const QList<QStringList> records = AllRecordTexts(*db, ds.tableName);
            const qsizetype person = findPerson(e, fields, records, &e.reason);
            const QString why =
                person < 0 ? e.reason : writeInto(*db, ds, e, fields, records.at(person), person);
            if (why.isEmpty()) {
                out.written << e;
                out.records << person;
            } else {
                e.reason = why;
                out.left << e;
            }
        } catch (...) {
            const DataError error = DataError::current();
            e.reason = error.text();
            e.waitsForLock = error.locked();
            out.left << e;
            if (e.waitsForLock) {
                // A lock holds for the rest too: they wait for it with this one.
                for (qsizetype j = i + 1; j < entries.size(); ++j) {
                    PendingWriteBack rest = entries.at(j);
                    rest.reason = e.reason;
                    rest.waitsForLock = true;
                    out.left << rest;
                }
                break;
            }
        }
    }
    return out;
}
