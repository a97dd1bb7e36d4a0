#include "data/engine/Recordset.h"

#include <algorithm>

namespace lumora::engine {

QList<Value> Recordset::row(qsizetype i) const
{
    if (!m_tabs.isEmpty())
        return m_built.size() == m_packed.size() && !m_built.at(i).isEmpty() ? m_built.at(i) : joinedRow(i);
    QList<Value> out(m_fields.size());
    const size_t from = i == 0 ? 0 : m_rowEnds.at(size_t(i - 1));
    for (size_t k = from; k < m_rowEnds.at(size_t(i)); ++k)
        out[m_valueFields[k]] = m_values[k];
    return out;
}

const Value &Recordset::value(qsizetype row, int field) const
{
    static const Value null;
    if (!m_tabs.isEmpty()) {
        if (m_built.size() != m_packed.size())
            m_built.resize(m_packed.size());
        if (m_built.at(row).isEmpty())
            m_built[row] = joinedRow(row);
        return m_built.at(row).at(field);
    }
    Q_ASSERT(field >= 0 && field < m_fields.size());
    const auto begin = m_valueFields.begin() + qsizetype(row == 0 ? 0 : m_rowEnds.at(size_t(row - 1)));
    const auto end = m_valueFields.begin() + qsizetype(m_rowEnds.at(size_t(row)));
    // A row without Nulls holds every field in place.
    if (end - begin == m_fields.size())
        return m_values[size_t(begin - m_valueFields.begin() + field)];
    const auto it = std::lower_bound(begin, end, field);
    return it != end && *it == field ? m_values[size_t(it - m_valueFields.begin())] : null;
}

QList<Value> Recordset::joinedRow(qsizetype i) const
{
    const qsizetype width = m_tabs.size();
    const QString &packed = m_packed.at(i);
    QList<Value> row;
    row.reserve(width);
    for (qsizetype c = 0; c < width; ++c) {
        if (m_allNull[size_t(i * width + c)]) {
            row.append(Value());
            continue;
        }
        const QList<bool> &tabs = m_tabs.at(c);
        qsizetype k = m_firstPart.at(c);
        qsizetype length = 0;
        for (const bool tab : tabs)
            length += tab ? 1 : PackedTexts::at(packed, k++).size();
        QString text;
        text.reserve(length);
        k = m_firstPart.at(c);
        for (const bool tab : tabs) {
            if (tab)
                text += QLatin1Char('\t');
            else
                text += PackedTexts::at(packed, k++);
        }
        row.append(Value::text(std::move(text)));
    }
    return row;
}

QStringList Recordset::parts(qsizetype row, int field) const
{
    if (!m_tabs.isEmpty()) {
        if (row < 0 || row >= m_packed.size() || field < 0 || field >= m_tabs.size())
            return {};
        // The empty parts at the row's end were not kept.
        QStringList out = PackedTexts::list(m_packed.at(row), m_firstPart.at(field), m_partCount.at(field));
        out.resize(m_partCount.at(field));
        return out;
    }
    if (row < 0 || row >= m_parts.size() || field < 0 || field >= m_parts.at(row).size())
        return {};
    return m_parts.at(row).at(field);
}

QString Recordset::packedParts(qsizetype row) const
{
    if (!packsParts() || row < 0 || row >= m_packed.size())
        return {};
    return m_packed.at(row);
}

void Recordset::reserve(qsizetype rows)
{
    if (m_tabs.isEmpty()) {
        m_rowEnds.reserve(size_t(rows));
        m_expectedRows = rows;
    } else {
        m_packed.reserve(rows);
        m_allNull.reserve(size_t(rows * m_tabs.size()));
    }
}

void Recordset::appendRow(QList<Value> values, QList<QStringList> parts)
{
    Q_ASSERT(m_tabs.isEmpty() && values.size() == m_fields.size());
    if (!parts.isEmpty()) {
        // Rows before the first join keep no parts; parts() reads them as empty.
        m_parts.resize(qsizetype(m_rowEnds.size()));
        m_parts.append(std::move(parts));
    }
    for (qsizetype f = 0; f < values.size(); ++f)
        if (!values[f].isNull())
            appendValue(int(f), std::move(values[f]));
    endRow();
}

void Recordset::appendValue(int field, Value value)
{
    Q_ASSERT(m_tabs.isEmpty() && field >= 0 && field < m_fields.size());
    const size_t rows = m_rowEnds.size();
    if (m_values.size() == m_values.capacity() && rows > 0 && qsizetype(rows) < m_expectedRows) {
        // Room for the rows still to come, as many values each as so far.
        const size_t each = m_values.size() / rows + 1;
        m_values.reserve(m_values.size() + each * size_t(m_expectedRows - qsizetype(rows)));
        m_valueFields.reserve(m_values.capacity());
    }
    m_values.push_back(std::move(value));
    m_valueFields.push_back(field);
}

void Recordset::joinLazily(QList<QList<bool>> tabs)
{
    Q_ASSERT(m_rowEnds.empty() && tabs.size() == m_fields.size());
    m_tabs = std::move(tabs);
    qsizetype first = 0;
    m_firstPart.reserve(m_tabs.size());
    m_partCount.reserve(m_tabs.size());
    for (const QList<bool> &operands : std::as_const(m_tabs)) {
        m_firstPart.append(first);
        m_partCount.append(operands.count(false));
        first += m_partCount.last();
    }
}

void Recordset::appendJoinedRow(const QStringList &parts, const std::vector<bool> &allNull)
{
    Q_ASSERT(!m_tabs.isEmpty() && allNull.size() == size_t(m_tabs.size()));
    m_allNull.insert(m_allNull.end(), allNull.begin(), allNull.end());
    qsizetype kept = parts.size();
    while (kept > 0 && parts.at(kept - 1).isEmpty())
        --kept;
    m_packed.append(PackedTexts::pack(parts, kept));
}

} // namespace lumora::engine
