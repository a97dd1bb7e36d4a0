#include "data/engine/sheet/SheetTables.h"

#include "data/engine/EngineError.h"

#include <QSet>
#include <QStringList>

namespace lumora::engine {

QList<SheetTableEntry> listSheetTables(const SheetListing &listing)
{
    QList<SheetTableEntry> tables;
    QSet<QString> seen;
    const auto add = [&](SheetTableEntry t) {
        if (!seen.contains(t.name)) {
            seen.insert(t.name);
            tables.append(std::move(t));
        }
    };
    for (int i = 0; i < listing.sheets.size(); ++i)
        if (listing.sheets[i].worksheet)
            add({listing.sheets[i].name + QLatin1Char('$'), i, -1});
    for (int i = 0; i < listing.names.size(); ++i) {
        const SheetListing::Name &n = listing.names[i];
        add({n.scope < 0 ? n.name : listing.sheets[n.scope].name + QLatin1Char('$') + n.name, -1, i});
    }
    return tables;
}

SheetTableEntry findSheetTable(const SheetListing &listing, const QString &name, const QString &what)
{
    QList<SheetTableEntry> exact, folded;
    for (const SheetTableEntry &t : listSheetTables(listing)) {
        if (t.name == name)
            exact.append(t);
        else if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            folded.append(t);
    }
    const auto &matches = exact.isEmpty() ? folded : exact;
    if (matches.isEmpty())
        throw EngineError::format(u"There is no table %1 in %2", u"文件 %2 中没有数据表 %1", name, what);
    if (matches.size() > 1)
        throw EngineError::format(u"The table name %1 is ambiguous in %2: it could be %3; name one exactly",
                                  u"文件 %2 中的数据表名 %1 不明确：可能是 %3，请写出确切的名称", name, what,
                                  QStringList{matches[0].name, matches[1].name}.join(QStringLiteral(" / ")));
    return matches.first();
}

} // namespace lumora::engine
