#pragma once

#include <QLatin1String>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace lumora::engine {

// What a bare word of a statement is, in one place for the lexer, the
// parser, Database's test for a select and the code that writes names into
// statements, so that a name written bare is always read back as that name.

// The words the parser reads as keywords, in any letter case. A bare word
// that is one of them never names a field or a table.
enum class SqlKeyword {
    Select,
    Distinct,
    From,
    Where,
    As,
    Update,
    Set,
    And,
    Or,
    Not,
    Is,
    Null,
    True,
    False,
};

// The keyword as the grammar writes it, in lower case: "select".
QLatin1String spelling(SqlKeyword keyword);

// The keyword the parser reads in a bare word, in any letter case; nothing
// for a word that is none ("order" included: the grammar does not use it,
// so a field named Order still reads bare).
std::optional<SqlKeyword> grammarKeyword(QStringView word);

// Whether the word, in any letter case, is a keyword: one of SqlKeyword or
// a word of the fuller Jet SQL that statements may come to use ("order",
// "join", "top" ...). Such a name is written in brackets.
bool isKeyword(QStringView word);

// Every word isKeyword() accepts, in upper case.
QStringList keywords();

// Whether the character continues a bare word (a letter, a digit, "_" or
// any character beyond ASCII), and whether it may start one (not an ASCII
// digit). "[" starts a name in brackets instead.
bool isNameChar(QChar c);
bool isNameStart(QChar c);

// Whether the name may stand bare in a statement: letters, digits and "_",
// starting with a letter or "_", and no keyword. "学号" and "XM_1" are
// bare names; "Where", "1st" and "a b" must be written in brackets.
bool isBareName(QStringView name);

// Whether the text, blanks aside, starts with the keyword as a whole word:
// "select*from t" does, "selection" does not.
bool startsWithKeyword(QStringView text, SqlKeyword keyword);

} // namespace lumora::engine
