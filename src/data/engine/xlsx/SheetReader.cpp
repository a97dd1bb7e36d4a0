#include "data/engine/xlsx/SheetReader.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <expat.h>
#include <optional>
#include <string>
#include <utility>

namespace lumora::engine {

namespace {

constexpr qint64 kMaxRow = 1048575;
constexpr qint64 kMaxCol = 16383;

// An element's or attribute's name without its prefix ("x:c" -> "c").
std::string_view localName(std::string_view name)
{
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// An unprefixed attribute's value, or null.
const std::string_view *attr(const SheetReader::Attribute *atts, size_t n, std::string_view name)
{
    for (size_t i = 0; i < n; ++i)
        if (atts[i].name == name)
            return &atts[i].value;
    return nullptr;
}

QString text(std::string_view v)
{
    return QString::fromUtf8(v.data(), qsizetype(v.size()));
}

template <typename T> bool number(std::string_view v, T &out)
{
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    return ec == std::errc() && end == v.data() + v.size();
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
bool cellRef(std::string_view ref, qint64 &row, qint64 &col)
{
    const char *p = ref.data(), *end = ref.data() + ref.size();
    if (p < end && *p == '$')
        ++p;
    qint64 c = 0;
    const char *letters = p;
    for (; p < end && ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')); ++p)
        if ((c = c * 26 + ((*p | 0x20) - 'a' + 1)) > kMaxCol + 1)
            return false;
    if (p == letters)
        return false;
    if (p < end && *p == '$')
        ++p;
    qint64 r = 0;
    const char *digits = p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        if ((r = r * 10 + (*p - '0')) > kMaxRow + 1)
            return false;
    if (p == digits || p != end || r == 0)
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

SheetReader::SheetReader(SheetReader &&other) noexcept
    : m_what(std::move(other.m_what))
    , m_part(std::move(other.m_part))
    , m_sharedCount(other.m_sharedCount)
    , m_1904(other.m_1904)
    , m_sst(other.m_sst)
    , m_state(std::exchange(other.m_state, nullptr))
{
    XML_SetUserData(m_state->parser, this);
}

SheetReader SheetReader::sharedStrings(QString what, QString part)
{
    SheetReader r(std::move(what), std::move(part), 0, false);
    r.m_sst = true;
    return r;
}

SheetReader::~SheetReader()
{
    if (!m_state)
        return;
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

EngineError SheetReader::malformed(const QString &why) const
{
    return EngineError(
        QStringLiteral("%1 is damaged: its part %2 is no well-formed XML (%3)").arg(m_what, m_part, why),
        QStringLiteral("文件 %1 已损坏：其组成部分 %2 不是格式正确的 XML（%3）").arg(m_what, m_part, why));
}

void SheetReader::feedExpat(const char *data, qsizetype size, bool last)
{
    State &s = *m_state;
    while (size > 0 || last) {
        const int chunk = int(std::min<qsizetype>(size, 1 << 30));
        const bool final = last && chunk == size;
        if (XML_Parse(s.parser, data, chunk, final) != XML_STATUS_OK) {
            if (s.error)
                throw *s.error;
            throw malformed(QStringLiteral("line %1: %2")
                                .arg(qint64(XML_GetCurrentLineNumber(s.parser)))
                                .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(s.parser)))));
        }
        if (s.error)
            throw *s.error;
        data += chunk;
        size -= chunk;
        if (final)
            break;
    }
}

// Decodes a text or an attribute value: the five predefined entities and
// character references; line ends as XML reads them. False for any other
// "&" (an entity nothing declares).
static bool decodeXml(const char *from, const char *to, std::string &out, bool attribute)
{
    // Most values hold nothing to decode.
    const char *p = from;
    while (p < to && *p != '&' && *p != '\r' && (!attribute || (*p != '\n' && *p != '\t')))
        ++p;
    out.assign(from, size_t(p - from));
    for (; p < to; ++p) {
        const char c = *p;
        if (c == '\r') {
            out += attribute ? ' ' : '\n';
            if (p + 1 < to && p[1] == '\n')
                ++p;
            continue;
        }
        if (attribute && (c == '\n' || c == '\t')) {
            out += ' ';
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const char *semi = static_cast<const char *>(std::memchr(p, ';', size_t(to - p)));
        if (!semi)
            return false;
        const std::string_view name(p + 1, size_t(semi - p - 1));
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            quint32 code = 0;
            const char *digits = name.data() + (hex ? 2 : 1);
            const auto [end, ec] = std::from_chars(digits, name.data() + name.size(), code, hex ? 16 : 10);
            if (ec != std::errc() || end != name.data() + name.size() || digits == end || code == 0 ||
                code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
                (code < 0x20 && code != 9 && code != 10 && code != 13))
                return false;
            if (code < 0x80) {
                out += char(code);
            } else if (code < 0x800) {
                out += char(0xC0 | (code >> 6));
                out += char(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                out += char(0xE0 | (code >> 12));
                out += char(0x80 | ((code >> 6) & 0x3F));
                out += char(0x80 | (code & 0x3F));
            } else {
                out += char(0xF0 | (code >> 18));
                out += char(0x80 | ((code >> 12) & 0x3F));
                out += char(0x80 | ((code >> 6) & 0x3F));
                out += char(0x80 | (code & 0x3F));
            }
        } else {
            return false;
        }
        p = semi;
    }
    return true;
}

void SheetReader::feed(const char *data, qsizetype size, bool last)
{
    if (m_mode == Mode::Undecided) {
        m_pending.append(data, size_t(size));
        if (m_pending.size() < 512 && !last)
            return;
        // The part's own scanner reads UTF-8; a part in another encoding
        // (UTF-16, say) goes to expat.
        std::string_view head(m_pending);
        if (head.starts_with("\xEF\xBB\xBF"))
            head.remove_prefix(3);
        m_mode = Mode::Scan;
        if (head.size() >= 2 && (head[0] == '\0' || head[1] == '\0' || head.starts_with("\xFF\xFE") ||
                                 head.starts_with("\xFE\xFF")))
            m_mode = Mode::Expat;
        else if (head.starts_with("<?xml")) {
            const std::string_view decl = head.substr(0, head.find("?>"));
            const size_t at = decl.find("encoding");
            if (at != std::string_view::npos) {
                std::string encoding;
                for (size_t i = decl.find_first_of("\"'", at) + 1;
                     i < decl.size() && decl[i] != '"' && decl[i] != '\''; ++i)
                    encoding += char(std::tolower(uchar(decl[i])));
                if (encoding != "utf-8" && encoding != "utf8")
                    m_mode = Mode::Expat;
            }
        }
        std::string pending;
        pending.swap(m_pending);
        if (m_mode == Mode::Expat) {
            feedExpat(pending.data(), qsizetype(pending.size()), last);
        } else {
            m_pending = pending.substr(pending.size() - head.size());
            scan(last);
        }
    } else if (m_mode == Mode::Expat) {
        feedExpat(data, size, last);
    } else {
        m_pending.append(data, size_t(size));
        scan(last);
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

void SheetReader::scan(bool last)
{
    const std::string &b = m_pending;
    const size_t n = b.size();
    size_t p = 0;
    State &s = *m_state;
    std::string text;
    const auto incomplete = [&](const char *what) {
        if (last)
            throw malformed(QStringLiteral("the part ends inside %1").arg(QLatin1String(what)));
    };
    while (p < n && !s.error) {
        if (b[p] != '<') {
            size_t lt = b.find('<', p);
            if (lt == std::string::npos) {
                if (!last)
                    break;
                lt = n;
            }
            if (m_stack.empty()) {
                for (size_t i = p; i < lt; ++i)
                    if (b[i] != ' ' && b[i] != '\t' && b[i] != '\n' && b[i] != '\r')
                        throw malformed(QStringLiteral("text outside the root element"));
            } else if (s.into != State::Into::Nothing) {
                if (!decodeXml(b.data() + p, b.data() + lt, text, false))
                    throw malformed(QStringLiteral("an entity nothing declares"));
                onText(this, text.data(), int(text.size()));
            } else if (std::memchr(b.data() + p, '&', lt - p) &&
                       !decodeXml(b.data() + p, b.data() + lt, text, false)) {
                throw malformed(QStringLiteral("an entity nothing declares"));
            }
            p = lt;
            continue;
        }
        if (n - p < 9 && !last && (p + 1 >= n || b[p + 1] == '!')) {
            break; // too little to tell a comment, CDATA or DOCTYPE apart
        }
        if (p + 1 >= n) {
            incomplete("a tag");
            break;
        }
        const char c = b[p + 1];
        if (c == '?') {
            const size_t e = b.find("?>", p + 2);
            if (e == std::string::npos) {
                incomplete("a processing instruction");
                break;
            }
            p = e + 2;
            continue;
        }
        if (c == '!') {
            if (b.compare(p, 4, "<!--") == 0) {
                const size_t e = b.find("-->", p + 4);
                if (e == std::string::npos) {
                    incomplete("a comment");
                    break;
                }
                p = e + 3;
            } else if (b.compare(p, 9, "<![CDATA[") == 0) {
                const size_t e = b.find("]]>", p + 9);
                if (e == std::string::npos) {
                    incomplete("a CDATA section");
                    break;
                }
                if (m_stack.empty())
                    throw malformed(QStringLiteral("text outside the root element"));
                if (s.into != State::Into::Nothing)
                    onText(this, b.data() + p + 9, int(e - p - 9));
                p = e + 3;
            } else {
                onDoctype(this, nullptr, nullptr, nullptr, 0);
                break;
            }
            continue;
        }
        if (c == '/') {
            const size_t e = b.find('>', p);
            if (e == std::string::npos) {
                incomplete("an end tag");
                break;
            }
            size_t to = e;
            while (to > p + 2 &&
                   (b[to - 1] == ' ' || b[to - 1] == '\t' || b[to - 1] == '\n' || b[to - 1] == '\r'))
                --to;
            if (m_stack.empty() || b.compare(p + 2, to - p - 2, m_stack.back()) != 0)
                throw malformed(QStringLiteral("an end tag that closes no open element"));
            end(m_stack.back());
            m_stack.pop_back();
            m_done = m_stack.empty();
            p = e + 1;
            continue;
        }
        // A start tag: its name, its attributes, ">" or "/>".
        if (m_done)
            throw malformed(QStringLiteral("a second root element"));
        size_t q = p + 1;
        const auto space = [&](char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; };
        while (q < n && !space(b[q]) && b[q] != '/' && b[q] != '>')
            ++q;
        if (q >= n) {
            incomplete("a start tag");
            break;
        }
        const size_t q0 = q;
        const std::string_view name(b.data() + p + 1, q - p - 1);
        if (name.empty() || name.find_first_of("<&\"'=") != std::string_view::npos)
            throw malformed(QStringLiteral("a tag without a proper name"));
        size_t count = 0;
        bool closed = false, selfClosing = false, cut = false;
        while (true) {
            while (q < n && space(b[q]))
                ++q;
            if (q >= n) {
                cut = true;
                break;
            }
            if (b[q] == '>') {
                closed = true;
                ++q;
                break;
            }
            if (b[q] == '/') {
                if (q + 1 >= n) {
                    cut = true;
                    break;
                }
                if (b[q + 1] != '>')
                    throw malformed(QStringLiteral("a stray \"/\" in a tag"));
                closed = selfClosing = true;
                q += 2;
                break;
            }
            const size_t nameAt = q;
            while (q < n && !space(b[q]) && b[q] != '=' && b[q] != '>' && b[q] != '/')
                ++q;
            const size_t nameEnd = q;
            while (q < n && space(b[q]))
                ++q;
            if (q >= n) {
                cut = true;
                break;
            }
            if (b[q] != '=' || nameEnd == nameAt)
                throw malformed(QStringLiteral("an attribute without a value"));
            ++q;
            while (q < n && space(b[q]))
                ++q;
            if (q >= n) {
                cut = true;
                break;
            }
            const char quote = b[q];
            if (quote != '"' && quote != '\'')
                throw malformed(QStringLiteral("an attribute value without quotes"));
            const size_t close = b.find(quote, q + 1);
            if (close == std::string::npos) {
                cut = true;
                break;
            }
            if (std::memchr(b.data() + q + 1, '<', close - q - 1))
                throw malformed(QStringLiteral("a \"<\" in an attribute value"));
            // A value with nothing to decode is handed out where it lies.
            const char *from = b.data() + q + 1, *to = b.data() + close;
            std::string_view value(from, size_t(to - from));
            if (std::find_if(from, to, [](char ch) {
                    return ch == '&' || ch == '\r' || ch == '\n' || ch == '\t';
                }) != to) {
                if (m_decoded.size() <= count)
                    m_decoded.resize(count + 1);
                if (!decodeXml(from, to, m_decoded[count], true))
                    throw malformed(QStringLiteral("an entity nothing declares"));
                value = m_decoded[count];
            }
            if (m_views.size() <= count)
                m_views.resize(count + 1);
            m_views[count] = {std::string_view(b.data() + nameAt, nameEnd - nameAt), value};
            ++count;
            q = close + 1;
        }
        if (cut || !closed) {
            incomplete("a start tag");
            break;
        }
        const std::string_view tag(b.data() + p + 1, q0 - p - 1);
        start(tag, m_views.data(), count);
        if (selfClosing)
            end(tag);
        else
            m_stack.emplace_back(tag);
        if (m_stack.empty())
            m_done = true;
        p = q;
    }
    if (s.error)
        throw *s.error;
    m_pending.erase(0, p);
    if (last && (!m_stack.empty() || !m_done))
        throw malformed(m_done ? QStringLiteral("the part ends inside an element")
                               : QStringLiteral("the part holds no element"));
}

void SheetReader::onStart(void *self, const char *name, const char **atts)
{
    auto *r = static_cast<SheetReader *>(self);
    r->m_views.clear();
    for (const char **a = atts; *a; a += 2)
        r->m_views.push_back({a[0], a[1]});
    r->start(name, r->m_views.data(), r->m_views.size());
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

void SheetReader::start(std::string_view name, const Attribute *atts, size_t n)
{
    State &s = *m_state;
    ++s.depth;
    const std::string_view local = localName(name);
    if (m_sst) {
        // <sst><si> text, or runs <r><t>, and phonetic runs <rPh><t> </si>
        if (local == "si" && s.depth == 2) {
            s.inlineDepth = s.depth;
            s.text.clear();
        } else if (s.inlineDepth >= 0 && local == "rPh") {
            ++s.phonetic;
        } else if (s.inlineDepth >= 0 && local == "t" && s.phonetic == 0) {
            s.into = State::Into::Text;
        }
        return;
    }
    const auto bad = [&](const QString &why, const QString &chinese) {
        fail(EngineError(QStringLiteral("%1 is damaged: its part %2 %3").arg(m_what, m_part, why),
                         QStringLiteral("文件 %1 已损坏：其组成部分 %2 %3").arg(m_what, m_part, chinese)));
    };
    if (s.cellDepth >= 0) {
        // Inside a cell: its value, formula or inline string.
        if (s.inlineDepth >= 0) {
            if (local == "rPh")
                ++s.phonetic;
            else if (local == "t" && s.phonetic == 0)
                s.into = State::Into::Text;
        } else if (s.depth == s.cellDepth + 1) {
            if (local == "v") {
                s.into = State::Into::Value;
                s.value.clear();
            } else if (local == "f") {
                s.cell.flags |= XlsxCell::Formula;
                const std::string_view *ft = attr(atts, n, "t");
                const std::string_view *ref = attr(atts, n, "ref");
                if (ft && ref && (*ft == "array" || *ft == "dataTable")) {
                    const size_t colon = ref->find(':');
                    const std::string_view first = ref->substr(0, colon);
                    const std::string_view last =
                        colon == std::string_view::npos ? *ref : ref->substr(colon + 1);
                    qint64 r1, c1, r2, c2;
                    if (cellRef(first, r1, c1) && cellRef(last, r2, c2) && r1 <= r2 && c1 <= c2)
                        m_sheet.arrays.push_back({quint32(r1), quint32(r2), quint16(c1), quint16(c2)});
                }
            } else if (local == "is") {
                s.inlineDepth = s.depth;
                s.inlineText = true;
                s.text.clear();
            }
        }
        return;
    }
    if (s.sheetData >= 0 && s.depth == s.sheetData + 1 && local == "row") {
        if (const std::string_view *r = attr(atts, n, "r")) {
            qint64 number = 0;
            if (!lumora::engine::number(*r, number) || number < 1 || number > kMaxRow + 1)
                return bad(QStringLiteral("has a row numbered \"%1\"").arg(text(*r)),
                           QStringLiteral("有一行的行号是“%1”").arg(text(*r)));
            s.row = number - 1;
        } else {
            ++s.row;
        }
        if (s.row > kMaxRow)
            return bad(QStringLiteral("has more rows than a sheet holds"),
                       QStringLiteral("的行数超过工作表的上限"));
        s.col = -1;
    } else if (s.sheetData >= 0 && s.depth == s.sheetData + 2 && local == "c") {
        s.cell = XlsxCell();
        s.type.clear();
        s.hasValue = s.inlineText = false;
        s.cellDepth = s.depth;
        for (size_t i = 0; i < n; ++i) {
            const Attribute &a = atts[i];
            if (a.name == "r") {
                qint64 r, c;
                if (!cellRef(a.value, r, c))
                    return bad(QStringLiteral("has a cell addressed \"%1\"").arg(text(a.value)),
                               QStringLiteral("有一个单元格的地址是“%1”").arg(text(a.value)));
                s.row = r;
                s.col = c - 1; // counted up below
            } else if (a.name == "s") {
                quint32 style = 0;
                std::from_chars(a.value.data(), a.value.data() + a.value.size(), style);
                s.cell.style = style;
            } else if (a.name == "t") {
                s.type.assign(a.value);
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
    } else if (s.sheetData == -1 && local == "sheetData") {
        s.sheetData = s.depth;
    } else if (local == "col") {
        const std::string_view *min = attr(atts, n, "min"), *max = attr(atts, n, "max"),
                               *style = attr(atts, n, "style");
        int first = 0, last = 0;
        quint32 index = 0;
        if (min && max && style && number(*min, first) && number(*max, last) && number(*style, index) &&
            first >= 1 && last >= first)
            m_sheet.columns.push_back({quint16(std::min<int>(first - 1, kMaxCol)),
                                       quint16(std::min<int>(last - 1, kMaxCol)), index});
    } else if (local == "tablePart") {
        for (size_t i = 0; i < n; ++i)
            if (atts[i].name.find(':') != std::string_view::npos && localName(atts[i].name) == "id")
                m_tableIds.append(text(atts[i].value));
    }
}

void SheetReader::end(std::string_view name)
{
    State &s = *m_state;
    const std::string_view local = localName(name);
    if (m_sst) {
        if (s.inlineDepth >= 0 && s.depth == s.inlineDepth) {
            m_strings.append(QString::fromUtf8(s.text.data(), qsizetype(s.text.size())));
            s.inlineDepth = -1;
        } else if (local == "rPh") {
            --s.phonetic;
        }
        s.into = State::Into::Nothing;
        --s.depth;
        return;
    }
    if (s.cellDepth >= 0) {
        if (s.depth == s.cellDepth) {
            finishCell();
            s.cellDepth = -1;
        } else if (s.inlineDepth >= 0) {
            if (s.depth == s.inlineDepth)
                s.inlineDepth = -1;
            else if (local == "rPh")
                --s.phonetic;
            s.into = State::Into::Nothing;
        } else if (s.depth == s.cellDepth + 1 && local == "v") {
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
