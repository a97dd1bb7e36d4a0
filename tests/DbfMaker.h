#pragma once
// Small dBase III tables for the tests and benchmarks, given as texts the way
// the grid shows them: character (C), numeric (N), date (D, "yyyy-MM-dd") and
// logical (L, "T"/"F") fields, text in GBK. DbfWriter encodes them with the
// table engine's own codecs; a missing value, or an empty one in a field that
// is not character, is written as blanks, as dBase writes a null.

#include "DbfWriter.h"
#include "data/engine/EngineError.h"
#include "data/engine/Value.h"

#include <QList>
#include <QStringList>
#include <QtGlobal>
#include <optional>

class DbfMaker
{
public:
    using Field = lumora::engine::DbfWriter::Field;

    explicit DbfMaker(QList<Field> fields)
        : m_fields(std::move(fields))
    {
    }

    // One record; a missing value (std::nullopt) is written as blanks.
    void addWithNulls(const QList<std::optional<QString>> &values) { m_records << values; }
    void add(const QStringList &values)
    {
        QList<std::optional<QString>> v;
        for (const QString &s : values)
            v << std::optional<QString>(s);
        m_records << v;
    }

    // false (with the engine's reason as a warning) when the table could not
    // be written.
    bool write(const QString &path) const
    {
        using lumora::engine::Value;
        QList<QList<Value>> records;
        records.reserve(m_records.size());
        for (const auto &record : m_records) {
            QList<Value> values;
            for (int i = 0; i < m_fields.size(); ++i) {
                const std::optional<QString> v = i < record.size() ? record.at(i) : std::nullopt;
                const bool blank = !v || (m_fields.at(i).type != 'C' && v->trimmed().isEmpty());
                values << (blank ? Value::null() : Value::text(*v));
            }
            records << values;
        }
        try {
            lumora::engine::DbfWriter::write(path, m_fields, records);
        } catch (const lumora::engine::EngineError &e) {
            qWarning("%s", qPrintable(e.message()));
            return false;
        }
        return true;
    }

private:
    QList<Field> m_fields;
    QList<QList<std::optional<QString>>> m_records;
};
