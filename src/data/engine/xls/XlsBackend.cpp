#include "data/engine/xls/XlsBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTables.h"
#include "data/engine/sheet/SheetWorkbookBackend.h"
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

using WorkbookBackend = SheetWorkbookBackend<XlsBook, XlsTable>;

} // namespace

std::unique_ptr<Backend> openXlsWorkbook(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw EngineError::format(u"The workbook %1 does not exist", u"工作簿 %1 不存在", path);
    return std::make_unique<WorkbookBackend>(std::make_shared<XlsBook>(path), listingOf);
}

std::unique_ptr<Backend> openXlsBytes(const QByteArray &file, const QString &what)
{
    return std::make_unique<WorkbookBackend>(std::make_shared<XlsBook>(file, what), listingOf);
}

} // namespace lumora::engine
