#include "data/engine/Recordset.h"

namespace lumora::engine {

const QList<Value> &Recordset::row(qsizetype i) const
{
    if (!m_tabs.isEmpty() && m_rows.size() != m_packed.size())
        m_rows.resize(m_packed.size());
    const QList<Value> &r = m_rows.at(i);
    if (r.isEmpty() && !m_tabs.isEmpty())
        buildRow(i);
    return m_rows.at(i);
}

void Recordset::buildRow(qsizetype i) const
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
    m_rows[i] = std::move(row);
}

QStringList Recordset::parts(qsizetype row, int field) const
{
    if (!m_tabs.isEmpty()) {
        if (row < 0 || row >= m_packed.size() || field < 0 || field >= m_tabs.size())
            return {};
        const qsizetype first = m_firstPart.at(field);
        const qsizetype end = field + 1 < m_firstPart.size() ? m_firstPart.at(field + 1) : -1;
        return PackedTexts::list(m_packed.at(row), first, end < 0 ? -1 : end - first);
    }
    if (row < 0 || row >= m_parts.size() || field < 0 || field >= m_parts.at(row).size())
        return {};
    return m_parts.at(row).at(field);
}

QString Recordset::packedParts(qsizetype row) const
{
    if (m_tabs.size() != 1 || row < 0 || row >= m_packed.size())
        return {};
    return m_packed.at(row);
}

void Recordset::reserve(qsizetype rows)
{
    if (m_tabs.isEmpty()) {
        m_rows.reserve(rows);
    } else {
        m_packed.reserve(rows);
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
    qsizetype first = 0;
    m_firstPart.reserve(m_tabs.size());
    for (const QList<bool> &operands : std::as_const(m_tabs)) {
        m_firstPart.append(first);
        first += operands.count(false);
    }
}

void Recordset::appendJoinedRow(const QStringList &parts, const std::vector<bool> &allNull)
{
    Q_ASSERT(!m_tabs.isEmpty() && allNull.size() == size_t(m_tabs.size()));
    m_allNull.insert(m_allNull.end(), allNull.begin(), allNull.end());
    m_packed.append(PackedTexts::pack(parts));
}

} // namespace lumora::engine
