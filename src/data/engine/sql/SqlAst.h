#pragma once

#include "data/engine/Value.h"

#include <QString>
#include <memory>
#include <variant>
#include <vector>

namespace lumora::engine {

// One node of an expression. Field references are resolved to the table's
// field positions once, before any record is read (SqlEvaluator::bind).
struct SqlExpr
{
    enum class Op {
        Literal, // value
        Field,   // name; field after binding
        Concat,  // args joined with "&"
        Chr,     // Chr(args[0])
        Negate,  // -args[0]
        Not,     // not args[0]
        And,     // args[0] and args[1]
        Or,      // args[0] or args[1]
        Compare, // args[0] cmp args[1]
        IsNull,  // args[0] is [not] null; negated for "is not"
    };
    enum class Cmp {
        Eq,
        Ne,
        Lt,
        Le,
        Gt,
        Ge
    };

    Op op = Op::Literal;
    Cmp cmp = Cmp::Eq;
    bool negated = false;
    Value value;
    QString name;
    int field = -1;
    int offset = 0;        // where the node starts in the statement, from 0
    bool constant = false; // value holds the result, computed when bound
    bool tab = false;      // isTabSeparator(), worked out when bound
    std::vector<std::unique_ptr<SqlExpr>> args;

    // True for the literal tab (Chr(9) or a one-tab text) that the grid's
    // loading statement puts between its fields.
    bool isTabSeparator() const;
};

struct SqlTableRef
{
    QString name; // without brackets
    int offset = 0;
};

struct SqlSelectColumn
{
    std::unique_ptr<SqlExpr> expr;
    QString alias; // empty when none was given
};

struct SqlSelect
{
    bool distinct = false;
    bool star = false; // "select *": columns is empty
    std::vector<SqlSelectColumn> columns;
    SqlTableRef table;
    std::unique_ptr<SqlExpr> where; // null when there is no where clause
};

struct SqlAssignment
{
    QString fieldName;
    int offset = 0;
    int field = -1; // after binding
    std::unique_ptr<SqlExpr> value;
};

struct SqlUpdate
{
    SqlTableRef table;
    std::vector<SqlAssignment> assignments;
    std::unique_ptr<SqlExpr> where;
};

using SqlStatement = std::variant<SqlSelect, SqlUpdate>;

} // namespace lumora::engine
