#include "data/engine/sql/SqlKeywords.h"

#include <iterator>

namespace lumora::engine {

namespace {

// In the order of SqlKeyword.
const char *const grammarWords[] = {"select", "distinct", "from", "where", "as",   "update", "set",
                                    "and",    "or",       "not",  "is",    "null", "true",   "false"};
static_assert(std::size(grammarWords) == size_t(SqlKeyword::False) + 1);

// Words of Jet SQL the grammar does not read yet; bracketing them now keeps
// statements written today readable when it does.
const char *const reservedWords[] = {"all",   "asc",    "between", "by",  "delete", "desc",   "eqv",
                                     "group", "having", "imp",     "in",  "inner",  "insert", "into",
                                     "join",  "left",   "like",    "mod", "on",     "order",  "right",
                                     "top",   "union",  "values",  "xor"};

bool isReservedWord(QStringView word)
{
    for (const char *w : reservedWords)
        if (word.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

QLatin1String spelling(SqlKeyword keyword)
{
    return QLatin1String(grammarWords[size_t(keyword)]);
}

std::optional<SqlKeyword> grammarKeyword(QStringView word)
{
    for (size_t k = 0; k < std::size(grammarWords); ++k)
        if (word.compare(QLatin1String(grammarWords[k]), Qt::CaseInsensitive) == 0)
            return SqlKeyword(k);
    return std::nullopt;
}

bool isKeyword(QStringView word)
{
    return grammarKeyword(word) || isReservedWord(word);
}

QStringList keywords()
{
    QStringList all;
    for (const char *w : grammarWords)
        all.append(QString::fromLatin1(w).toUpper());
    for (const char *w : reservedWords)
        all.append(QString::fromLatin1(w).toUpper());
    return all;
}

bool isNameChar(QChar c)
{
    return c.unicode() >= 0x80 || c.isLetterOrNumber() || c == QLatin1Char('_');
}

bool isNameStart(QChar c)
{
    return isNameChar(c) && !(c.unicode() < 0x80 && c.isDigit());
}

bool isBareName(QStringView name)
{
    // Stricter than isNameChar: a character beyond ASCII that is no letter
    // or digit (a full-width space, a symbol) reads as part of a bare word,
    // but a person reading the statement would not see one name.
    if (name.isEmpty())
        return false;
    const QChar first = name.front();
    if (!(first.isLetter() || first == QLatin1Char('_')))
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_')))
            return false;
    return !isKeyword(name);
}

bool startsWithKeyword(QStringView text, SqlKeyword keyword)
{
    text = text.trimmed();
    const QLatin1String word = spelling(keyword);
    if (!text.startsWith(word, Qt::CaseInsensitive))
        return false;
    return text.size() == word.size() || !isNameChar(text[word.size()]);
}

} // namespace lumora::engine
