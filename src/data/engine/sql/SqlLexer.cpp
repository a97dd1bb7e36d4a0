#include "data/engine/sql/SqlLexer.h"

#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlKeywords.h"

#include <charconv>
#include <cmath>

namespace lumora::engine {

namespace {

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Reads an unsigned decimal integer of 1 to maxDigits digits at text[i].
std::optional<int> readDigits(QStringView text, qsizetype &i, int maxDigits)
{
    int value = 0;
    int n = 0;
    while (i < text.size() && isAsciiDigit(text[i]) && n < maxDigits) {
        value = value * 10 + (text[i].unicode() - '0');
        ++i;
        ++n;
    }
    if (n == 0 || (i < text.size() && isAsciiDigit(text[i])))
        return std::nullopt;
    return value;
}

bool expect(QStringView text, qsizetype &i, char c)
{
    if (i < text.size() && text[i] == QLatin1Char(c)) {
        ++i;
        return true;
    }
    return false;
}

// How many bytes the UTF-8 character at bytes[i] takes; 0 when none starts
// there: a stray continuation byte, a sequence cut short, an overlong
// form, a surrogate or a code point past U+10FFFF.
int utf8Length(QByteArrayView bytes, qsizetype i)
{
    const uchar lead = uchar(bytes[i]);
    if (lead < 0x80)
        return 1;
    int length = 0;
    char32_t code = 0, least = 0;
    if ((lead & 0xE0) == 0xC0)
        length = 2, code = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, code = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, code = lead & 0x07, least = 0x10000;
    else
        return 0;
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const uchar next = uchar(bytes[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString SqlLexer::decodeUtf8(QByteArrayView statement)
{
    for (qsizetype i = 0; i < statement.size();) {
        const int length = utf8Length(statement, i);
        if (length == 0)
            throw SqlError::format(
                int(QString::fromUtf8(statement.first(i)).size()),
                u"statements are read as UTF-8; byte %1 (0x%2) of this one is not part of any "
                u"UTF-8 character",
                u"语句须用 UTF-8 编码，而这条语句的第 %1 个字节（0x%2）不属于任何 UTF-8 字符", i + 1,
                hexByte(uchar(statement[i])));
        i += length;
    }
    return QString::fromUtf8(statement);
}

std::optional<QDateTime> SqlLexer::readDate(QStringView text)
{
    text = text.trimmed();
    qsizetype i = 0;
    std::optional<int> a = readDigits(text, i, 4);
    if (!a)
        return std::nullopt;
    int year = 0, month = 0, day = 0;
    if (expect(text, i, '-')) {
        const auto m = readDigits(text, i, 2);
        if (!m || !expect(text, i, '-'))
            return std::nullopt;
        const auto d = readDigits(text, i, 2);
        if (!d)
            return std::nullopt;
        year = *a, month = *m, day = *d;
    } else if (expect(text, i, '/')) {
        const auto d = readDigits(text, i, 2);
        if (!d || !expect(text, i, '/'))
            return std::nullopt;
        const qsizetype yearStart = i;
        const auto y = readDigits(text, i, 4);
        if (!y || i - yearStart != 4)
            return std::nullopt;
        month = *a, day = *d, year = *y;
    } else {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    if (!date.isValid() || year < 100)
        return std::nullopt;
    QTime time(0, 0);
    if (i < text.size()) {
        if (text[i] != QLatin1Char(' '))
            return std::nullopt;
        while (i < text.size() && text[i] == QLatin1Char(' '))
            ++i;
        const auto h = readDigits(text, i, 2);
        if (!h || !expect(text, i, ':'))
            return std::nullopt;
        const auto m = readDigits(text, i, 2);
        if (!m)
            return std::nullopt;
        int s = 0;
        if (expect(text, i, ':')) {
            const auto sec = readDigits(text, i, 2);
            if (!sec)
                return std::nullopt;
            s = *sec;
        }
        if (i != text.size() || !QTime::isValid(*h, *m, s))
            return std::nullopt;
        time = QTime(*h, *m, s);
    }
    return QDateTime(date, time, Qt::UTC);
}

std::optional<Value> SqlLexer::readNumber(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 400)
        return std::nullopt;
    QByteArray bytes = text.toLatin1();
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    if (*begin == '+')
        ++begin;
    // from_chars would stop early on "1e" or "1.5x"; check the whole shape
    // first so that such texts are refused rather than half read.
    const char *p = begin;
    if (p < end && *p == '-')
        ++p;
    bool digits = false, fraction = false, exponent = false;
    while (p < end && *p >= '0' && *p <= '9')
        ++p, digits = true;
    if (p < end && *p == '.') {
        ++p;
        fraction = true;
        while (p < end && *p >= '0' && *p <= '9')
            ++p, digits = true;
    }
    if (!digits)
        return std::nullopt;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        exponent = true;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (p == end || *p < '0' || *p > '9')
            return std::nullopt;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
    }
    if (p != end)
        return std::nullopt;
    if (!fraction && !exponent) {
        qint64 i = 0;
        const auto res = std::from_chars(begin, end, i);
        if (res.ec == std::errc() && res.ptr == end)
            return Value::integer(i);
    }
    double d = 0;
    const auto res = std::from_chars(begin, end, d);
    if (res.ptr != end || (res.ec != std::errc() && res.ec != std::errc::result_out_of_range))
        return std::nullopt;
    if (res.ec == std::errc::result_out_of_range || !std::isfinite(d))
        return std::nullopt;
    return Value::real(d);
}

QList<SqlToken> SqlLexer::tokenize(const QString &statement)
{
    QList<SqlToken> tokens;
    const qsizetype n = statement.size();
    qsizetype i = 0;
    while (true) {
        while (i < n && statement[i].isSpace())
            ++i;
        SqlToken token;
        token.offset = int(i);
        if (i >= n) {
            tokens.append(token);
            return tokens;
        }
        const QChar c = statement[i];
        const ushort u = c.unicode();
        if (isNameStart(c)) {
            qsizetype j = i;
            while (j < n && isNameChar(statement[j]))
                ++j;
            token.kind = SqlToken::Kind::Name;
            token.text = statement.mid(i, j - i);
            i = j;
        } else if (u == '[') {
            // A "]" inside the name is written twice: [a]]b] names a]b.
            QString text;
            qsizetype j = i + 1;
            while (true) {
                const qsizetype close = statement.indexOf(QLatin1Char(']'), j);
                if (close < 0)
                    throw SqlError(QStringLiteral("unterminated name in brackets"),
                                   QStringLiteral("方括号中的名称缺少“]”"), int(i));
                text += statement.mid(j, close - j);
                if (close + 1 < n && statement[close + 1] == QLatin1Char(']')) {
                    text += QLatin1Char(']');
                    j = close + 2;
                    continue;
                }
                j = close + 1;
                break;
            }
            token.kind = SqlToken::Kind::QuotedName;
            token.text = text;
            if (token.text.isEmpty())
                throw SqlError(QStringLiteral("empty name in brackets"), QStringLiteral("方括号中没有名称"),
                               int(i));
            i = j;
        } else if (u == '\'' || u == '"') {
            QString text;
            qsizetype j = i + 1;
            while (true) {
                if (j >= n)
                    throw SqlError(QStringLiteral("unterminated text literal"),
                                   QStringLiteral("文字缺少结尾的引号"), int(i));
                if (statement[j] == c) {
                    if (j + 1 < n && statement[j + 1] == c) {
                        text += c;
                        j += 2;
                        continue;
                    }
                    break;
                }
                text += statement[j];
                ++j;
            }
            token.kind = SqlToken::Kind::Literal;
            token.value = Value::text(text);
            token.text = statement.mid(i, j + 1 - i);
            i = j + 1;
        } else if (u == '#') {
            const qsizetype close = statement.indexOf(QLatin1Char('#'), i + 1);
            if (close < 0)
                throw SqlError(QStringLiteral("unterminated date literal"),
                               QStringLiteral("日期缺少结尾的“#”"), int(i));
            const QStringView inside = QStringView(statement).mid(i + 1, close - i - 1);
            const auto date = readDate(inside);
            if (!date)
                throw SqlError::format(int(i), u"\"%1\" is not a date", u"“%1”不是日期",
                                       EngineError::excerpt(inside));
            token.kind = SqlToken::Kind::Literal;
            token.value = Value::dateTime(*date);
            token.text = statement.mid(i, close + 1 - i);
            i = close + 1;
        } else if (isAsciiDigit(c) || (u == '.' && i + 1 < n && isAsciiDigit(statement[i + 1]))) {
            qsizetype j = i;
            while (j < n && isAsciiDigit(statement[j]))
                ++j;
            if (j < n && statement[j] == QLatin1Char('.')) {
                ++j;
                while (j < n && isAsciiDigit(statement[j]))
                    ++j;
            }
            if (j < n && (statement[j] == QLatin1Char('e') || statement[j] == QLatin1Char('E'))) {
                qsizetype k = j + 1;
                if (k < n && (statement[k] == QLatin1Char('+') || statement[k] == QLatin1Char('-')))
                    ++k;
                if (k < n && isAsciiDigit(statement[k])) {
                    while (k < n && isAsciiDigit(statement[k]))
                        ++k;
                    j = k;
                }
            }
            if (j < n && isNameChar(statement[j]))
                throw SqlError(QStringLiteral("malformed number"), QStringLiteral("数字的写法不对"), int(i));
            token.text = statement.mid(i, j - i);
            const auto number = readNumber(token.text);
            if (!number)
                throw SqlError(QStringLiteral("number out of range"), QStringLiteral("数字超出范围"), int(i));
            token.kind = SqlToken::Kind::Literal;
            token.value = *number;
            i = j;
        } else if (u == '<' || u == '>') {
            token.kind = SqlToken::Kind::Symbol;
            qsizetype len = 1;
            if (i + 1 < n &&
                (statement[i + 1] == QLatin1Char('=') || (u == '<' && statement[i + 1] == QLatin1Char('>'))))
                len = 2;
            token.text = statement.mid(i, len);
            i += len;
        } else if (QStringView(u"&=(),*-+;").contains(c)) {
            token.kind = SqlToken::Kind::Symbol;
            token.text = QString(c);
            ++i;
        } else {
            throw SqlError::format(int(i), u"unexpected character \"%1\"", u"不认识的字符“%1”", c);
        }
        tokens.append(token);
    }
}

} // namespace lumora::engine
