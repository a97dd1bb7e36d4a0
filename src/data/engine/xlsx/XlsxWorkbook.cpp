#include "data/engine/xlsx/XlsxWorkbook.h"

#include "data/engine/xlsx/SheetReader.h"

#include <QDateTime>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <algorithm>
#include <map>

namespace lumora::engine {

namespace {

constexpr quint32 kMaxRow = 1048575;
constexpr quint16 kMaxCol = 16383;

EngineError damagedPart(const QString &what, const QString &part, const QString &why, const QString &chinese)
{
    return EngineError(QStringLiteral("%1 is damaged: its part %2 %3").arg(what, part, why),
                       QStringLiteral("文件 %1 已损坏：其组成部分 %2 %3").arg(what, part, chinese));
}

bool isElement(const QXmlStreamReader &x, QLatin1StringView name)
{
    return x.name() == name;
}

QStringView attribute(const QXmlStreamReader &x, QLatin1StringView name)
{
    for (const QXmlStreamAttribute &a : x.attributes())
        if (a.name() == name && a.prefix().isEmpty())
            return a.value();
    return {};
}

// The relationship id of an element (r:id), whatever the prefix is bound to.
QString relationshipId(const QXmlStreamReader &x)
{
    for (const QXmlStreamAttribute &a : x.attributes())
        if (a.name() == QLatin1String("id") && a.namespaceUri().contains(QLatin1String("relationships")))
            return a.value().toString();
    return {};
}

// "_x000D_" stands for the character it names in a cell's text.
QString unescapeText(QString s)
{
    if (!s.contains(QLatin1String("_x")))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('_') && i + 6 < s.size() && s[i + 1] == QLatin1Char('x') &&
            s[i + 6] == QLatin1Char('_')) {
            bool ok = false;
            const uint code = QStringView(s).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out.append(QChar(char16_t(code)));
                i += 6;
                continue;
            }
        }
        out.append(s[i]);
    }
    return out;
}

bool truthy(QStringView v)
{
    return v == QLatin1String("1") || v == QLatin1String("true");
}

// A part's path from the part holding a relationship and its target.
QString resolveTarget(const QString &from, const QString &target)
{
    QStringList steps;
    if (!target.startsWith(QLatin1Char('/'))) {
        steps = from.split(QLatin1Char('/'));
        steps.removeLast();
    }
    for (const QString &step : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (step == QLatin1String(".."))
            !steps.isEmpty() ? steps.removeLast() : void();
        else if (step != QLatin1String("."))
            steps.append(step);
    }
    return steps.join(QLatin1Char('/'));
}

QString relsPart(const QString &part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

bool typeIs(const QString &type, QLatin1StringView last)
{
    return type.endsWith(QLatin1Char('/') + QString(last));
}

} // namespace

// ---- XML -----------------------------------------------------------------

int XlsxWorkbook::next(QXmlStreamReader &x, const QString &what, const QString &part)
{
    const QXmlStreamReader::TokenType t = x.readNext();
    if (t == QXmlStreamReader::DTD || t == QXmlStreamReader::EntityReference)
        throw EngineError(
            QStringLiteral("%1 is refused: its part %2 declares a DOCTYPE or entities, which no "
                           "workbook needs")
                .arg(what, part),
            QStringLiteral("拒绝打开 %1：其组成部分 %2 含有 DOCTYPE 或实体声明，工作簿不需要这些")
                .arg(what, part));
    if (t == QXmlStreamReader::Invalid)
        throw damagedPart(
            what, part,
            QStringLiteral("is no well-formed XML (line %1: %2)").arg(x.lineNumber()).arg(x.errorString()),
            QStringLiteral("不是格式正确的 XML（第 %1 行：%2）").arg(x.lineNumber()).arg(x.errorString()));
    return t;
}

QString XlsxWorkbook::elementText(QXmlStreamReader &x, const QString &what, const QString &part)
{
    QString text;
    for (int depth = 1; depth > 0 && !x.atEnd();) {
        switch (next(x, what, part)) {
        case QXmlStreamReader::StartElement: ++depth; break;
        case QXmlStreamReader::EndElement: --depth; break;
        case QXmlStreamReader::Characters:
            if (depth == 1)
                text += x.text();
            break;
        default: break;
        }
    }
    return text;
}

// ---- cell references -----------------------------------------------------

