#include "data/engine/xlsx/XlsxPatcher.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/RewrittenCopy.h"

#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <algorithm>
#include <map>

namespace lumora::engine {

namespace {

// One stretch of a part's text to put `text` in place of.
struct Edit
{
    qsizetype start = 0, end = 0;
    QString text;
};

QString applyEdits(QString s, std::vector<Edit> edits)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        s.replace(it->start, it->end - it->start, it->text);
    return s;
}

QString escapeAttribute(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return out;
}

// Where the elements of a part lie, in characters of its text.
struct Span
{
    qsizetype start = -1;   // at "<"
    qsizetype tagEnd = -1;  // just past the start tag's ">"
    qsizetype end = -1;     // just past the element's end
    qsizetype closeAt = -1; // at its end tag "</", or tagEnd when it closes itself
    bool selfClosing = false;
};

struct CellSpan
{
    Span span;
    quint16 col = 0;
    bool addressed = true;
};

struct RowSpan
{
    Span span;
    quint32 row = 0;
    bool addressed = true;
    std::vector<CellSpan> cells; // only of rows written to
};

// The text of a part as QXmlStreamReader reads it, with where each start
// and end tag lies. The reader may have looked one character past a text
// before a tag, so a tag is found back from its ">": no "<" stands inside
// a tag.
class Scanner
{
public:
    Scanner(const QString &text, const QString &what, const QString &part)
        : m_text(text)
        , m_x(text)
        , m_what(what)
        , m_part(part)
    {
    }
    bool atEnd() const { return m_x.atEnd(); }
    int next()
    {
        const qsizetype before = m_x.characterOffset();
        const int t = XlsxWorkbook::next(m_x, m_what, m_part);
        m_offset = m_x.characterOffset();
        m_start = before;
        if ((t == QXmlStreamReader::StartElement || t == QXmlStreamReader::EndElement) &&
            m_offset != before) {
            if (m_offset <= 0 || m_offset > m_text.size() || m_text[m_offset - 1] != QLatin1Char('>'))
                throw EngineError(
                    QStringLiteral("%1 is not written: the tags of its part %2 cannot be told apart")
                        .arg(m_what, m_part),
                    QStringLiteral("没有写入 %1：无法定位其组成部分 %2 中的标记").arg(m_what, m_part));
            m_start = m_text.lastIndexOf(QLatin1Char('<'), m_offset - 1);
        }
        return t;
    }
    // Where the token just read starts (at its "<" for a tag), and where it ends.
    qsizetype start() const { return m_start; }
    qsizetype offset() const { return m_offset; }
    QXmlStreamReader &reader() { return m_x; }

private:
    const QString &m_text;
    QXmlStreamReader m_x;
    QString m_what, m_part;
    qsizetype m_start = 0, m_offset = 0;
};

QString prefixOf(const QXmlStreamReader &x)
{
    const QStringView p = x.prefix();
    return p.isEmpty() ? QString() : p.toString() + QLatin1Char(':');
}

QStringView attributeOf(const QXmlStreamReader &x, QLatin1StringView name)
{
    for (const QXmlStreamAttribute &a : x.attributes())
        if (a.name() == name && a.prefix().isEmpty())
            return a.value();
    return {};
}

} // namespace

QString XlsxPatcher::escapeText(const QString &text, bool shared)
{
    QString s = text;
    if (shared) {
        // A shared text that itself looks like an escape keeps its
        // underscore escaped. (Readers take an inline string's text as it
        // stands.)
        static const QRegularExpression escapeLike(QStringLiteral("(_x[0-9A-Fa-f]{4}_)"));
        s.replace(escapeLike, QStringLiteral("_x005F\\1"));
    }
    QString out;
    out.reserve(s.size() + 16);
    for (const QChar c : std::as_const(s)) {
        const char16_t u = c.unicode();
        if (u == '&')
            out += QLatin1String("&amp;");
        else if (u == '<')
            out += QLatin1String("&lt;");
        else if (u == '>')
            out += QLatin1String("&gt;");
        else if (u == '\r')
            out += QLatin1String("&#13;"); // a carriage return as such would read as a line feed
        else if ((u < 0x20 && u != '\t' && u != '\n') || u == 0xFFFE || u == 0xFFFF)
            out += shared
                       ? QStringLiteral("_x%1_").arg(QString::number(u, 16).toUpper().rightJustified(4, u'0'))
                       : QString();
        else
            out += c;
    }
    return out;
}

