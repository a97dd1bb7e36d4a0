#include "data/RosterModel.h"

#include "data/engine/PackedTexts.h"

using lumora::engine::PackedTexts;

void RosterModel::setRows(int rows)
{
    const int wanted = qMax(0, rows - 1);
    const int have = int(m_rows.size());
    if (wanted == have)
        return;
    if (m_bulk) {
        m_rows.resize(wanted);
        return;
    }
    if (wanted < have) {
        beginRemoveRows({}, wanted, have - 1);
        m_rows.resize(wanted);
        endRemoveRows();
    } else {
        beginInsertRows({}, have, wanted - 1);
        m_rows.resize(wanted);
        endInsertRows();
    }
}

void RosterModel::setCols(int columns)
{
    const int wanted = qMax(0, columns - 1);
    if (wanted == m_columns)
        return;
    if (!m_bulk)
        beginResetModel();
    m_columns = wanted;
    if (m_header.size() > wanted)
        m_header.resize(wanted);
    for (Row &row : m_rows)
        if (PackedTexts::count(row.cells) > wanted)
            row.cells = PackedTexts::pack(PackedTexts::list(row.cells), wanted);
    if (!m_bulk)
        endResetModel();
}

QString RosterModel::cellText(int row, int column) const
{
    if (row < 0 || column < 0 || row >= rows() || column >= cols())
        return {};
    if (row == 0)
        return column == 0 ? m_corner : m_header.value(column - 1);
    const Row &r = m_rows.at(row - 1);
    return column == 0 ? r.rowHeader : PackedTexts::at(r.cells, column - 1).toString();
}

QStringView RosterModel::cellView(int row, int column) const
{
    if (row < 0 || column < 0 || row >= rows() || column >= cols())
        return {};
    if (row == 0) {
        if (column == 0)
            return m_corner;
        return column - 1 < m_header.size() ? QStringView(m_header.at(column - 1)) : QStringView();
    }
    const Row &r = m_rows.at(row - 1);
    return column == 0 ? QStringView(r.rowHeader) : PackedTexts::at(r.cells, column - 1);
}

void RosterModel::setCellText(int row, int column, const QString &text)
{
    if (row < 0 || column < 0 || row >= rows() || column >= cols())
        return;
    if (row == 0) {
        if (column == 0) {
            m_corner = text;
            return;
        }
        if (m_header.size() < column)
            m_header.resize(column);
        m_header[column - 1] = text;
        if (!m_bulk)
            emit headerDataChanged(Qt::Horizontal, column - 1, column - 1);
        return;
    }
    Row &r = m_rows[row - 1];
    if (column == 0) {
        r.rowHeader = text;
        if (!m_bulk)
            emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
        return;
    }
    r.cells = PackedTexts::replaced(r.cells, column - 1, text);
    if (!m_bulk) {
        const QModelIndex i = index(row - 1, column - 1);
        emit dataChanged(i, i, {Qt::DisplayRole});
    }
}

void RosterModel::removeRow(int row)
{
    const int index = row - 1;
    if (index < 0 || index >= m_rows.size())
        return;
    if (m_bulk) {
        m_rows.removeAt(index);
        return;
    }
    beginRemoveRows({}, index, index);
    m_rows.removeAt(index);
    endRemoveRows();
}

void RosterModel::markRowHeaders(const QBitArray &marked, const QString &mark)
{
    m_markShown.clear();
    for (qsizetype row = 1; row < marked.size() && row <= m_rows.size() && m_markShown.isEmpty(); ++row)
        if (marked.testBit(row))
            m_markShown = mark;
    bool changed = false;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const qsizetype row = i + 1;
        const QString &wanted = row < marked.size() && marked.testBit(row) ? mark : QString();
        if (m_rows.at(i).rowHeader != wanted) {
            m_rows[i].rowHeader = wanted;
            changed = true;
        }
    }
    if (changed && !m_bulk && !m_rows.isEmpty())
        emit headerDataChanged(Qt::Vertical, 0, int(m_rows.size()) - 1);
}

