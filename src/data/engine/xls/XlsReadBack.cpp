#include "data/engine/xls/XlsReadBack.h"

#include "data/engine/EngineError.h"

#include <cstring>
#include <map>

namespace lumora::engine {

namespace {

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameCell(const XlsWorkbook &a, const XlsCell &x, const XlsWorkbook &b, const XlsCell &y)
{
    if (x.row != y.row || x.col != y.col || x.kind != y.kind || x.xf != y.xf)
        return false;
    if (x.kind == XlsCell::Kind::Text)
        return a.strings().value(x.text) == b.strings().value(y.text);
    return sameBits(x.number, y.number);
}

bool holds(const XlsWorkbook &wb, const XlsCell *cell, const XlsCellValue &v)
{
    if (v.kind == XlsCell::Kind::Blank)
        return !cell || cell->kind == XlsCell::Kind::Blank;
    if (!cell || cell->kind != v.kind)
        return false;
    switch (v.kind) {
    case XlsCell::Kind::Text:
        // A shared string with formatting runs would show the new text formatted.
        return wb.strings().value(cell->text) == v.text &&
               (cell->text >= wb.sstCount() || wb.sst().plain.at(size_t(cell->text)));
    case XlsCell::Kind::Boolean: return (cell->number != 0) == (v.number != 0);
    default: return sameBits(cell->number, v.number);
    }
}

QString cellName(quint32 row, quint16 col)
{
    return QStringLiteral("R%1C%2").arg(row + 1).arg(col + 1);
}

} // namespace

void checkReadsBack(const XlsWorkbook &before, const XlsWorkbook &after,
                    const std::vector<XlsWrittenCell> &changes)
{
    const QString &what = after.what();
    bool sameSheets = before.sheets().size() == after.sheets().size();
    for (qsizetype i = 0; sameSheets && i < before.sheets().size(); ++i) {
        const XlsSheetEntry &a = before.sheets()[i], &b = after.sheets()[i];
        sameSheets = a.name == b.name && a.type == b.type && a.state == b.state;
    }
    if (!sameSheets)
        throw EngineError::format(u"%1 does not list the sheets the workbook had",
                                  u"%1 的工作表与原工作簿的不同", what);

    for (int i = 0; i < before.sheets().size(); ++i) {
        if (before.sheets()[i].type != 0)
            continue;
        const XlsSheet *old = nullptr;
        try {
            old = &before.sheet(i);
        } catch (const EngineError &) {
            continue; // nothing read before to compare with
        }
        const XlsSheet &now = after.sheet(i);
        const QString &name = before.sheets()[i].name;
        std::map<std::pair<quint32, quint16>, const XlsCellValue *> targets;
        for (const XlsWrittenCell &c : changes)
            if (c.sheet == i)
                targets[{c.row, c.col}] = &c.value;
        for (const auto &[at, value] : targets)
            if (!holds(after, now.cell(at.first, at.second), *value))
                throw EngineError::format(u"%1 would not hold the value written in cell %2 of sheet %3",
                                          u"%1 中工作表 %3 的单元格 %2 里不会是写入的值", what,
                                          cellName(at.first, at.second), name);
        // Every other cell, in order, as it was.
        const auto untouched = [&](const XlsCell &c) { return !targets.count({c.row, c.col}); };
        auto a = old->cells.begin(), b = now.cells.begin();
        for (;;) {
            while (a != old->cells.end() && !untouched(*a))
                ++a;
            while (b != now.cells.end() && !untouched(*b))
                ++b;
            if (a == old->cells.end() && b == now.cells.end())
                break;
            if (a == old->cells.end() || b == now.cells.end() || !sameCell(before, *a, after, *b)) {
                const XlsCell &at = a == old->cells.end() ? *b : *a;
                throw EngineError::format(u"%1 would change cell %2 of sheet %3, which is not being written",
                                          u"%1 会改动工作表 %3 中不该改动的单元格 %2", what,
                                          cellName(at.row, at.col), name);
            }
            ++a;
            ++b;
        }
    }
}

} // namespace lumora::engine
