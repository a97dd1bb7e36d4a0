#include "data/engine/xlsx/XlsxBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTables.h"
#include "data/engine/xlsx/XlsxTable.h"

#include <QFileInfo>

namespace lumora::engine {

namespace {

SheetListing listingOf(const XlsxWorkbook &wb)
{
    SheetListing listing;
    for (const XlsxSheetEntry &sheet : wb.sheets())
        listing.sheets.append({sheet.name, sheet.worksheet});
    for (const XlsxDefinedName &n : wb.names())
        listing.names.append({n.name, n.scope});
    return listing;
}

class XlsxWorkbookBackend : public Backend
{
public:
    explicit XlsxWorkbookBackend(std::shared_ptr<XlsxBook> book)
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
        const XlsxWorkbook &wb = m_book->workbook();
        const SheetTableEntry t = findSheetTable(listingOf(wb), name, m_book->what());
        const XlsxTable::Area area =
            t.sheet >= 0 ? XlsxTable::usedArea(wb, t.sheet) : XlsxTable::nameArea(wb, wb.names()[t.defined]);
        return std::make_unique<XlsxTable>(m_book, t.name, area);
    }

private:
    std::shared_ptr<XlsxBook> m_book;
};

} // namespace

std::unique_ptr<Backend> openXlsxWorkbook(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw EngineError::format(u"The workbook %1 does not exist", u"工作簿 %1 不存在", path);
    return std::make_unique<XlsxWorkbookBackend>(std::make_shared<XlsxBook>(path));
}

std::unique_ptr<Backend> openXlsxBytes(const QByteArray &file, const QString &what)
{
    return std::make_unique<XlsxWorkbookBackend>(std::make_shared<XlsxBook>(file, what));
}

} // namespace lumora::engine
