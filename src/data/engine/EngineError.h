#pragma once

#include <QString>
#include <stdexcept>

namespace lumora::engine {

// The one error type of the table engine: a message a person can act on,
// naming the file, table or statement position concerned, and a code for
// the few failures a caller words in its own way.
class EngineError : public std::runtime_error
{
public:
    enum class Code {
        Other,
        Locked,  // another program holds a lock on the file; trying again later may work
    };

    explicit EngineError(const QString &message, Code code = Code::Other)
        : std::runtime_error(message.toStdString()), m_message(message), m_code(code) {}
    const QString &message() const { return m_message; }
    Code code() const { return m_code; }

private:
    QString m_message;
    Code m_code = Code::Other;
};

} // namespace lumora::engine
