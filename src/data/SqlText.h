#pragma once

#include <QString>
#include <optional>

// Pieces of the statements the data-table handlers send to the engine:
// column names and literal values, made safe to splice into statement text.
namespace SqlText {

// A text literal: the value between apostrophes, every apostrophe inside
// doubled, so O'Brien becomes 'O''Brien'.
QString quoted(const QString &value);

// A column name as it stands in a statement: bare when it is a plain name
// (letters, digits and "_", not starting with a digit, not a keyword), so
// ordinary names read as before; otherwise in brackets. Empty when the name
// cannot be written at all (empty, or holding "]" or a line break).
QString columnName(const QString &name);

// Whether the engine reads the text as a plain name without brackets.
bool isPlainName(const QString &name);

// The literal that compares with, or is stored into, a field of the given
// type code, built from the text the grid shows for such a value:
//   text (10) and memo (12): quoted as above;
//   double (7), byte (2), integer (3), long (4), currency (5), single (6),
//   decimal (20): the number, which must be a plain decimal number;
//   date (8): #yyyy-MM-dd# or #yyyy-MM-dd hh:mm:ss#, from either grid form;
//   boolean (1): True or False.
// Returns nothing (and the reason in *why) for a value that is not of the
// type, and for any other type.
std::optional<QString> literal(qint16 type, const QString &value, QString *why = nullptr);

// The condition that a column (as it stands in a statement, see columnName)
// holds the value the grid shows: column + "=" + literal. An empty text of
// a text or memo column also takes a Null, which the grid shows as the same
// empty cell: "(XM='' or XM is null)"; for a number, date or yes/no column
// the empty text is its Null alone: "(CJ is null)". Refused as literal()
// refuses.
std::optional<QString> equals(const QString &column, qint16 type, const QString &value,
                              QString *why = nullptr);

} // namespace SqlText