void XlsxPatcher::refuse(const QString &cell, const QString &why, const QString &chinese) const
{
    const QString sheet = m_wb.sheets().at(m_sheet).name;
    throw EngineError(
        QStringLiteral("%1 is not written: cell %2 of sheet %3 %4").arg(m_wb.what(), cell, sheet, why),
        QStringLiteral("没有写入 %1：工作表 %3 的单元格 %2 %4").arg(m_wb.what(), cell, sheet, chinese));
}

QByteArray XlsxPatcher::apply(std::vector<XlsxCellWrite> writes) const
{
    const XlsxSheet &sheet = m_wb.sheet(m_sheet);
    const QString what = m_wb.what();
    const QString sheetPart = m_wb.sheets().at(m_sheet).part;

    // The later of two writes of one cell counts; writes in cell order.
    std::stable_sort(writes.begin(), writes.end(), [](const XlsxCellWrite &a, const XlsxCellWrite &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    });
    {
        const auto kept = std::unique(writes.rbegin(), writes.rend(), [](const auto &a, const auto &b) {
            return a.row == b.row && a.col == b.col;
        });
        writes.erase(writes.begin(), kept.base());
    }
    // A blank where there is no cell changes nothing.
    std::erase_if(writes, [&](const XlsxCellWrite &w) {
        return w.kind == CellKind::Blank && !sheet.cell(w.row, w.col);
    });
    if (writes.empty())
        return {};

    for (const XlsxCellWrite &w : writes) {
        const QString ref = XlsxWorkbook::cellRef(w.row, w.col);
        const XlsxCell *old = sheet.cell(w.row, w.col);
        if (old && (old->flags & XlsxCell::Formula))
            refuse(ref, QStringLiteral("holds a formula; its value is calculated, not written"),
                   QStringLiteral("含有公式，其值是计算出来的，不能写入"));
        for (const XlsxRange &r : sheet.arrays)
            if (r.contains(w.row, w.col))
                refuse(ref, QStringLiteral("belongs to an array formula or a data table"),
                       QStringLiteral("属于数组公式或模拟运算表"));
        for (const XlsxRange &r : sheet.tableHeads)
            if (r.contains(w.row, w.col))
                refuse(ref, QStringLiteral("is in the header row of a table; its text names a column"),
                       QStringLiteral("位于表格的标题行，它的文字是列名"));
    }

    // ---- the shared strings ----
    const QString sstPart = m_wb.sharedStringsPart();
    const bool shared = !sstPart.isEmpty();
    if (!shared)
        for (const XlsxCellWrite &w : writes)
            for (const QChar c : w.text)
                if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.unicode() >= 0xFFFE)
                    refuse(XlsxWorkbook::cellRef(w.row, w.col),
                           QStringLiteral("cannot hold the control character U+%1 in a workbook without "
                                          "shared strings")
                               .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0')),
                           QStringLiteral("无法存放控制字符 U+%1（工作簿没有共享字符串表）")
                               .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0')));
    QString sstText;
    std::vector<Edit> sstEdits;
    QHash<QString, qint32> plainIndex; // text of each plain entry -> its index
    qsizetype sstInsertAt = -1;
    Span sstTag;
    QString sstPrefix;
    qint64 count = -1, unique = -1;
    if (shared) {
        const QByteArray bytes = m_wb.package().read(sstPart);
        sstText = QString::fromUtf8(bytes);
        if (sstText.toUtf8() != bytes)
            throw EngineError(
                QStringLiteral("%1 is not written: its part %2 is not in UTF-8").arg(what, sstPart),
                QStringLiteral("没有写入 %1：其组成部分 %2 不是 UTF-8 编码").arg(what, sstPart));
        Scanner s(sstText, what, sstPart);
        qint32 index = -1;
        int depth = 0, siDepth = -1, children = 0;
        bool plain = false;
        QString text;
        while (!s.atEnd()) {
            const int t = s.next();
            QXmlStreamReader &x = s.reader();
            if (t == QXmlStreamReader::StartElement) {
                ++depth;
                if (x.name() == QLatin1String("sst")) {
                    sstTag.start = s.start();
                    sstTag.tagEnd = s.offset();
                    sstPrefix = prefixOf(x);
                    bool ok = false;
                    count = attributeOf(x, QLatin1String("count")).toLongLong(&ok);
                    if (!ok)
                        count = -1;
                    unique = attributeOf(x, QLatin1String("uniqueCount")).toLongLong(&ok);
                    if (!ok)
                        unique = -1;
                } else if (x.name() == QLatin1String("si")) {
                    ++index;
                    siDepth = depth;
                    children = 0;
                    plain = true;
                    text.clear();
                } else if (siDepth >= 0 && depth == siDepth + 1) {
                    ++children;
                    if (x.name() == QLatin1String("t"))
                        text = XlsxWorkbook::elementText(x, what, sstPart), --depth;
                    else
                        plain = false;
                }
            } else if (t == QXmlStreamReader::EndElement) {
                if (x.name() == QLatin1String("si") && depth == siDepth) {
                    if (plain && children <= 1 && !plainIndex.contains(m_wb.sharedStrings().value(index)))
                        plainIndex.insert(m_wb.sharedStrings().value(index), index);
                    siDepth = -1;
                } else if (x.name() == QLatin1String("sst")) {
                    sstInsertAt = s.start();
                    sstTag.selfClosing = s.start() == s.offset();
                }
                --depth;
            }
        }
        if (sstTag.start < 0 || sstInsertAt < 0 || index + 1 != m_wb.sharedStrings().size())
            throw EngineError(QStringLiteral("%1 is not written: its part %2 is not laid out as expected")
                                  .arg(what, sstPart),
                              QStringLiteral("没有写入 %1：其组成部分 %2 的结构不合预期").arg(what, sstPart));
    }
    qint32 nextIndex = qint32(m_wb.sharedStrings().size());
    QString appended;
    qint64 countChange = 0;

    // ---- the sheet ----
    const QByteArray sheetBytes = m_wb.package().read(sheetPart);
    const QString sheetText = QString::fromUtf8(sheetBytes);
    if (sheetText.toUtf8() != sheetBytes)
        throw EngineError(
            QStringLiteral("%1 is not written: its part %2 is not in UTF-8").arg(what, sheetPart),
            QStringLiteral("没有写入 %1：其组成部分 %2 不是 UTF-8 编码").arg(what, sheetPart));
    std::vector<RowSpan> rows;
    Span sheetData, dimension;
    QString prefix;
    QString dimensionRef;
    {
        std::vector<quint32> wanted;
        for (const XlsxCellWrite &w : writes)
            wanted.push_back(w.row);
        Scanner s(sheetText, what, sheetPart);
        int depth = 0, dataDepth = -1;
        qint64 row = -1, col = -1;
        RowSpan *current = nullptr;
        CellSpan *cell = nullptr;
        while (!s.atEnd()) {
            const int t = s.next();
            QXmlStreamReader &x = s.reader();
            if (t == QXmlStreamReader::StartElement) {
                ++depth;
                const QStringView name = x.name();
                if (name == QLatin1String("sheetData") && dataDepth < 0) {
                    dataDepth = depth;
                    prefix = prefixOf(x);
                    sheetData = {s.start(), s.offset(), -1, -1, false};
                } else if (name == QLatin1String("dimension") && dataDepth < 0) {
                    dimension = {s.start(), s.offset(), -1, -1, false};
                    dimensionRef = attributeOf(x, QLatin1String("ref")).toString();
                } else if (dataDepth >= 0 && depth == dataDepth + 1 && name == QLatin1String("row")) {
                    const QStringView r = attributeOf(x, QLatin1String("r"));
                    RowSpan span;
                    span.addressed = !r.isEmpty();
                    row = span.addressed ? r.toLongLong() - 1 : row + 1;
                    span.row = quint32(row);
                    span.span = {s.start(), s.offset(), -1, -1, false};
                    rows.push_back(std::move(span));
                    current = &rows.back();
                    col = -1;
                } else if (current && depth == dataDepth + 2 && name == QLatin1String("c")) {
                    const QStringView r = attributeOf(x, QLatin1String("r"));
                    CellSpan c;
                    c.addressed = !r.isEmpty();
                    quint32 rr = 0;
                    quint16 cc = 0;
                    if (c.addressed && XlsxWorkbook::parseCellRef(r, rr, cc))
                        col = cc;
                    else
                        ++col;
                    c.col = quint16(col);
                    c.span = {s.start(), s.offset(), -1, -1, false};
                    if (std::binary_search(wanted.begin(), wanted.end(), current->row)) {
                        current->cells.push_back(c);
                        cell = &current->cells.back();
                    } else {
                        cell = nullptr;
                    }
                }
            } else if (t == QXmlStreamReader::EndElement) {
                const QStringView name = x.name();
                if (cell && depth == dataDepth + 2 && name == QLatin1String("c")) {
                    cell->span.closeAt = s.start();
                    cell->span.end = s.offset();
                    cell->span.selfClosing = s.start() == s.offset();
                    cell = nullptr;
                } else if (current && depth == dataDepth + 1 && name == QLatin1String("row")) {
                    current->span.closeAt = s.start();
                    current->span.end = s.offset();
                    current->span.selfClosing = s.start() == s.offset();
                    current = nullptr;
                } else if (depth == dataDepth && name == QLatin1String("sheetData")) {
                    sheetData.closeAt = s.start();
                    sheetData.end = s.offset();
                    sheetData.selfClosing = s.start() == s.offset();
                    dataDepth = -1;
                }
                --depth;
            }
        }
    }
    if (sheetData.start < 0 || sheetData.end < 0)
        throw EngineError(
            QStringLiteral("%1 is not written: its part %2 has no sheetData").arg(what, sheetPart),
            QStringLiteral("没有写入 %1：其组成部分 %2 中没有 sheetData").arg(what, sheetPart));

    const auto cellXml = [&](const XlsxCellWrite &w, const XlsxCell *old, bool hadStyle) {
        QString xml = QStringLiteral("<%1c r=\"%2\"").arg(prefix, XlsxWorkbook::cellRef(w.row, w.col));
        if (w.styleIndex != 0 || hadStyle)
            xml += QStringLiteral(" s=\"%1\"").arg(w.styleIndex);
        if (old && old->kind == CellKind::Text && old->text >= 0)
            --countChange;
        switch (w.kind) {
        case CellKind::Blank: return xml + QStringLiteral("/>");
        case CellKind::Number:
            return xml + QStringLiteral("><%1v>%2</%1v></%1c>")
                             .arg(prefix, QString::number(w.number, 'g', QLocale::FloatingPointShortest));
        case CellKind::Boolean:
            return xml +
                   QStringLiteral(" t=\"b\"><%1v>%2</%1v></%1c>").arg(prefix).arg(w.number != 0 ? 1 : 0);
        case CellKind::Text:
            if (shared) {
                qint32 index;
                const auto it = plainIndex.constFind(w.text);
                if (it != plainIndex.constEnd()) {
                    index = *it;
                } else {
                    index = nextIndex++;
                    plainIndex.insert(w.text, index);
                    appended += QStringLiteral("<%1si><%1t xml:space=\"preserve\">%2</%1t></%1si>")
                                    .arg(sstPrefix, escapeText(w.text, true));
                }
                ++countChange;
                return xml + QStringLiteral(" t=\"s\"><%1v>%2</%1v></%1c>").arg(prefix).arg(index);
            }
            return xml +
                   QStringLiteral(" t=\"inlineStr\"><%1is><%1t xml:space=\"preserve\">%2</%1t></%1is></%1c>")
                       .arg(prefix, escapeText(w.text, false));
        default: return xml + QStringLiteral("/>");
        }
    };

    std::vector<Edit> edits;
    XlsxRange grown;
    bool anyNew = false;
    const auto grow = [&](quint32 row, quint16 col) {
        grown = anyNew ? XlsxRange{std::min(grown.firstRow, row), std::max(grown.lastRow, row),
                                   std::min(grown.firstCol, col), std::max(grown.lastCol, col)}
                       : XlsxRange{row, row, col, col};
        anyNew = true;
    };
    for (size_t i = 0; i < writes.size();) {
        const quint32 rowNumber = writes[i].row;
        size_t j = i;
        while (j < writes.size() && writes[j].row == rowNumber)
            ++j;
        const auto rowIt =
            std::find_if(rows.begin(), rows.end(), [&](const RowSpan &r) { return r.row == rowNumber; });
        if (rowIt != rows.end()) {
            RowSpan &r = *rowIt;
            QString pendingEnd; // new cells after the last one
            for (size_t k = i; k < j; ++k) {
                const XlsxCellWrite &w = writes[k];
                const XlsxCell *old = sheet.cell(w.row, w.col);
                const auto same = std::find_if(r.cells.begin(), r.cells.end(),
                                               [&](const CellSpan &c) { return c.col == w.col; });
                if (same != r.cells.end()) {
                    // A style written out stays written out, "s=\"0\"" too.
                    static const QRegularExpression styleAttr(QStringLiteral("\\ss\\s*="));
                    const bool hadStyle =
                        sheetText.mid(same->span.start, same->span.tagEnd - same->span.start)
                            .contains(styleAttr);
                    edits.push_back({same->span.start, same->span.end, cellXml(w, old, hadStyle)});
                    continue;
                }
                grow(w.row, w.col);
                const auto after = std::find_if(r.cells.begin(), r.cells.end(),
                                                [&](const CellSpan &c) { return c.col > w.col; });
                for (auto c = after; c != r.cells.end(); ++c)
                    if (!c->addressed)
                        refuse(XlsxWorkbook::cellRef(w.row, w.col),
                               QStringLiteral("would go before cells that carry no address"),
                               QStringLiteral("之后的单元格没有地址，无法插入新单元格"));
                if (after != r.cells.end())
                    edits.push_back({after->span.start, after->span.start, cellXml(w, nullptr, false)});
                else
                    pendingEnd += cellXml(w, nullptr, false);
            }
            if (!pendingEnd.isEmpty()) {
                if (r.span.selfClosing) {
                    QString tag = sheetText.mid(r.span.start, r.span.tagEnd - r.span.start);
                    tag.chop(2);
                    edits.push_back({r.span.start, r.span.end,
                                     tag.trimmed() + QLatin1Char('>') + pendingEnd +
                                         QStringLiteral("</%1row>").arg(prefix)});
                } else {
                    edits.push_back({r.span.closeAt, r.span.closeAt, pendingEnd});
                }
            }
        } else {
            QString xml = QStringLiteral("<%1row r=\"%2\">").arg(prefix).arg(rowNumber + 1);
            bool any = false;
            for (size_t k = i; k < j; ++k) {
                if (writes[k].kind == CellKind::Blank)
                    continue;
                any = true;
                xml += cellXml(writes[k], nullptr, false);
                grow(writes[k].row, writes[k].col);
            }
            xml += QStringLiteral("</%1row>").arg(prefix);
            if (any) {
                const auto after = std::find_if(rows.begin(), rows.end(),
                                                [&](const RowSpan &r) { return r.row > rowNumber; });
                for (auto r = after; r != rows.end(); ++r)
                    if (!r->addressed)
                        refuse(XlsxWorkbook::cellRef(rowNumber, writes[i].col),
                               QStringLiteral("would go before rows that carry no number"),
                               QStringLiteral("之后的行没有行号，无法插入新行"));
                if (after != rows.end())
                    edits.push_back({after->span.start, after->span.start, xml});
                else if (sheetData.selfClosing) {
                    QString tag = sheetText.mid(sheetData.start, sheetData.tagEnd - sheetData.start);
                    tag.chop(2);
                    edits.push_back({sheetData.start, sheetData.end,
                                     tag.trimmed() + QLatin1Char('>') + xml +
                                         QStringLiteral("</%1sheetData>").arg(prefix)});
                } else
                    edits.push_back({sheetData.closeAt, sheetData.closeAt, xml});
            }
        }
        i = j;
    }
    // The dimension widened to hold new cells.
    if (anyNew && dimension.start >= 0 && !dimensionRef.isEmpty()) {
        XlsxRange d;
        const qsizetype colon = dimensionRef.indexOf(QLatin1Char(':'));
        const QString a = colon < 0 ? dimensionRef : dimensionRef.left(colon);
        const QString b = colon < 0 ? dimensionRef : dimensionRef.mid(colon + 1);
        if (XlsxWorkbook::parseCellRef(a, d.firstRow, d.firstCol) &&
            XlsxWorkbook::parseCellRef(b, d.lastRow, d.lastCol)) {
            // An empty sheet's dimension is "A1" and holds nothing.
            const bool emptySheet = sheet.cells.empty();
            const XlsxRange n =
                emptySheet
                    ? grown
                    : XlsxRange{std::min(d.firstRow, grown.firstRow), std::max(d.lastRow, grown.lastRow),
                                std::min(d.firstCol, grown.firstCol), std::max(d.lastCol, grown.lastCol)};
            const QString ref = n.firstRow == n.lastRow && n.firstCol == n.lastCol
                                    ? XlsxWorkbook::cellRef(n.firstRow, n.firstCol)
                                    : XlsxWorkbook::cellRef(n.firstRow, n.firstCol) + QLatin1Char(':') +
                                          XlsxWorkbook::cellRef(n.lastRow, n.lastCol);
            if (ref != dimensionRef) {
                QString tag = sheetText.mid(dimension.start, dimension.tagEnd - dimension.start);
                static const QRegularExpression refAttr(QStringLiteral("(\\sref\\s*=\\s*)([\"'])[^\"']*\\2"));
                tag.replace(refAttr, QStringLiteral("\\1\\2%1\\2").arg(escapeAttribute(ref)));
                edits.push_back({dimension.start, dimension.tagEnd, tag});
            }
        }
    }

    QMap<QString, QByteArray> parts;
    parts.insert(sheetPart, applyEdits(sheetText, std::move(edits)).toUtf8());
    if (shared && (countChange != 0 || !appended.isEmpty())) {
        QString tag = sstText.mid(sstTag.start, sstTag.tagEnd - sstTag.start);
        const auto setCount = [&](QLatin1StringView attr, qint64 value) {
            const QRegularExpression re(QStringLiteral("(\\s%1\\s*=\\s*)([\"'])[^\"']*\\2").arg(attr));
            tag.replace(re, QStringLiteral("\\1\\2%1\\2").arg(value));
        };
        if (count >= 0)
            setCount(QLatin1String("count"), std::max<qint64>(0, count + countChange));
        if (unique >= 0 && !appended.isEmpty())
            setCount(QLatin1String("uniqueCount"), nextIndex);
        if (sstTag.selfClosing) {
            tag = tag.trimmed();
            tag.chop(2);
            sstEdits.push_back(
                {sstTag.start, sstTag.tagEnd,
                 tag + QLatin1Char('>') + appended + QStringLiteral("</%1sst>").arg(sstPrefix)});
        } else {
            sstEdits.push_back({sstTag.start, sstTag.tagEnd, tag});
            sstEdits.push_back({sstInsertAt, sstInsertAt, appended});
        }
        parts.insert(sstPart, applyEdits(sstText, std::move(sstEdits)).toUtf8());
    }
    const QByteArray out = m_wb.package().withParts(parts);

    // Read back as it will be read when opened: the written cells as
    // written, every other cell as before.
    try {
        const QString copy = rewrittenName(what);
        const XlsxWorkbook after(out, copy);
        if (after.sheets().size() != m_wb.sheets().size() ||
            after.sharedStrings().mid(0, m_wb.sharedStrings().size()) != m_wb.sharedStrings())
            throw EngineError(QStringLiteral("%1 is damaged: its sheets or shared strings differ").arg(copy),
                              QStringLiteral("文件 %1 已损坏：工作表或共享字符串与原来不同").arg(copy));
        const XlsxSheet &again = after.sheet(m_sheet);
        const auto differs = [&](const QString &why) {
            return EngineError(QStringLiteral("%1 is damaged: %2").arg(copy, why),
                               QStringLiteral("文件 %1 已损坏：%2").arg(copy, why));
        };
        const auto written = [&](quint32 row, quint16 col) -> const XlsxCellWrite * {
            const auto it =
                std::lower_bound(writes.begin(), writes.end(), std::pair(row, col),
                                 [](const XlsxCellWrite &w, const std::pair<quint32, quint16> &k) {
                                     return w.row != k.first ? w.row < k.first : w.col < k.second;
                                 });
            return it != writes.end() && it->row == row && it->col == col ? &*it : nullptr;
        };
        for (const XlsxCellWrite &w : writes) {
            const XlsxCell *c = again.cell(w.row, w.col);
            const bool ok = w.kind == CellKind::Blank
                                ? (!c || c->kind == CellKind::Blank)
                                : c && c->kind == w.kind && c->style == w.styleIndex &&
                                      (w.kind == CellKind::Text ? after.text(again, *c) == w.text
                                                                : c->number == w.number);
            if (!ok)
                throw differs(QStringLiteral("cell %1 does not read back as written")
                                  .arg(XlsxWorkbook::cellRef(w.row, w.col)));
        }
        const auto sameCell = [&](const XlsxCell &a, const XlsxCell &b) {
            if (a.row != b.row || a.col != b.col || a.kind != b.kind || a.flags != b.flags ||
                a.style != b.style)
                return false;
            if (a.kind == CellKind::Text)
                return m_wb.text(sheet, a) == after.text(again, b);
            return a.number == b.number || (a.number != a.number && b.number != b.number);
        };
        auto b = again.cells.begin();
        for (const XlsxCell &a : sheet.cells) {
            if (written(a.row, a.col))
                continue;
            while (b != again.cells.end() && written(b->row, b->col))
                ++b;
            if (b == again.cells.end() || !sameCell(a, *b))
                throw differs(QStringLiteral("cell %1 does not read back as it was")
                                  .arg(XlsxWorkbook::cellRef(a.row, a.col)));
            ++b;
        }
        while (b != again.cells.end() && written(b->row, b->col))
            ++b;
        if (b != again.cells.end())
            throw differs(QStringLiteral("cell %1 appeared").arg(XlsxWorkbook::cellRef(b->row, b->col)));
    } catch (const EngineError &e) {
        throw notWritten(e, what);
    }
    return out;
}

} // namespace lumora::engine
