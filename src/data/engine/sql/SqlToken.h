#pragma once

#include "data/engine/Value.h"

#include <QString>

namespace lumora::engine {

// One token of a statement.
struct SqlToken
{
    enum class Kind {
        End,        // after the last token
        Name,       // a bare word: a keyword or a name
        QuotedName, // a name in brackets, never a keyword
        Literal,    // a text, number or #date# literal; see value
        Symbol,     // & = <> < > <= >= ( ) , * - + ;
    };
    Kind kind = Kind::End;
    QString text;   // the name, the symbol, or the literal as written
    Value value;    // Literal only
    int offset = 0; // of the first character, from 0
};

} // namespace lumora::engine
