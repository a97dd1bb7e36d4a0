#include "data/engine/Recordset.h"

namespace lumora::engine {

const QList<Value> &Recordset::row(qsizetype i) const
{
    const QList<Value> &r = m_rows.at(i);
    if (r.isEmpty() && !m_tabs.isEmpty())
        buildRow(i);
    return m_rows.at(i);
}

void Recordset::buildRow(qsizetype i) const
{
    const qsizetype width = m_tabs.size();
    const QList<QStringList> &texts = m_parts.at(i);
    QList<Value> row;
    row.reserve(width);
    for (qsizetype c = 0; c < width; ++c) {
        if (m_allNull[size_t(i * width + c)]) {
            row.append(Value());
            continue;
        }
        const QList<bool> &tabs = m_tabs.at(c);
        const QStringList &part = texts.at(c);
        qsizetype length = 0;
        for (const QString &p : part)
            length += p.size();
        QString text;
        text.reserve(length + tabs.size());
        qsizetype k = 0;
        for (const bool tab : tabs) {
            if (tab)
                text += QLatin1Char('\t');
            else
                text += part.at(k++);
        }
        row.append(Value::text(std::move(text)));
    }
    m_rows[i] = std::move(row);
}

QStringList Recordset::parts(qsizetype row, int field) const
{
    if (row < 0 || row >= m_parts.size() || field < 0 || field >= m_parts.at(row).size())
        return {};
    return m_parts.at(row).at(field);
}

void Recordset::reserve(qsizetype rows)
{
    m_rows.reserve(rows);
    if (!m_tabs.isEmpty()) {
        m_parts.reserve(rows);
        m_allNull.reserve(size_t(rows * m_tabs.size()));
    }
}

void Recordset::appendRow(QList<Value> values, QList<QStringList> parts)
{
    Q_ASSERT(m_tabs.isEmpty());
    if (!parts.isEmpty()) {
        // Rows before the first join keep no parts; parts() reads them as empty.
        m_parts.resize(m_rows.size());
        m_parts.append(std::move(parts));
    }
    m_rows.append(std::move(values));
}

void Recordset::joinLazily(QList<QList<bool>> tabs)
{
    Q_ASSERT(m_rows.isEmpty() && tabs.size() == m_fields.size());
    m_tabs = std::move(tabs);
}

void Recordset::appendJoinedRow(QList<QStringList> parts, const std::vector<bool> &allNull)
{
    Q_ASSERT(!m_tabs.isEmpty() && parts.size() == m_tabs.size() && allNull.size() == size_t(m_tabs.size()));
    m_allNull.insert(m_allNull.end(), allNull.begin(), allNull.end());
    m_rows.emplace_back();
    m_parts.append(std::move(parts));
}

} // namespace lumora::engine
