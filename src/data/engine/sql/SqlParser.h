#pragma once

#include "data/engine/sql/SqlAst.h"
#include "data/engine/sql/SqlKeywords.h"
#include "data/engine/sql/SqlToken.h"

#include <QList>

namespace lumora::engine {

// Reads the statements the program sends into a syntax tree:
//
//   statement  := select | update [";"]
//   select     := SELECT [DISTINCT] ("*" | column {"," column}) FROM table [WHERE expr]
//   column     := expr [AS name]
//   update     := UPDATE table SET name "=" expr {"," name "=" expr} [WHERE expr]
//   expr       := and {OR and}
//   and        := not {AND not}
//   not        := NOT not | compare
//   compare    := concat [("=" | "<>" | "<" | "<=" | ">" | ">=") concat | IS [NOT] NULL]
//   concat     := unary {"&" unary}
//   unary      := ("-" | "+") unary | primary
//   primary    := literal | NULL | TRUE | FALSE | CHR "(" expr ")" | name | "(" expr ")"
//
// Keywords are read in any letter case; a name in brackets is never a
// keyword. Throws SqlError naming the unexpected token and its position.
class SqlParser
{
public:
    static SqlStatement parse(const QString &statement);

private:
    explicit SqlParser(QList<SqlToken> tokens)
        : m_tokens(std::move(tokens))
    {
    }

    SqlSelect parseSelect();
    SqlUpdate parseUpdate();
    SqlTableRef parseTable();
    QString parseName(const char *what, const char16_t *chinese);
    std::unique_ptr<SqlExpr> parseExpr();
    std::unique_ptr<SqlExpr> parseAnd();
    std::unique_ptr<SqlExpr> parseNot();
    std::unique_ptr<SqlExpr> parseCompare();
    std::unique_ptr<SqlExpr> parseConcat();
    std::unique_ptr<SqlExpr> parseUnary();
    std::unique_ptr<SqlExpr> parsePrimary();

    const SqlToken &peek() const { return m_tokens.at(m_pos); }
    bool atKeyword(SqlKeyword keyword) const;
    bool acceptKeyword(SqlKeyword keyword);
    void expectKeyword(SqlKeyword keyword);
    bool atSymbol(const char *symbol) const;
    bool acceptSymbol(const char *symbol);
    void expectSymbol(const char *symbol);
    // Throws SqlError at the current token: what was wanted, in English and
    // in Chinese.
    [[noreturn]] void unexpected(const QString &wanted, const QString &chinese) const;

    QList<SqlToken> m_tokens;
    qsizetype m_pos = 0;
    int m_depth = 0; // nesting of the expression being read
};

} // namespace lumora::engine
