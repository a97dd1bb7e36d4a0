#pragma once

#include <QDataStream>
#include <QIODevice>
// An in-memory table backend for the engine's tests: tables of values held
// in lists. update() really changes the stored value, and can be told to
// refuse a write, so the engine's update path can be checked end to end.

#include "data/engine/EngineError.h"
#include "data/engine/TableSource.h"

#include <QHash>
#include <memory>

struct MemoryTableData
{
    QString name;
    QList<lumora::engine::FieldInfo> fields;
    QList<QList<lumora::engine::Value>> rows;
    int updates = 0;    // successful update() calls
    int failAfter = -1; // refuse every update() once this many succeeded
    QString refused;    // a text value update() and checkUpdate() refuse
};

class MemoryTable : public lumora::engine::TableSource
{
public:
    explicit MemoryTable(std::shared_ptr<MemoryTableData> data)
        : m_data(std::move(data))
    {
    }
    QString name() const override { return m_data->name; }
    const QList<lumora::engine::FieldInfo> &fields() const override { return m_data->fields; }
    qsizetype recordCount() const override { return m_data->rows.size(); }
    lumora::engine::Value value(qsizetype record, int field) const override
    {
        check(record, field);
        return m_data->rows.at(record).at(field);
    }
    // The values themselves, so that the engine's key index is used and
    // made again on tables held in memory too.
    std::optional<QByteArray> fieldBytes(int field) const override
    {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        for (const QList<lumora::engine::Value> &row : std::as_const(m_data->rows))
            out << int(row.at(field).kind()) << row.at(field).toText();
        return bytes;
    }
    void update(qsizetype record, int field, const lumora::engine::Value &value) override
    {
        checkUpdate(record, field, value);
        if (m_data->failAfter >= 0 && m_data->updates >= m_data->failAfter)
            throw lumora::engine::EngineError(QStringLiteral("the file is locked"),
                                              QStringLiteral("数据表被其他程序锁定：%1").arg(m_data->name),
                                              lumora::engine::EngineError::Code::Locked);
        m_data->rows[record][field] = value;
        ++m_data->updates;
    }

    void checkUpdate(qsizetype record, int field, const lumora::engine::Value &value) const override
    {
        check(record, field);
        if (!m_data->refused.isNull() && value.kind() == lumora::engine::Value::Kind::Text &&
            value.textValue() == m_data->refused)
            throw lumora::engine::EngineError(QStringLiteral("\"%1\" does not fit").arg(m_data->refused));
    }

private:
    void check(qsizetype record, int field) const
    {
        if (record < 0 || record >= m_data->rows.size() || field < 0 || field >= m_data->fields.size())
            throw lumora::engine::EngineError(QStringLiteral("no such record or field"));
    }
    std::shared_ptr<MemoryTableData> m_data;
};

class MemoryBackend : public lumora::engine::Backend
{
public:
    // Adds a table; the returned data stays shared with the backend so a
    // test can read what an update wrote.
    std::shared_ptr<MemoryTableData> add(const QString &name, const QList<lumora::engine::FieldInfo> &fields,
                                         const QList<QList<lumora::engine::Value>> &rows = {})
    {
        auto data = std::make_shared<MemoryTableData>();
        data->name = name;
        data->fields = fields;
        data->rows = rows;
        m_tables.append(data);
        return data;
    }
    QStringList tableNames() const override
    {
        QStringList names;
        for (const auto &t : m_tables)
            names.append(t->name);
        return names;
    }
    std::unique_ptr<lumora::engine::TableSource> openTable(const QString &name) override
    {
        for (const auto &t : m_tables)
            if (t->name.compare(name, Qt::CaseInsensitive) == 0)
                return std::make_unique<MemoryTable>(t);
        throw lumora::engine::EngineError(QStringLiteral("no table %1").arg(name));
    }

private:
    QList<std::shared_ptr<MemoryTableData>> m_tables;
};

inline lumora::engine::FieldInfo memoryField(const QString &name, qint16 type)
{
    lumora::engine::FieldInfo f;
    f.name = name;
    f.daoType = type;
    return f;
}
