#include "data/engine/xls/XlsBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTables.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsTable.h"

#include <QFileInfo>

namespace lumora::engine {

namespace {

SheetListing listingOf(const XlsWorkbook &wb)
{
    SheetListing listing;
    for (const XlsSheetEntry &sheet : wb.sheets())
        listing.sheets.append({sheet.name, sheet.type == 0});
    for (const XlsDefinedName &n : wb.names())
        listing.names.append({n.name, n.scope});
    return listing;
}

class XlsWorkbookBackend : public Backend
{
public:
    explicit XlsWorkbookBackend(std::shared_ptr<XlsBook> book)
        : m_book(std::move(book))
    {
    }

    QStringList tableNames() const override
    {
        QStringList names;
        for (const SheetTableEntry &t : listSheetTables(listingOf(m_book->workbook())))
            names.append(t.name);
        return names;
    }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        const XlsWorkbook &wb = m_book->workbook();
        const SheetTableEntry t = findSheetTable(listingOf(wb), name, m_book->what());
        const XlsTable::Area area =
            t.sheet >= 0 ? XlsTable::usedArea(wb, t.sheet) : XlsTable::nameArea(wb, wb.names()[t.defined]);
        return std::make_unique<XlsTable>(m_book, t.name, area);
    }

private:
    std::shared_ptr<XlsBook> m_book;
};

} // namespace

std::unique_ptr<Backend> openXlsWorkbook(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw EngineError::format(u"The workbook %1 does not exist", u"工作簿 %1 不存在", path);
    return std::make_unique<XlsWorkbookBackend>(std::make_shared<XlsBook>(path));
}

std::unique_ptr<Backend> openXlsBytes(const QByteArray &file, const QString &what)
{
    return std::make_unique<XlsWorkbookBackend>(std::make_shared<XlsBook>(file, what));
}

} // namespace lumora::engine
