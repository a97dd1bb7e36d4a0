#include "data/engine/csv/CsvCell.h"

#include <QByteArray>
#include <cmath>
#include <optional>

namespace lumora::engine {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isCurrencySign(QChar c)
{
    switch (c.unicode()) {
    case u'¥':
    case u'￥':
    case u'$':
    case u'€':
    case u'£': return true;
    default: return false;
    }
}

// Reads `min` to `max` ASCII digits at `at`; -1 when there are fewer.
int readDigits(QStringView s, qsizetype &at, int min, int max)
{
    int value = 0, n = 0;
    while (at < s.size() && n < max && isAsciiDigit(s[at])) {
        value = value * 10 + (s[at].unicode() - '0');
        ++at;
        ++n;
    }
    return n >= min ? value : -1;
}

bool take(QStringView s, qsizetype &at, QChar c)
{
    if (at < s.size() && s[at] == c) {
        ++at;
        return true;
    }
    return false;
}

// "2009-04-19", "2009/4/19", either with " 8:30" or " 08:30:15" after it,
// or "2009年4月19日"; from 1900 on, as a spreadsheet holds dates.
std::optional<QDateTime> readDate(QStringView s)
{
    qsizetype at = 0;
    const int year = readDigits(s, at, 4, 4);
    if (year < 1900)
        return std::nullopt;
    int month = -1, day = -1;
    QTime time(0, 0);
    if (take(s, at, QChar(u'年'))) {
        month = readDigits(s, at, 1, 2);
        if (month < 0 || !take(s, at, QChar(u'月')))
            return std::nullopt;
        day = readDigits(s, at, 1, 2);
        if (day < 0 || !take(s, at, QChar(u'日')))
            return std::nullopt;
    } else {
        if (at >= s.size() || (s[at] != QLatin1Char('-') && s[at] != QLatin1Char('/')))
            return std::nullopt;
        const QChar separator = s[at++];
        month = readDigits(s, at, 1, 2);
        if (month < 0 || !take(s, at, separator))
            return std::nullopt;
        day = readDigits(s, at, 1, 2);
        if (day < 0)
            return std::nullopt;
        if (take(s, at, QLatin1Char(' ')) || take(s, at, QLatin1Char('T'))) {
            const int hour = readDigits(s, at, 1, 2);
            if (hour < 0 || !take(s, at, QLatin1Char(':')))
                return std::nullopt;
            const int minute = readDigits(s, at, 2, 2);
            int second = 0;
            if (minute < 0 || (take(s, at, QLatin1Char(':')) && (second = readDigits(s, at, 2, 2)) < 0))
                return std::nullopt;
            time = QTime(hour, minute, second);
            if (!time.isValid())
                return std::nullopt;
        }
    }
    const QDate date(year, month, day);
    if (at != s.size() || !date.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

// A plain decimal number: digits (in groups of three between commas, or
// not), a fraction, an exponent. Nothing for an identifier (see CsvCell).
std::optional<double> readNumber(QStringView s)
{
    QByteArray plain;
    plain.reserve(s.size());
    qsizetype at = 0;
    int intDigits = 0, groupDigits = 0;
    bool grouped = false, leadingZero = false;
    for (; at < s.size(); ++at) {
        const QChar c = s[at];
        if (isAsciiDigit(c)) {
            if (intDigits == 0 && c == QLatin1Char('0'))
                leadingZero = true;
            ++intDigits;
            ++groupDigits;
            plain += char(c.unicode());
        } else if (c == QLatin1Char(',')) {
            if (groupDigits == 0 || groupDigits > 3 || (grouped && groupDigits != 3))
                return std::nullopt;
            grouped = true;
            groupDigits = 0;
        } else {
            break;
        }
    }
    if (grouped && groupDigits != 3)
        return std::nullopt;
    int fractionDigits = 0;
    const bool hasPoint = take(s, at, QLatin1Char('.'));
    if (hasPoint) {
        plain += '.';
        for (; at < s.size() && isAsciiDigit(s[at]); ++at, ++fractionDigits)
            plain += char(s[at].unicode());
    }
    if (intDigits + fractionDigits == 0)
        return std::nullopt;
    bool exponent = false;
    if (at < s.size() && (s[at] == QLatin1Char('e') || s[at] == QLatin1Char('E'))) {
        exponent = true;
        plain += 'e';
        ++at;
        if (at < s.size() && (s[at] == QLatin1Char('+') || s[at] == QLatin1Char('-')))
            plain += char(s[at++].unicode());
        if (at >= s.size() || !isAsciiDigit(s[at]))
            return std::nullopt;
        for (; at < s.size() && isAsciiDigit(s[at]); ++at)
            plain += char(s[at].unicode());
    }
    if (at != s.size())
        return std::nullopt;
    // Identifiers: a leading zero before another digit, or a whole number
    // longer than a double holds exactly.
    if (leadingZero && intDigits > 1)
        return std::nullopt;
    if (!hasPoint && !exponent && intDigits > CsvCell::kMostDigits)
        return std::nullopt;
    bool ok = false;
    const double value = plain.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

CsvCell CsvCell::guess(QStringView text)
{
    const QStringView t = text.trimmed();
    CsvCell cell;
    if (t.isEmpty())
        return cell;
    cell.kind = Kind::Text;
    if (t.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        cell.kind = Kind::Boolean;
        cell.number = t.size() == 4 ? 1 : 0;
        return cell;
    }
    const QChar first = t.front();
    if (!isAsciiDigit(first) && !isCurrencySign(first) && first != QLatin1Char('+') &&
        first != QLatin1Char('-') && first != QLatin1Char('.'))
        return cell; // most texts: a name, a class
    if (isAsciiDigit(first))
        if (const std::optional<QDateTime> date = readDate(t)) {
            cell.kind = Kind::Date;
            cell.date = *date;
            return cell;
        }
    QStringView rest = t;
    const bool negative = rest.front() == QLatin1Char('-');
    if (negative || rest.front() == QLatin1Char('+'))
        rest = rest.sliced(1);
    bool currency = false, percent = false;
    if (!rest.isEmpty() && isCurrencySign(rest.front())) {
        currency = true;
        rest = rest.sliced(1).trimmed();
    } else if (rest.endsWith(QLatin1Char('%'))) {
        percent = true;
        rest.chop(1);
    }
    if (rest.isEmpty() || rest.front() == QLatin1Char('+') || rest.front() == QLatin1Char('-'))
        return cell;
    const std::optional<double> number = readNumber(rest);
    if (!number)
        return cell;
    cell.kind = currency ? Kind::Currency : Kind::Number;
    cell.number = (negative ? -*number : *number) / (percent ? 100.0 : 1.0);
    return cell;
}

} // namespace lumora::engine
