#pragma once

#include "data/engine/sql/SqlToken.h"

#include <QDateTime>
#include <QList>
#include <optional>

namespace lumora::engine {

// Splits a statement into tokens. Names are runs of letters, digits,
// underscores and any non-ASCII characters, or anything but "]" inside
// brackets. Texts stand in apostrophes or double quotes, the quote doubled
// inside; dates between "#" signs; numbers are decimal with an optional
// fraction and exponent (a minus sign is a token of its own).
class SqlLexer
{
public:
    // Throws SqlError on an unterminated literal or name, a date that is no
    // date, or a character that starts no token.
    static QList<SqlToken> tokenize(const QString &statement);

    // A statement given as bytes (a command line, a file) as text. Bytes
    // that are not UTF-8 are refused with SqlError at the character where
    // they stand, never read as U+FFFD and written as such.
    static QString decodeUtf8(QByteArrayView statement);

    // The date forms the engine reads, in literals and in texts compared
    // with or stored into dates: m/d/yyyy (month first, as the old engine
    // read them whatever the locale) and yyyy-m-d, each optionally followed
    // by a time h:mm or h:mm:ss. Surrounding blanks are ignored.
    static std::optional<QDateTime> readDate(QStringView text);

    // A number written in full: optional sign, digits with an optional
    // fraction, optional exponent; surrounding blanks ignored. Whole numbers
    // that fit come back as Integer, the rest as Double (read exactly).
    static std::optional<Value> readNumber(QStringView text);
};

} // namespace lumora::engine
