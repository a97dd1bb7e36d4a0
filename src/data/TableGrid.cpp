#include "data/TableGrid.h"

#include "data/RosterCursor.h"
#include "data/RosterModel.h"

#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QProxyStyle>

namespace {

// The roster with the grid's colours: the fixed cells' and every second row's.
class GridLook : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QColor fixed{231, 235, 247};
    QColor alternate{239, 243, 255};

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::BackgroundRole)
            return index.isValid() && index.row() % 2 ? QVariant(alternate) : QVariant();
        return QIdentityProxyModel::data(index, role);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role == Qt::BackgroundRole)
            return fixed;
        return QIdentityProxyModel::headerData(section, orientation, role);
    }
};

} // namespace

namespace {
// The grid's lines in the roster's grey, in whatever style the rest is
// drawn. (A style sheet would do the same at the cost of style sheet
// styling for the whole view and its children: milliseconds of every start.)
class GridLineStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returned) const override
    {
        if (hint == SH_Table_GridLineColor)
            return int(qRgb(192, 192, 192));
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};
} // namespace

TableGrid::TableGrid(QWidget *parent)
    : QTableView(parent)
    , m_look(new GridLook(this))
{
    setModel(m_look);
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
    auto *lines = new GridLineStyle;
    lines->setParent(this);
    setStyle(lines);

    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (current.isValid() && !signalsBlocked())
                    emit rowChanged(current.row() + 1);
            });
    connect(this, &QAbstractItemView::clicked, this, [this] { emit cellClicked(); });
    // Connected after the view's own reset handling, so the widths win.
    connect(m_look, &QAbstractItemModel::modelReset, this, &TableGrid::applyColumnWidths);
    // The row numbers need more room as the rows grow.
    connect(m_look, &QAbstractItemModel::modelReset, this, &TableGrid::fitRowHeader);
    connect(m_look, &QAbstractItemModel::rowsInserted, this, &TableGrid::fitRowHeader);
    connect(m_look, &QAbstractItemModel::rowsRemoved, this, &TableGrid::fitRowHeader);
    connect(m_look, &QAbstractItemModel::headerDataChanged, this, &TableGrid::fitRowHeader);
}

void TableGrid::showRoster(RosterModel *model, RosterCursor *cursor)
{
    disconnect(m_follow);
    disconnect(m_width);
    m_roster = model;
    m_cursor = cursor;
    m_look->setSourceModel(model);
    if (cursor)
        m_follow = connect(cursor, &RosterCursor::moveRequested, this, &TableGrid::setActiveCell);
    if (model)
        m_width = connect(model, &RosterModel::columnWidthAsked, this,
                          [this](int column, int width) { setColumnWidth(column - 1, width); });
    applyColumnWidths();
    fitRowHeader();
}

int TableGrid::lastRow() const
{
    return m_roster ? m_roster->rows() - 1 : 0;
}

int TableGrid::lastColumn() const
{
    return m_roster ? m_roster->cols() - 1 : 0;
}

void TableGrid::fitRowHeader()
{
    const QString widest = m_roster ? m_roster->widestRowHeader() : QStringLiteral("0");
    const int needed = verticalHeader()->fontMetrics().horizontalAdvance(widest) + kRowHeaderPadding;
    const int width = qMax(m_rowHeaderMinimum, needed);
    if (verticalHeader()->width() != width)
        verticalHeader()->setFixedWidth(width);
}

void TableGrid::setActiveCell(int row, int column)
{
    if (lastRow() < 1 || lastColumn() < 1)
        return;
    row = qBound(1, row, lastRow());
    column = qBound(1, column, lastColumn());
    const QModelIndex target = m_look->index(row - 1, column - 1);
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
    if (m_roster)
        m_roster->askColumnWidth(column, width);
}

int TableGrid::gridColumnWidth(int column) const
{
    if (column == 0)
        return verticalHeader()->width();
    if (m_roster && m_roster->inBulk()) {
        const int asked = m_roster->askedColumnWidth(column);
        return asked > 0 ? asked : horizontalHeader()->defaultSectionSize();
    }
    return columnWidth(column - 1);
}

void TableGrid::applyColumnWidths()
{
    if (!m_roster)
        return;
    const QHash<int, int> &widths = m_roster->askedColumnWidths();
    for (auto it = widths.cbegin(); it != widths.cend(); ++it)
        if (it.key() <= lastColumn())
            setColumnWidth(it.key() - 1, it.value());
}

void TableGrid::selectRange(int row1, int column1, int row2, int column2)
{
    if (lastRow() < 1 || lastColumn() < 1)
        return;
    const QModelIndex a = m_look->index(qBound(1, row1, lastRow()) - 1, qBound(1, column1, lastColumn()) - 1);
    const QModelIndex b = m_look->index(qBound(1, row2, lastRow()) - 1, qBound(1, column2, lastColumn()) - 1);
    selectionModel()->select(QItemSelection(a, b), QItemSelectionModel::ClearAndSelect);
}

void TableGrid::setGridColors(const QColor &fixed, const QColor &alternate)
{
    auto *look = static_cast<GridLook *>(m_look);
    look->fixed = fixed;
    look->alternate = alternate;
    setAlternatingRowColors(false);
    viewport()->update();
}
