#include "data/engine/xlsx/SheetReader.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <expat.h>
#include <optional>
#include <string>

namespace lumora::engine {

namespace {

constexpr qint64 kMaxRow = 1048575;
constexpr qint64 kMaxCol = 16383;

// An element's or attribute's name without its prefix ("x:c" -> "c").
const char *localName(const char *name)
{
    const char *colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

// An unprefixed attribute's value, or null.
const char *attr(const char **atts, const char *name)
{
    for (const char **a = atts; *a; a += 2)
        if (std::strcmp(a[0], name) == 0)
            return a[1];
    return nullptr;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// "AB12" or "$AB$12" as (row, column), 0-based; false for no cell reference.
bool cellRef(const char *ref, qint64 &row, qint64 &col)
{
    const char *p = ref;
    if (*p == '$')
        ++p;
    qint64 c = 0;
    const char *letters = p;
    for (; (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'); ++p)
        if ((c = c * 26 + ((*p | 0x20) - 'a' + 1)) > kMaxCol + 1)
            return false;
    if (p == letters)
        return false;
    if (*p == '$')
        ++p;
    qint64 r = 0;
    const char *digits = p;
    for (; *p >= '0' && *p <= '9'; ++p)
        if ((r = r * 10 + (*p - '0')) > kMaxRow + 1)
            return false;
    if (p == digits || *p || r == 0)
        return false;
    row = r - 1;
    col = c - 1;
    return true;
}

} // namespace

struct SheetReader::State
{
    XML_Parser parser = nullptr;
    std::optional<EngineError> error;
    int depth = 0;
    int sheetData = -1; // depth of <sheetData>
    int cellDepth = -1; // depth of the open <c>
    qint64 row = -1, col = -1;
    // The open cell.
    XlsxCell cell;
    std::string type;
    std::string value; // its <v>
    std::string text;  // its inline string's <t> texts
    bool hasValue = false, inlineText = false;
    enum class Into {
        Nothing,
        Value,
        Text
    } into = Into::Nothing;
    int inlineDepth = -1; // depth of <is>
    int phonetic = 0;     // open <rPh> inside <is>
};

SheetReader::SheetReader(QString what, QString part, qsizetype sharedCount, bool uses1904)
    : m_what(std::move(what))
    , m_part(std::move(part))
    , m_sharedCount(sharedCount)
    , m_1904(uses1904)
    , m_state(new State)
{
    m_state->parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(m_state->parser, this);
    XML_SetElementHandler(m_state->parser, onStart, onEnd);
    XML_SetCharacterDataHandler(m_state->parser, onText);
    XML_SetStartDoctypeDeclHandler(m_state->parser, onDoctype);
    XML_SetEntityDeclHandler(m_state->parser, onEntity);
}

SheetReader::~SheetReader()
{
    XML_ParserFree(m_state->parser);
    delete m_state;
}

void SheetReader::fail(EngineError error)
{
    if (!m_state->error)
        m_state->error = std::move(error);
    XML_StopParser(m_state->parser, XML_FALSE);
}

void SheetReader::onDoctype(void *self, const char *, const char *, const char *, int)
{
    auto *r = static_cast<SheetReader *>(self);
    r->fail(EngineError(QStringLiteral("%1 is refused: its part %2 declares a DOCTYPE or entities, which no "
                                       "workbook needs")
                            .arg(r->m_what, r->m_part),
                        QStringLiteral("拒绝打开 %1：其组成部分 %2 含有 DOCTYPE 或实体声明，工作簿不需要这些")
                            .arg(r->m_what, r->m_part)));
}

void SheetReader::onEntity(void *self, const char *, int, const char *, int, const char *, const char *,
                           const char *, const char *)
{
    onDoctype(self, nullptr, nullptr, nullptr, 0);
}

void SheetReader::feed(const char *data, qsizetype size, bool last)
{
    State &s = *m_state;
    while (size > 0 || last) {
        const int chunk = int(std::min<qsizetype>(size, 1 << 30));
        const bool final = last && chunk == size;
        if (XML_Parse(s.parser, data, chunk, final) != XML_STATUS_OK) {
            if (s.error)
                throw *s.error;
            const qint64 line = qint64(XML_GetCurrentLineNumber(s.parser));
            const QString why = QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(s.parser)));
            throw EngineError(
                QStringLiteral("%1 is damaged: its part %2 is no well-formed XML (line %3: %4)")
                    .arg(m_what, m_part)
                    .arg(line)
                    .arg(why),
                QStringLiteral("文件 %1 已损坏：其组成部分 %2 不是格式正确的 XML（第 %3 行：%4）")
                    .arg(m_what, m_part)
                    .arg(line)
                    .arg(why));
        }
        if (s.error)
            throw *s.error;
        data += chunk;
        size -= chunk;
        if (final)
            break;
    }
    if (!last)
        return;
    std::vector<XlsxCell> &cells = m_sheet.cells;
    const auto before = [](const XlsxCell &a, const XlsxCell &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before))
        std::stable_sort(cells.begin(), cells.end(), before);
    // Two elements for one cell: the later one counts.
    const auto kept = std::unique(cells.rbegin(), cells.rend(), [](const XlsxCell &a, const XlsxCell &b) {
        return a.row == b.row && a.col == b.col;
    });
    cells.erase(cells.begin(), kept.base());
    cells.shrink_to_fit();
}

void SheetReader::onStart(void *self, const char *name, const char **atts)
{
    static_cast<SheetReader *>(self)->start(name, atts);
}

void SheetReader::onEnd(void *self, const char *name)
{
    static_cast<SheetReader *>(self)->end(name);
}

void SheetReader::onText(void *self, const char *text, int length)
{
    State &s = *static_cast<SheetReader *>(self)->m_state;
    if (s.into == State::Into::Value)
        s.value.append(text, size_t(length));
    else if (s.into == State::Into::Text)
        s.text.append(text, size_t(length));
}

void SheetReader::start(const char *name, const char **atts)
{
    State &s = *m_state;
    ++s.depth;
    const char *local = localName(name);
    const auto bad = [&](const QString &why, const QString &chinese) {
        fail(EngineError(QStringLiteral("%1 is damaged: its part %2 %3").arg(m_what, m_part, why),
                         QStringLiteral("文件 %1 已损坏：其组成部分 %2 %3").arg(m_what, m_part, chinese)));
    };
    if (s.cellDepth >= 0) {
        // Inside a cell: its value, formula or inline string.
        if (s.inlineDepth >= 0) {
            if (std::strcmp(local, "rPh") == 0)
                ++s.phonetic;
            else if (std::strcmp(local, "t") == 0 && s.phonetic == 0)
                s.into = State::Into::Text;
        } else if (s.depth == s.cellDepth + 1) {
            if (std::strcmp(local, "v") == 0) {
                s.into = State::Into::Value;
                s.value.clear();
            } else if (std::strcmp(local, "f") == 0) {
                s.cell.flags |= XlsxCell::Formula;
                const char *ft = attr(atts, "t");
                const char *ref = attr(atts, "ref");
                if (ft && ref && (std::strcmp(ft, "array") == 0 || std::strcmp(ft, "dataTable") == 0)) {
                    const char *colon = std::strchr(ref, ':');
                    qint64 r1, c1, r2, c2;
                    const std::string first =
                        colon ? std::string(ref, size_t(colon - ref)) : std::string(ref);
                    if (cellRef(first.c_str(), r1, c1) && cellRef(colon ? colon + 1 : ref, r2, c2) &&
                        r1 <= r2 && c1 <= c2)
                        m_sheet.arrays.push_back({quint32(r1), quint32(r2), quint16(c1), quint16(c2)});
                }
            } else if (std::strcmp(local, "is") == 0) {
                s.inlineDepth = s.depth;
                s.inlineText = true;
                s.text.clear();
            }
        }
        return;
    }
    if (s.sheetData >= 0 && s.depth == s.sheetData + 1 && std::strcmp(local, "row") == 0) {
        if (const char *r = attr(atts, "r")) {
            qint64 n = 0;
            const auto [end, ec] = std::from_chars(r, r + std::strlen(r), n);
            if (ec != std::errc() || *end || n < 1 || n > kMaxRow + 1)
                return bad(QStringLiteral("has a row numbered \"%1\"").arg(QString::fromUtf8(r)),
                           QStringLiteral("有一行的行号是“%1”").arg(QString::fromUtf8(r)));
            s.row = n - 1;
        } else {
            ++s.row;
        }
        if (s.row > kMaxRow)
            return bad(QStringLiteral("has more rows than a sheet holds"),
                       QStringLiteral("的行数超过工作表的上限"));
        s.col = -1;
    } else if (s.sheetData >= 0 && s.depth == s.sheetData + 2 && std::strcmp(local, "c") == 0) {
        s.cell = XlsxCell();
        s.type.clear();
        s.hasValue = s.inlineText = false;
        s.cellDepth = s.depth;
        for (const char **a = atts; *a; a += 2) {
            if (std::strcmp(a[0], "r") == 0) {
                qint64 r, c;
                if (!cellRef(a[1], r, c))
                    return bad(QStringLiteral("has a cell addressed \"%1\"").arg(QString::fromUtf8(a[1])),
                               QStringLiteral("有一个单元格的地址是“%1”").arg(QString::fromUtf8(a[1])));
                s.row = r;
                s.col = c - 1; // counted up below
            } else if (std::strcmp(a[0], "s") == 0) {
                quint32 style = 0;
                std::from_chars(a[1], a[1] + std::strlen(a[1]), style);
                s.cell.style = style;
            } else if (std::strcmp(a[0], "t") == 0) {
                s.type = a[1];
            }
        }
        ++s.col;
        if (s.row < 0)
            s.row = 0;
        if (s.col > kMaxCol)
            return bad(QStringLiteral("has more columns than a sheet holds"),
                       QStringLiteral("的列数超过工作表的上限"));
        s.cell.row = quint32(s.row);
        s.cell.col = quint16(s.col);
    } else if (s.sheetData < 0 && std::strcmp(local, "sheetData") == 0) {
        s.sheetData = s.depth;
    } else if (std::strcmp(local, "col") == 0) {
        const char *min = attr(atts, "min"), *max = attr(atts, "max"), *style = attr(atts, "style");
        if (min && max && style) {
            const int first = std::atoi(min), last = std::atoi(max);
            if (first >= 1 && last >= first)
                m_sheet.columns.push_back({quint16(std::min<int>(first - 1, kMaxCol)),
                                           quint16(std::min<int>(last - 1, kMaxCol)),
                                           quint32(std::strtoul(style, nullptr, 10))});
        }
    } else if (std::strcmp(local, "tablePart") == 0) {
        for (const char **a = atts; *a; a += 2)
            if (std::strchr(a[0], ':') && std::strcmp(localName(a[0]), "id") == 0)
                m_tableIds.append(QString::fromUtf8(a[1]));
    }
}

void SheetReader::end(const char *name)
{
    State &s = *m_state;
    const char *local = localName(name);
    if (s.cellDepth >= 0) {
        if (s.depth == s.cellDepth) {
            finishCell();
            s.cellDepth = -1;
        } else if (s.inlineDepth >= 0) {
            if (s.depth == s.inlineDepth)
                s.inlineDepth = -1;
            else if (std::strcmp(local, "rPh") == 0)
                --s.phonetic;
            s.into = State::Into::Nothing;
        } else if (s.depth == s.cellDepth + 1 && std::strcmp(local, "v") == 0) {
            // An empty <v/> (a formula never calculated) is no value.
            s.hasValue = !trimmed(s.value).empty();
            s.into = State::Into::Nothing;
        }
    } else if (s.depth == s.sheetData) {
        s.sheetData = -2; // one sheetData only
    }
    --s.depth;
}

void SheetReader::finishCell()
{
    State &s = *m_state;
    XlsxCell &cell = s.cell;
    const std::string_view value = trimmed(s.value);
    const std::string_view type = s.type;
    if (type == "s") {
        if (!s.hasValue)
            return;
        qint64 index = -1;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), index);
        if (ec != std::errc() || end != value.data() + value.size() || index < 0 || index >= m_sharedCount) {
            const QString ref = XlsxWorkbook::cellRef(cell.row, cell.col);
            const QString v = QString::fromUtf8(value.data(), qsizetype(value.size()));
            return fail(EngineError(
                QStringLiteral(
                    "%1 is damaged: its part %2 refers in cell %3 to shared text %4, but there are only %5")
                    .arg(m_what, m_part, ref, v)
                    .arg(m_sharedCount),
                QStringLiteral(
                    "文件 %1 已损坏：其组成部分 %2 的单元格 %3 引用了第 %4 个共享字符串，但总共只有 %5 个")
                    .arg(m_what, m_part, ref, v)
                    .arg(m_sharedCount)));
        }
        cell.kind = CellKind::Text;
        cell.text = qint32(index);
    } else if (type == "inlineStr" || type == "str") {
        if (!s.inlineText && !s.hasValue) {
            m_sheet.cells.push_back(cell);
            return;
        }
        cell.kind = CellKind::Text;
        // Readers take an inline string as it stands, "_x0041_" too.
        const std::string &t = s.inlineText ? s.text : s.value;
        m_sheet.texts.append(QString::fromUtf8(t.data(), qsizetype(t.size())));
        cell.text = -qint32(m_sheet.texts.size());
    } else if (!s.hasValue) {
        // Blank, or a formula never calculated.
    } else if (type == "b") {
        cell.kind = CellKind::Boolean;
        cell.number = value == "1" || value == "true" ? 1 : 0;
    } else if (type == "e") {
        cell.kind = CellKind::Error;
    } else if (type == "d") {
        const QString iso = QString::fromUtf8(value.data(), qsizetype(value.size()));
        QDateTime dt = QDateTime::fromString(iso, Qt::ISODateWithMs);
        if (!dt.isValid())
            dt = QDateTime(QDate::fromString(iso, Qt::ISODate), QTime(0, 0), Qt::UTC);
        if (dt.isValid()) {
            cell.kind = CellKind::Number;
            cell.number = sheetDateToSerial(dt, m_1904);
        } else {
            cell.kind = CellKind::Error;
        }
    } else {
        double d = 0;
        const char *from = value.data(), *to = value.data() + value.size();
        if (from != to && *from == '+')
            ++from;
        const auto [end, ec] = std::from_chars(from, to, d);
        cell.number = d;
        cell.kind = ec == std::errc() && end == to ? CellKind::Number : CellKind::Error;
    }
    m_sheet.cells.push_back(cell);
}

} // namespace lumora::engine
