#include "data/engine/xlsx/XlsxBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTables.h"
#include "data/engine/sheet/SheetWorkbookBackend.h"
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

using WorkbookBackend = SheetWorkbookBackend<XlsxBook, XlsxTable>;

} // namespace

std::unique_ptr<Backend> openXlsxWorkbook(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw EngineError::format(u"The workbook %1 does not exist", u"工作簿 %1 不存在", path);
    return std::make_unique<WorkbookBackend>(std::make_shared<XlsxBook>(path), listingOf);
}

std::unique_ptr<Backend> openXlsxBytes(const QByteArray &file, const QString &what)
{
    return std::make_unique<WorkbookBackend>(std::make_shared<XlsxBook>(file, what), listingOf);
}

} // namespace lumora::engine