bool XlsxWorkbook::parseCellRef(QStringView ref, quint32 &row, quint16 &col)
{
    qsizetype i = 0;
    if (i < ref.size() && ref[i] == QLatin1Char('$'))
        ++i;
    quint32 c = 0;
    const qsizetype letters = i;
    while (i < ref.size() && ref[i].isLetter() && ref[i].unicode() < 128) {
        c = c * 26 + quint32(ref[i].toUpper().unicode() - 'A' + 1);
        if (c > kMaxCol + 1u)
            return false;
        ++i;
    }
    if (i == letters)
        return false;
    if (i < ref.size() && ref[i] == QLatin1Char('$'))
        ++i;
    quint32 r = 0;
    const qsizetype digits = i;
    while (i < ref.size() && ref[i].isDigit() && ref[i].unicode() < 128) {
        r = r * 10 + quint32(ref[i].unicode() - '0');
        if (r > kMaxRow + 1)
            return false;
        ++i;
    }
    if (i == digits || i != ref.size() || r == 0)
        return false;
    row = r - 1;
    col = quint16(c - 1);
    return true;
}

QString XlsxWorkbook::cellRef(quint32 row, quint16 col)
{
    QString letters;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row + 1);
}

namespace {

// "A1:C9", "A1" or "$A:$C" (whole columns) as a range.
bool parseRange(QStringView ref, XlsxRange &range)
{
    const qsizetype colon = ref.indexOf(QLatin1Char(':'));
    const QStringView a = colon < 0 ? ref : ref.left(colon);
    const QStringView b = colon < 0 ? ref : ref.mid(colon + 1);
    if (XlsxWorkbook::parseCellRef(a, range.firstRow, range.firstCol) &&
        XlsxWorkbook::parseCellRef(b, range.lastRow, range.lastCol))
        return range.firstRow <= range.lastRow && range.firstCol <= range.lastCol;
    // Whole columns: "$A:$C".
    quint32 r;
    if (colon > 0 && XlsxWorkbook::parseCellRef(a.toString() + QLatin1Char('1'), r, range.firstCol) &&
        XlsxWorkbook::parseCellRef(b.toString() + QLatin1Char('1'), r, range.lastCol)) {
        range.firstRow = 0;
        range.lastRow = kMaxRow;
        return range.firstCol <= range.lastCol;
    }
    return false;
}

} // namespace

// ---- the workbook ----------------------------------------------------------

XlsxWorkbook::XlsxWorkbook(QByteArray file, QString what, qint64 partLimit)
    : m_zip(std::move(file), std::move(what), partLimit)
{
    QString workbookPart;
    for (const Relationship &r : relationships(QString()))
        if (typeIs(r.type, QLatin1String("officeDocument")))
            workbookPart = r.target;
    if (workbookPart.isEmpty())
        workbookPart = QStringLiteral("xl/workbook.xml");
    if (m_zip.contains(QStringLiteral("xl/workbook.bin")) || workbookPart.endsWith(QLatin1String(".bin")))
        throw EngineError(
            QStringLiteral("%1 cannot be opened: it is an Excel binary workbook (.xlsb); save it as an "
                           "Excel workbook (.xlsx)")
                .arg(m_zip.what()),
            QStringLiteral("无法打开 %1：它是 Excel 二进制工作簿（.xlsb），请另存为 Excel 工作簿（.xlsx）")
                .arg(m_zip.what()));
    if (!m_zip.contains(workbookPart))
        throw EngineError(
            QStringLiteral("%1 cannot be opened as an Excel workbook: its zip container holds no workbook "
                           "part (a Word or other document?)")
                .arg(m_zip.what()),
            QStringLiteral("%1 无法作为 Excel 工作簿打开：其 zip 容器里没有工作簿（也许是 Word 或其他文档）")
                .arg(m_zip.what()));
    workbookPart = m_zip.find(workbookPart);
    readWorkbook(workbookPart);
    m_parsed.resize(size_t(m_sheets.size()));
}

QList<XlsxWorkbook::Relationship> XlsxWorkbook::relationships(const QString &part) const
{
    const QString rels = part.isEmpty() ? QStringLiteral("_rels/.rels") : relsPart(part);
    QList<Relationship> out;
    if (!m_zip.contains(rels))
        return out;
    const QByteArray bytes = m_zip.read(rels);
    QXmlStreamReader x(bytes);
    while (!x.atEnd())
        if (next(x, what(), rels) == QXmlStreamReader::StartElement &&
            isElement(x, QLatin1String("Relationship"))) {
            if (attribute(x, QLatin1String("TargetMode")) == QLatin1String("External"))
                continue;
            out.append({attribute(x, QLatin1String("Id")).toString(),
                        attribute(x, QLatin1String("Type")).toString(),
                        resolveTarget(part, attribute(x, QLatin1String("Target")).toString())});
        }
    return out;
}

