#include "data/engine/xls/XlsBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsTable.h"

#include <QFileInfo>
#include <QSet>

namespace lumora::engine {

namespace {

// One table of a workbook: a worksheet or a defined name, by the name it
// is listed under.
struct Listed
{
    QString name;
    int sheet = -1;   // index into sheets(), for a worksheet
    int defined = -1; // index into names(), for a defined name
};

// Every table in listing order: the worksheets ("Sheet1$"), then the
// defined names in the order the workbook keeps them. A name of the whole
// workbook is listed as it is spelled ("PaidDump"); a name a sheet has of
// its own is listed after its sheet, as the old engine listed it
// ("Sheet1$PaidDump"), so that a sheet's name and the workbook's of the
// same spelling are two tables. A spelling met again (a workbook that
// defines one name twice for one sheet) is left out: the first counts.
QList<Listed> listTables(const XlsWorkbook &wb)
{
    QList<Listed> tables;
    QSet<QString> seen;
    const auto add = [&](Listed t) {
        if (!seen.contains(t.name)) {
            seen.insert(t.name);
            tables.append(std::move(t));
        }
    };
    for (int i = 0; i < wb.sheets().size(); ++i)
        if (wb.sheets()[i].type == 0)
            add({wb.sheets()[i].name + QLatin1Char('$'), i, -1});
    for (int i = 0; i < wb.names().size(); ++i) {
        const XlsDefinedName &n = wb.names()[i];
        add({n.scope < 0 ? n.name : wb.sheets()[n.scope].name + QLatin1Char('$') + n.name, -1, i});
    }
    return tables;
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
        for (const Listed &t : listTables(m_book->workbook()))
            names.append(t.name);
        return names;
    }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        const XlsWorkbook &wb = m_book->workbook();
        QList<Listed> exact, folded;
        for (const Listed &t : listTables(wb)) {
            if (t.name == name)
                exact.append(t);
            else if (t.name.compare(name, Qt::CaseInsensitive) == 0)
                folded.append(t);
        }
        const auto &matches = exact.isEmpty() ? folded : exact;
        if (matches.isEmpty())
            throw EngineError::format(u"There is no table %1 in %2", u"文件 %2 中没有数据表 %1", name,
                                      m_book->what());
        if (matches.size() > 1)
            throw EngineError::format(
                u"The table name %1 is ambiguous in %2: it could be %3; name one exactly",
                u"文件 %2 中的数据表名 %1 不明确：可能是 %3，请写出确切的名称", name, m_book->what(),
                QStringList{matches[0].name, matches[1].name}.join(QStringLiteral(" / ")));
        const Listed &t = matches.first();
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