void RosterModel::markRowHeader(int row, const QString &mark)
{
    if (row < 1 || row > m_rows.size() || m_rows.at(row - 1).rowHeader == mark)
        return;
    m_rows[row - 1].rowHeader = mark;
    if (!mark.isEmpty())
        m_markShown = mark;
    if (!m_bulk)
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
}

int RosterModel::keepRows(const QBitArray &keep)
{
    QList<Row> kept;
    kept.reserve(m_rows.size());
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const qsizetype row = i + 1;
        if (row >= keep.size() || keep.testBit(row))
            kept.append(m_rows.at(i));
    }
    const int dropped = int(m_rows.size() - kept.size());
    if (dropped == 0)
        return 0;
    if (!m_bulk)
        beginResetModel();
    m_rows = std::move(kept);
    if (!m_bulk)
        endResetModel();
    return dropped;
}

void RosterModel::appendRow(const QStringList &parts, bool notify)
{
    appendGridRow(PackedTexts::pack(parts, m_columns), notify);
}

void RosterModel::appendPackedRow(QString packed, bool notify, qsizetype record)
{
    if (PackedTexts::count(packed) > m_columns)
        packed = PackedTexts::pack(PackedTexts::list(packed), m_columns);
    appendGridRow(std::move(packed), notify, record);
}

qsizetype RosterModel::recordOf(int row) const
{
    return row >= 1 && row < rows() ? m_rows.at(row - 1).record : -1;
}

void RosterModel::appendGridRow(QString cells, bool notify, qsizetype record)
{
    Row row;
    row.cells = std::move(cells);
    row.record = record;
    if (notify && !m_bulk) {
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
        m_rows.append(std::move(row));
        endInsertRows();
    } else {
        if (!m_bulk) {
            // A quiet append outside a bulk load still has to reach the view.
            beginResetModel();
            m_rows.append(std::move(row));
            endResetModel();
            return;
        }
        m_rows.append(std::move(row));
    }
}

void RosterModel::beginBulk()
{
    if (m_bulk)
        return;
    beginResetModel();
    m_bulk = true;
}

void RosterModel::endBulk()
{
    if (!m_bulk)
        return;
    m_bulk = false;
    endResetModel();
}

void RosterModel::setRowHeaderAttribute(int row, QChar attribute)
{
    if (row >= 1 && row < rows())
        m_rows[row - 1].attribute = attribute;
}

QChar RosterModel::rowHeaderAttribute(int row) const
{
    return row >= 1 && row < rows() ? m_rows.at(row - 1).attribute : QChar();
}

int RosterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RosterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant RosterModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return cellText(index.row() + 1, index.column() + 1);
    case Qt::TextAlignmentRole:
        if (m_codes.value(index.column() + 1) == 5)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default: return {};
    }
}

QVariant RosterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return cellText(0, section + 1);
    // The grid row's number, as the roster check counts rows, and its mark;
    // the empty row after the last person is nobody and has no number.
    const QString mark = cellText(section + 1, 0);
    if (section == m_rows.size() - 1 && mark.isEmpty()) {
        const QString &cells = m_rows.at(section).cells;
        // Packed: a count, two length characters per text, then the texts.
        if (cells.size() <= 1 + 2 * PackedTexts::count(cells))
            return QString();
    }
    return mark.isEmpty() ? QString::number(section + 1)
                          : QString::number(section + 1) + QLatin1Char(' ') + mark;
}

QString RosterModel::widestRowHeader() const
{
    const QString number = QString::number(m_rows.size());
    return m_markShown.isEmpty() ? number : number + QLatin1Char(' ') + m_markShown;
}

void RosterModel::askColumnWidth(int column, int width)
{
    if (column < 1 || column >= cols())
        return;
    m_widths.insert(column, width);
    if (!m_bulk)
        emit columnWidthAsked(column, width);
}
