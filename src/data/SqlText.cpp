#include "data/SqlText.h"

#include "data/engine/EngineError.h"
#include "data/engine/Value.h"
#include "data/engine/sql/SqlKeywords.h"

#include <QDateTime>

using namespace lumora::engine;

namespace SqlText {

QString quoted(const QString &value)
{
    // Built in one piece: a check quotes the keys of every row of a roster.
    QString text;
    text.reserve(value.size() + 2 + value.count(QLatin1Char('\'')));
    text += QLatin1Char('\'');
    for (QChar c : value) {
        text += c;
        if (c == QLatin1Char('\''))
            text += c;
    }
    text += QLatin1Char('\'');
    return text;
}

bool isPlainName(const QString &name)
{
    return isBareName(name);
}

QString columnName(const QString &name)
{
    if (isPlainName(name))
        return name;
    if (name.isEmpty() || name.contains(QLatin1Char(']')) || name.contains(QLatin1Char('\n')) ||
        name.contains(QLatin1Char('\r')))
        return {};
    return QLatin1Char('[') + name + QLatin1Char(']');
}

// [+-] digits [. digits] [e [+-] digits], at least one digit before the
// exponent: what the engine reads as a number literal.
static bool isNumberText(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
            ++i;
        return i - from;
    };
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype mantissa = digits();
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

static bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

std::optional<QString> literal(qint16 type, const QString &value, QString *why)
{
    switch (type) {
    case DaoText:
    case DaoMemo: return quoted(value);
    case DaoByte:
    case DaoInteger:
    case DaoLong:
    case DaoCurrency:
    case DaoSingle:
    case DaoDouble:
    case DaoDecimal: {
        const QString number = value.trimmed();
        if (!isNumberText(number)) {
            fail(why, QStringLiteral("“%1”不是数字").arg(EngineError::excerpt(value)));
            return std::nullopt;
        }
        return number;
    }
    case DaoDate: {
        const QString text = value.trimmed();
        const QDateTime withTime = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (withTime.isValid())
            return QLatin1Char('#') + withTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                   QLatin1Char('#');
        const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (date.isValid())
            return QLatin1Char('#') + date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('#');
        fail(why, QStringLiteral("“%1”不是日期").arg(EngineError::excerpt(value)));
        return std::nullopt;
    }
    case DaoBoolean: {
        const QString text = value.trimmed();
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("True");
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("False");
        fail(why, QStringLiteral("“%1”不是是/否值").arg(EngineError::excerpt(value)));
        return std::nullopt;
    }
    default: fail(why, QStringLiteral("此类型的列（%1）不能比较").arg(type)); return std::nullopt;
    }
}

// Whether literal() makes values of the type.
static bool hasLiterals(qint16 type)
{
    switch (type) {
    case DaoText:
    case DaoMemo:
    case DaoByte:
    case DaoInteger:
    case DaoLong:
    case DaoCurrency:
    case DaoSingle:
    case DaoDouble:
    case DaoDecimal:
    case DaoDate:
    case DaoBoolean: return true;
    default: return false;
    }
}

std::optional<QString> equals(const QString &column, qint16 type, const QString &value, QString *why)
{
    // A number, date or yes/no that is Null shows as an empty cell too.
    if (value.isEmpty() && type != DaoText && type != DaoMemo && hasLiterals(type))
        return QLatin1Char('(') + column + QStringLiteral(" is null)");
    const std::optional<QString> text = literal(type, value, why);
    if (!text)
        return std::nullopt;
    if (value.isEmpty() && (type == DaoText || type == DaoMemo))
        return QLatin1Char('(') + column + QStringLiteral("='' or ") + column + QStringLiteral(" is null)");
    return column + QLatin1Char('=') + *text;
}

} // namespace SqlText
