#include "data/TableGrid.h"

#include "data/engine/PackedTexts.h"

#include <QHeaderView>
#include <QItemSelectionModel>

using lumora::engine::PackedTexts;

void TableGridModel::setGridRows(int rows)
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

void TableGridModel::setGridColumns(int columns)
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

QString TableGridModel::cell(int row, int column) const
{
    if (row < 0 || column < 0 || row >= gridRows() || column >= gridColumns())
        return {};
    if (row == 0)
        return column == 0 ? m_corner : m_header.value(column - 1);
    const Row &r = m_rows.at(row - 1);
    return column == 0 ? r.rowHeader : PackedTexts::at(r.cells, column - 1).toString();
}

void TableGridModel::setCell(int row, int column, const QString &text)
{
    if (row < 0 || column < 0 || row >= gridRows() || column >= gridColumns())
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

void TableGridModel::removeGridRow(int row)
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

void TableGridModel::markRowHeaders(const QBitArray &marked, const QString &mark)
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

int TableGridModel::keepGridRows(const QBitArray &keep)
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

void TableGridModel::appendRow(const QStringList &parts, bool notify)
{
    appendGridRow(PackedTexts::pack(parts, m_columns), notify);
}

void TableGridModel::appendPackedRow(QString packed, bool notify)
{
    if (PackedTexts::count(packed) > m_columns)
        packed = PackedTexts::pack(PackedTexts::list(packed), m_columns);
    appendGridRow(std::move(packed), notify);
}

void TableGridModel::appendGridRow(QString cells, bool notify)
{
    Row row;
    row.cells = std::move(cells);
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

void TableGridModel::beginBulk()
{
    if (m_bulk)
        return;
    beginResetModel();
    m_bulk = true;
}

void TableGridModel::endBulk()
{
    if (!m_bulk)
        return;
    m_bulk = false;
    endResetModel();
}

void TableGridModel::setRowHeaderAttribute(int row, QChar attribute)
{
    if (row >= 1 && row < gridRows())
        m_rows[row - 1].attribute = attribute;
}

QChar TableGridModel::rowHeaderAttribute(int row) const
{
    return row >= 1 && row < gridRows() ? m_rows.at(row - 1).attribute : QChar();
}

int TableGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TableGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant TableGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return cell(index.row() + 1, index.column() + 1);
    case Qt::TextAlignmentRole:
        if (m_codes.value(index.column() + 1) == 5)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole: return index.row() % 2 ? QVariant(m_alternate) : QVariant();
    default: return {};
    }
}

QVariant TableGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::BackgroundRole)
        return m_fixed;
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return cell(0, section + 1);
    // The grid row's number, as the roster check counts rows, and its mark;
    // the empty row after the last person is nobody and has no number.
    const QString mark = cell(section + 1, 0);
    if (section == m_rows.size() - 1 && mark.isEmpty()) {
        const QString &cells = m_rows.at(section).cells;
        // Packed: a count, two length characters per text, then the texts.
        if (cells.size() <= 1 + 2 * PackedTexts::count(cells))
            return QString();
    }
    return mark.isEmpty() ? QString::number(section + 1)
                          : QString::number(section + 1) + QLatin1Char(' ') + mark;
}

QString TableGridModel::widestRowHeader() const
{
    const QString number = QString::number(m_rows.size());
    return m_markShown.isEmpty() ? number : number + QLatin1Char(' ') + m_markShown;
}

TableGrid::TableGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new TableGridModel(this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    // Fixed row heights keep tens of thousands of rows quick to show.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(30);
    horizontalHeader()->setDefaultSectionSize(50);
    horizontalHeader()->setHighlightSections(false);
    setGridColors(QColor(231, 235, 247), QColor(239, 243, 255));
    setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(192, 192, 192); }"));

    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (current.isValid() && !signalsBlocked())
                    emit rowChanged(current.row() + 1);
            });
    connect(this, &QAbstractItemView::clicked, this, [this] { emit cellClicked(); });
    // Connected after the view's own reset handling, so the widths win.
    connect(m_model, &QAbstractItemModel::modelReset, this, &TableGrid::applyColumnWidths);
    // The row numbers need more room as the rows grow.
    connect(m_model, &QAbstractItemModel::modelReset, this, &TableGrid::fitRowHeader);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TableGrid::fitRowHeader);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TableGrid::fitRowHeader);
    connect(m_model, &QAbstractItemModel::headerDataChanged, this, &TableGrid::fitRowHeader);
}

void TableGrid::fitRowHeader()
{
    const int needed =
        verticalHeader()->fontMetrics().horizontalAdvance(m_model->widestRowHeader()) + kRowHeaderPadding;
    const int width = qMax(m_rowHeaderMinimum, needed);
    if (verticalHeader()->width() != width)
        verticalHeader()->setFixedWidth(width);
}

void TableGrid::setActiveCell(int row, int column)
{
    const int lastRow = rows() - 1;
    const int lastColumn = cols() - 1;
    if (lastRow < 1 || lastColumn < 1)
        return;
    row = qBound(1, row, lastRow);
    column = qBound(1, column, lastColumn);
    const QModelIndex target = m_model->index(row - 1, column - 1);
    if (selectionModel()->currentIndex().row() == target.row()) {
        // Same row: the view raises nothing, the window still expects it.
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
        emit rowChanged(row);
    } else {
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
    }
    scrollTo(target);
}

int TableGrid::activeRow() const
{
    const QModelIndex i = selectionModel()->currentIndex();
    return i.isValid() ? i.row() + 1 : 0;
}

int TableGrid::activeColumn() const
{
    const QModelIndex i = selectionModel()->currentIndex();
    return i.isValid() ? i.column() + 1 : 0;
}

void TableGrid::setGridColumnWidth(int column, int width)
{
    if (column == 0) {
        m_rowHeaderMinimum = width;
        verticalHeader()->setFixedWidth(width);
        fitRowHeader();
        return;
    }
    if (column < 0 || column >= cols())
        return;
    m_widths.insert(column, width);
    if (!m_model->inBulk())
        setColumnWidth(column - 1, width);
}

int TableGrid::gridColumnWidth(int column) const
{
    if (column == 0)
        return verticalHeader()->width();
    if (m_model->inBulk())
        return m_widths.value(column, horizontalHeader()->defaultSectionSize());
    return columnWidth(column - 1);
}

void TableGrid::applyColumnWidths()
{
    for (auto it = m_widths.cbegin(); it != m_widths.cend(); ++it)
        if (it.key() < cols())
            setColumnWidth(it.key() - 1, it.value());
}

void TableGrid::selectRange(int row1, int column1, int row2, int column2)
{
    const int lastRow = rows() - 1;
    const int lastColumn = cols() - 1;
    if (lastRow < 1 || lastColumn < 1)
        return;
    const QModelIndex a = m_model->index(qBound(1, row1, lastRow) - 1, qBound(1, column1, lastColumn) - 1);
    const QModelIndex b = m_model->index(qBound(1, row2, lastRow) - 1, qBound(1, column2, lastColumn) - 1);
    selectionModel()->select(QItemSelection(a, b), QItemSelectionModel::ClearAndSelect);
}

void TableGrid::setRedraw(bool on)
{
    if (on) {
        m_model->endBulk();
        setUpdatesEnabled(true);
    } else {
        setUpdatesEnabled(false);
        m_model->beginBulk();
    }
}

void TableGrid::setGridColors(const QColor &fixed, const QColor &alternate)
{
    m_model->setColors(fixed, alternate);
    setAlternatingRowColors(false);
    viewport()->update();
}
