#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/sheet/SheetTables.h"

#include <memory>
#include <type_traits>
#include <utility>

namespace lumora::engine {

// A workbook of either format as a backend: its worksheets and defined
// names are its tables, named and found as listSheetTables says. Book
// gives workbook() and what(); Table is made from the book, the table's
// name and its area (Table::usedArea for a sheet, Table::nameArea for a
// defined name); listingOf tells the workbook's sheets and names.
template <typename Book, typename Table> class SheetWorkbookBackend : public Backend
{
public:
    using Workbook = std::remove_cvref_t<decltype(std::declval<const Book &>().workbook())>;
    using ListingOf = SheetListing (*)(const Workbook &);

    SheetWorkbookBackend(std::shared_ptr<Book> book, ListingOf listingOf)
        : m_book(std::move(book))
        , m_listingOf(listingOf)
    {
    }

    QStringList tableNames() const override
    {
        QStringList names;
        for (const SheetTableEntry &t : listSheetTables(m_listingOf(m_book->workbook())))
            names.append(t.name);
        return names;
    }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        const Workbook &wb = m_book->workbook();
        const SheetTableEntry t = findSheetTable(m_listingOf(wb), name, m_book->what());
        const typename Table::Area area =
            t.sheet >= 0 ? Table::usedArea(wb, t.sheet) : Table::nameArea(wb, wb.names()[t.defined]);
        return std::make_unique<Table>(m_book, t.name, area);
    }

private:
    std::shared_ptr<Book> m_book;
    ListingOf m_listingOf;
};

} // namespace lumora::engine
