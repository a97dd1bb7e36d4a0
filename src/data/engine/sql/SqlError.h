#pragma once

#include "data/engine/EngineError.h"

namespace lumora::engine {

// A statement the engine cannot read or run. The message ends with the
// place of the fault as "at character N", N counting the statement's
// characters from 1 (UTF-16 units, as QString indexes them: a character
// outside the Basic Multilingual Plane counts twice); position() returns N.
// The Chinese text starts with the same place: "语句第 N 个字符处：...".
class SqlError : public EngineError
{
public:
    SqlError(const QString &what, const QString &chinese, int offset)
        : EngineError(QStringLiteral("%1 at character %2").arg(what, QString::number(offset + 1)),
                      QStringLiteral("语句第 %1 个字符处：%2").arg(QString::number(offset + 1), chinese))
        , m_position(offset + 1)
    {
    }
    // Both texts from templates taking the same facts, as EngineError::format.
    template <typename... Facts>
    static SqlError format(int offset, QStringView what, QStringView chinese, const Facts &...facts)
    {
        return SqlError(fill(what, facts...), fill(chinese, facts...), offset);
    }
    int position() const { return m_position; }

private:
    int m_position;
};

} // namespace lumora::engine
