#include "data/engine/TableSource.h"

#include "data/engine/EngineError.h"

namespace lumora::engine {

void TableSource::refuseIndex(qsizetype record, qsizetype records, int field, qsizetype fields) const
{
    if (record < 0 || record >= records)
        throw EngineError::format(u"Table %1 has no record %2 (it has %3)",
                                  u"数据表 %1 中没有记录 %2（共 %3 条）", name(), record, records);
    Q_ASSERT(field < 0 || field >= fields);
    throw EngineError::format(u"Table %1 has no field %2", u"数据表 %1 中没有第 %2 号字段", name(), field);
}

void TableSource::checkUpdateAll(const QList<CellChange> &changes) const
{
    for (const CellChange &c : changes)
        checkUpdate(c.record, c.field, c.value);
}

void TableSource::updateAll(const QList<CellChange> &changes)
{
    // There is no transaction: a write that fails half-way all the same (a
    // lock taken by another program, a full disk) leaves the records
    // before it updated, and the error says how many.
    qsizetype records = 0, done = 0; // records of the changes, and those before the current one
    for (qsizetype i = 0; i < changes.size(); ++i)
        if (i == 0 || changes[i].record != changes[i - 1].record)
            ++records;
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const CellChange &c = changes[i];
        if (i > 0 && c.record != changes[i - 1].record)
            ++done;
        try {
            update(c.record, c.field, c.value);
        } catch (const EngineError &e) {
            if (done == 0)
                throw;
            const QString count = QString::number(done);
            const QString total = QString::number(records);
            const QString chinese = e.chinese().isEmpty()
                                        ? QString()
                                        : QStringLiteral("%1（在此之前，%2 条记录中已有 %3 条改好了）")
                                              .arg(e.chinese(), total, count);
            throw EngineError(QStringLiteral("%1 (%2 of %3 records were updated before this one)")
                                  .arg(e.message(), count, total),
                              chinese,
                              e.code() == EngineError::Code::Changed ? EngineError::Code::Other : e.code());
        }
    }
}

} // namespace lumora::engine
