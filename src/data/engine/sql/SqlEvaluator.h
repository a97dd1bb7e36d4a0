#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/sql/SqlAst.h"
#include "data/engine/sql/SqlError.h"

#include <optional>

namespace lumora::engine {

// Runs expressions against the records of one table.
//
// Comparison rules (used by =, <>, <, <=, >, >= and by "select distinct"):
// - a Null on either side gives Null, which no where clause accepts;
// - texts compare ignoring letter case, or exactly on tables that say so
//   (TableSource::textCase: dBase and FoxPro tables); a value's rendering
//   against a text (below) always ignores case;
// - numbers (integer, double, currency) compare by value, booleans count as
//   the old engine's -1 (True) and 0 (False); an integer against a double
//   compares exactly, never through a rounded double;
// - dates compare by value;
// - a text against a number is read as a number, a text against a date as
//   a date (the forms of #...# literals); when it cannot be read, and for
//   every other mix of kinds, the two values' texts (Value::toText) compare
//   ignoring case. So a value compares equal to the text it is shown as.
class SqlEvaluator
{
public:
    // Resolves every field name in the expression to a field position (the
    // first field of that name, ignoring case). Throws SqlError naming an
    // unknown field, and the table when `table` is given.
    static void bind(SqlExpr &expr, const QList<FieldInfo> &fields, const QString &table = QString());
    // The error for a field name `table` lacks, at `offset` in the statement.
    static SqlError unknownField(const QString &name, const QString &table, int offset);
    static int fieldIndex(const QList<FieldInfo> &fields, const QString &name);

    // The value of a bound expression for one record. Throws SqlError on a
    // value an operator cannot take (a text that is no number after "-",
    // a date in "and").
    static Value evaluate(const SqlExpr &expr, const TableSource &table, qsizetype record);

    // Like evaluate() for a Concat node, and also gives the text of each
    // operand that is not a tab separator (Null as the empty text).
    static Value evaluateJoin(const SqlExpr &expr, const TableSource &table, qsizetype record,
                              QStringList &parts);

    // The parts of evaluateJoin() without the joined value, appended to
    // `parts`; returns false when every operand is Null (the join is Null).
    static bool joinParts(const SqlExpr &expr, const TableSource &table, qsizetype record,
                          QStringList &parts);

    // Whether a where clause accepts the record: only a true boolean or a
    // non-zero number does; Null does not. Throws SqlError for a condition
    // that yields a text or a date.
    static bool holds(const SqlExpr &condition, const TableSource &table, qsizetype record);

    // -1, 0 or 1 by the rules above; nothing when either value is Null.
    static std::optional<int> compare(const Value &a, const Value &b,
                                      Qt::CaseSensitivity cs = Qt::CaseInsensitive);

    // The key under which "select distinct" takes two values as the same:
    // equal keys for values that compare equal with "=" within one column.
    static QString distinctKey(const Value &v, Qt::CaseSensitivity cs = Qt::CaseInsensitive);

    // The value converted to what the field holds: text for text and memo
    // fields, a number of the field's kind for numeric fields, a date for
    // date fields. Throws EngineError naming the field for a value that has
    // no such form (a text that is no number, a fraction for a whole-number
    // field, a text that is no date, a text holding Chr(0)).
    static Value convertForField(const Value &v, const FieldInfo &field);
};

} // namespace lumora::engine
