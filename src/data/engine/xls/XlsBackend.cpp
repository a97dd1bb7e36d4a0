#include "data/engine/xls/XlsBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsTable.h"

#include <QFileInfo>

namespace lumora::engine {

namespace {

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
        const XlsWorkbook &wb = m_book->workbook();
        for (const XlsSheetEntry &s : wb.sheets())
            if (s.type == 0)
                names.append(s.name + QLatin1Char('$'));
        for (const XlsDefinedName &n : wb.names())
            names.append(n.name);
        return names;
    }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        const XlsWorkbook &wb = m_book->workbook();
        QList<std::pair<QString, XlsTable::Area>> exact, folded;
        const auto consider = [&](const QString &table, const XlsTable::Area &area) {
            if (table == name)
                exact.append({table, area});
            else if (table.compare(name, Qt::CaseInsensitive) == 0)
                folded.append({table, area});
        };
        for (int i = 0; i < wb.sheets().size(); ++i) {
            const XlsSheetEntry &s = wb.sheets()[i];
            if (s.type == 0 && (s.name + QLatin1Char('$')).compare(name, Qt::CaseInsensitive) == 0)
                consider(s.name + QLatin1Char('$'), XlsTable::usedArea(wb, i));
        }
        for (const XlsDefinedName &n : wb.names()) {
            if (n.name.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            // A name's rectangle, down to its last row that holds a value.
            XlsTable::Area area{n.sheet, n.firstRow, n.firstRow, n.firstCol, n.lastCol, false};
            for (const XlsCell &cell : wb.sheet(n.sheet).cells)
                if (cell.kind != XlsCell::Kind::Blank && cell.row >= n.firstRow && cell.row <= n.lastRow &&
                    cell.col >= n.firstCol && cell.col <= n.lastCol)
                    area.lastRow = std::max(area.lastRow, cell.row);
            consider(n.name, area);
        }
        const auto &matches = exact.isEmpty() ? folded : exact;
        if (matches.isEmpty())
            throw EngineError::format(u"There is no table %1 in %2", u"文件 %2 中没有数据表 %1", name,
                                      m_book->what());
        if (matches.size() > 1)
            throw EngineError::format(
                u"The table name %1 is ambiguous in %2: a sheet and a defined name, or two "
                u"defined names, go by it",
                u"文件 %2 中的数据表名 %1 不明确：有工作表和定义的名称（或两个名称）同名", name,
                m_book->what());
        return std::make_unique<XlsTable>(m_book, matches.first().first, matches.first().second);
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
