#pragma once

#include <QString>
#include <stdexcept>

namespace lumora::engine {

// The one error type of the table engine: a message a person can act on,
// naming the file, table or statement position concerned.
class EngineError : public std::runtime_error
{
public:
    explicit EngineError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

} // namespace lumora::engine