void XlsxWorkbook::readWorkbook(const QString &part)
{
    const QList<Relationship> rels = relationships(part);
    const auto target = [&](const QString &id, QString *type) {
        for (const Relationship &r : rels)
            if (r.id == id) {
                *type = r.type;
                return r.target;
            }
        return QString();
    };
    struct Pending
    {
        QString name, text;
        int scope = -1;
    };
    QList<Pending> pending;
    const QByteArray bytes = m_zip.read(part);
    QXmlStreamReader x(bytes);
    while (!x.atEnd()) {
        if (next(x, what(), part) != QXmlStreamReader::StartElement)
            continue;
        if (isElement(x, QLatin1String("workbookPr"))) {
            m_1904 = truthy(attribute(x, QLatin1String("date1904")));
        } else if (isElement(x, QLatin1String("sheet"))) {
            XlsxSheetEntry s;
            s.name = attribute(x, QLatin1String("name")).toString();
            QString type;
            const QString path = target(relationshipId(x), &type);
            s.worksheet = typeIs(type, QLatin1String("worksheet"));
            if (s.worksheet) {
                s.part = m_zip.find(path);
                if (s.part.isEmpty())
                    throw EngineError(QStringLiteral("%1 is damaged: its part %2 (sheet %3) is missing")
                                          .arg(what(), path, s.name),
                                      QStringLiteral("文件 %1 已损坏：缺少其组成部分 %2（工作表 %3）")
                                          .arg(what(), path, s.name));
            }
            m_sheets.append(s);
        } else if (isElement(x, QLatin1String("definedName"))) {
            Pending p;
            p.name = attribute(x, QLatin1String("name")).toString();
            const QStringView local = attribute(x, QLatin1String("localSheetId"));
            p.scope = local.isEmpty() ? -1 : local.toInt();
            const bool hidden = truthy(attribute(x, QLatin1String("hidden")));
            p.text = elementText(x, what(), part);
            if (!hidden && !p.name.startsWith(QLatin1String("_xlnm."), Qt::CaseInsensitive))
                pending.append(p);
        }
    }
    for (const Pending &p : std::as_const(pending)) {
        if (p.scope < -1 || p.scope >= m_sheets.size())
            continue;
        // "Sheet1!$A$1:$C$9" or "'My sheet'!$A$1:$C$9"
        const QString text = p.text.trimmed();
        const qsizetype bang = text.lastIndexOf(QLatin1Char('!'));
        if (bang <= 0)
            continue;
        QString sheetName = text.left(bang);
        if (sheetName.size() >= 2 && sheetName.startsWith(QLatin1Char('\'')) &&
            sheetName.endsWith(QLatin1Char('\'')))
            sheetName =
                sheetName.mid(1, sheetName.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
        XlsxDefinedName n;
        n.name = p.name;
        n.scope = p.scope;
        for (int i = 0; i < m_sheets.size(); ++i)
            if (m_sheets[i].worksheet && m_sheets[i].name == sheetName)
                n.sheet = i;
        if (n.sheet >= 0 && parseRange(QStringView(text).mid(bang + 1), n.range))
            m_names.append(n);
    }
    for (const Relationship &r : rels) {
        if (typeIs(r.type, QLatin1String("sharedStrings")) && m_zip.contains(r.target)) {
            m_sharedPart = m_zip.find(r.target);
            readSharedStrings(m_sharedPart);
        } else if (typeIs(r.type, QLatin1String("styles")) && m_zip.contains(r.target)) {
            readStyles(m_zip.find(r.target));
        }
    }
}

void XlsxWorkbook::readSharedStrings(const QString &part)
{
    // A roster's names are most of its bytes: read as the sheets are.
    SheetReader reader = SheetReader::sharedStrings(what(), part);
    m_zip.stream(part, [&](const char *data, qsizetype size) { reader.feed(data, size, false); });
    reader.feed(nullptr, 0, true);
    m_shared = std::move(reader.strings());
    for (QString &text : m_shared)
        text = unescapeText(std::move(text));
}

void XlsxWorkbook::readStyles(const QString &part)
{
    std::map<int, XlsNumberStyle> formats;
    const QByteArray bytes = m_zip.read(part);
    QXmlStreamReader x(bytes);
    int inCellXfs = 0;
    while (!x.atEnd()) {
        const int t = next(x, what(), part);
        if (t == QXmlStreamReader::StartElement) {
            if (isElement(x, QLatin1String("numFmt")))
                formats[attribute(x, QLatin1String("numFmtId")).toInt()] =
                    classifyNumberFormat(attribute(x, QLatin1String("formatCode")).toString());
            else if (isElement(x, QLatin1String("cellXfs")))
                ++inCellXfs;
            else if (inCellXfs && isElement(x, QLatin1String("xf"))) {
                const int id = attribute(x, QLatin1String("numFmtId")).toInt();
                const auto it = formats.find(id);
                m_xfStyles.push_back(it != formats.end() ? it->second
                                                         : builtinNumberFormatStyle(quint16(id)));
            }
        } else if (t == QXmlStreamReader::EndElement && isElement(x, QLatin1String("cellXfs"))) {
            --inCellXfs;
        }
    }
}

SheetCellView XlsxWorkbook::view(const XlsxSheet &sheet, const XlsxCell &cell) const
{
    SheetCellView v;
    v.kind = cell.kind;
    v.number = cell.number;
    if (cell.kind == CellKind::Text)
        v.text = &text(sheet, cell);
    else if (cell.kind == CellKind::Number)
        v.style = style(cell.style);
    return v;
}

// ---- sheets ----------------------------------------------------------------

const XlsxSheet &XlsxWorkbook::sheet(int i) const
{
    if (!m_parsed.at(size_t(i)))
        m_parsed[size_t(i)] = readSheet(i);
    return *m_parsed[size_t(i)];
}

std::unique_ptr<XlsxSheet> XlsxWorkbook::readSheet(int i) const
{
    // expat, fed as the part inflates: a large sheet is read at the speed
    // of the XML and never held whole.
    const QString &part = m_sheets.at(i).part;
    SheetReader reader(what(), part, m_shared.size(), m_1904);
    // Room for the cells a roster's XML of that size holds (about 50 bytes
    // a cell), given back at the end if fewer came.
    reader.sheet().cells.reserve(size_t(std::min<qint64>(m_zip.claimedSize(part) / 64, 1 << 22)));
    m_zip.stream(part, [&](const char *data, qsizetype size) { reader.feed(data, size, false); });
    reader.feed(nullptr, 0, true);
    auto sheet = std::make_unique<XlsxSheet>(std::move(reader.sheet()));
    sheet->index();
    if (!reader.tableIds().isEmpty())
        readTableHeads(part, reader.tableIds(), *sheet);
    return sheet;
}

void XlsxWorkbook::readTableHeads(const QString &sheetPart, const QStringList &ids, XlsxSheet &sheet) const
{
    for (const Relationship &r : relationships(sheetPart)) {
        if (!ids.contains(r.id) || !m_zip.contains(r.target))
            continue;
        const QString part = m_zip.find(r.target);
        const QByteArray bytes = m_zip.read(part);
        QXmlStreamReader x(bytes);
        while (!x.atEnd())
            if (next(x, what(), part) == QXmlStreamReader::StartElement &&
                isElement(x, QLatin1String("table"))) {
                XlsxRange range;
                const QStringView heads = attribute(x, QLatin1String("headerRowCount"));
                const int count = heads.isEmpty() ? 1 : heads.toInt();
                if (count > 0 && parseRange(attribute(x, QLatin1String("ref")), range)) {
                    range.lastRow = std::min(range.lastRow, range.firstRow + quint32(count) - 1);
                    sheet.tableHeads.push_back(range);
                }
                break;
            }
    }
}

void XlsxSheet::index()
{
    rowStart.clear();
    const size_t lastRow = cells.empty() ? 0 : cells.back().row;
    if (cells.empty() || (lastRow + 2) * sizeof(quint32) > cells.size() * sizeof(XlsxCell))
        return;
    rowStart.assign(lastRow + 2, quint32(cells.size()));
    for (size_t i = cells.size(); i-- > 0;)
        rowStart[cells[i].row] = quint32(i);
    for (size_t r = lastRow + 1; r-- > 0;)
        rowStart[r] = std::min(rowStart[r], rowStart[r + 1]);
}

const XlsxCell *XlsxSheet::cell(quint32 row, quint16 col) const
{
    if (!rowStart.empty()) {
        if (size_t(row) + 1 >= rowStart.size())
            return nullptr;
        const auto from = cells.begin() + rowStart[row], to = cells.begin() + rowStart[size_t(row) + 1];
        const auto it =
            std::lower_bound(from, to, col, [](const XlsxCell &c, quint16 k) { return c.col < k; });
        return it != to && it->col == col ? &*it : nullptr;
    }
    const auto it = std::lower_bound(cells.begin(), cells.end(), std::pair(row, col),
                                     [](const XlsxCell &c, const std::pair<quint32, quint16> &key) {
                                         return c.row != key.first ? c.row < key.first : c.col < key.second;
                                     });
    return it != cells.end() && it->row == row && it->col == col ? &*it : nullptr;
}

quint32 XlsxSheet::columnStyle(quint16 col) const
{
    for (const Column &c : columns)
        if (col >= c.first && col <= c.last)
            return c.style;
    return 0;
}

} // namespace lumora::engine
