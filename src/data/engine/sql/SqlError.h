#pragma once

#include "data/engine/EngineError.h"

namespace lumora::engine {

// A statement the engine cannot read or run. The message ends with the
// place of the fault as "at character N", N counting the statement's
// characters from 1 (UTF-16 units, as QString indexes them: a character
// outside the Basic Multilingual Plane counts twice); position() returns N.
class SqlError : public EngineError
{
public:
    SqlError(const QString &what, int offset)
        : EngineError(QStringLiteral("%1 at character %2").arg(what).arg(offset + 1)), m_position(offset + 1)
    {
    }
    int position() const { return m_position; }

private:
    int m_position;
};

} // namespace lumora::engine
