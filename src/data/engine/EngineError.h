#pragma once

#include <QString>
#include <algorithm>
#include <concepts>
#include <stdexcept>

namespace lumora::engine {

// The one error type of the table engine: a message a person can act on,
// naming the file, table or statement position concerned, and a code for
// the few failures a caller words in its own way. Each error carries the
// same facts twice: message() in English for lumora-sql and logs, chinese()
// for the window, whose operators read Chinese:
//
//     throw EngineError::format(u"Field %1 is %2 bytes wide", u"字段 %1 只有 %2 个字节宽", f.name, f.length);
class EngineError : public std::runtime_error
{
public:
    enum class Code {
        Other,
        Locked,  // another program holds a lock on the file; trying again later may work
        Changed, // the file is no longer what was read, and nothing was written; read it again
    };

    EngineError(const QString &message, const QString &chinese, Code code = Code::Other)
        : std::runtime_error(message.toStdString())
        , m_message(message)
        , m_chinese(chinese)
        , m_code(code)
    {
    }
    // An error with no Chinese wording (from code outside the engine).
    explicit EngineError(const QString &message, Code code = Code::Other)
        : EngineError(message, QString(), code)
    {
    }

    // Both texts from templates whose %1, %2 ... take the same facts, in
    // one pass: a fact that itself holds "%1" stays as it is.
    template <typename... Facts>
    static EngineError format(QStringView english, QStringView chinese, const Facts &...facts)
    {
        return EngineError(fill(english, facts...), fill(chinese, facts...));
    }

    const QString &message() const { return m_message; }
    // Empty when the thrower gave no Chinese text.
    const QString &chinese() const { return m_chinese; }
    Code code() const { return m_code; }

    // A fact as it appears in both texts.
    static QString factText(const QString &s) { return s; }
    static QString factText(QStringView s) { return s.toString(); }
    static QString factText(QChar c) { return QString(c); }
    static QString factText(std::integral auto n) { return QString::number(n); }

    // A value as a refusal quotes it: the first kExcerptLength characters,
    // then "…" when there are more, so that a long text cannot bury the
    // reason; and each control character as its visible symbol (Chr(0) as
    // ␀, a line feed as ␊), so that none can cut or break the message.
    static constexpr qsizetype kExcerptLength = 40;
    static QString excerpt(QStringView value)
    {
        qsizetype length = std::min(value.size(), kExcerptLength);
        if (length < value.size() && value[length - 1].isHighSurrogate())
            --length; // not half a character
        QString out = value.first(length).toString();
        for (QChar &c : out)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = QChar(c.unicode() == 0x7F ? 0x2421 : 0x2400 + c.unicode());
        if (length < value.size())
            out += QChar(0x2026);
        return out;
    }

    template <typename... Facts> static QString fill(QStringView text, const Facts &...facts)
    {
        if constexpr (sizeof...(Facts) == 0)
            return text.toString();
        else
            return text.toString().arg(factText(facts)...);
    }

private:
    QString m_message;
    QString m_chinese;
    Code m_code = Code::Other;
};

// What a person checking a file should know although it opened (see
// TableSource::notes): one sentence naming the file, in the same two texts
// as an EngineError, `message` in English for lumora-sql, `chinese` for the
// window. `warns` when records may be missing or text may be misread (a
// file cut short, a code page guessed); a note that only informs (a code
// page used as asked, queries not listed) leaves it false, and the window
// need not show it.
struct EngineNote
{
    QString message;
    QString chinese;
    bool warns = true;

    // A warning, both texts from one set of facts as EngineError::format.
    template <typename... Facts>
    static EngineNote warning(QStringView english, QStringView chinese, const Facts &...facts)
    {
        return {EngineError::fill(english, facts...), EngineError::fill(chinese, facts...), true};
    }
    // A note that only informs.
    template <typename... Facts>
    static EngineNote information(QStringView english, QStringView chinese, const Facts &...facts)
    {
        return {EngineError::fill(english, facts...), EngineError::fill(chinese, facts...), false};
    }

    bool operator==(const EngineNote &) const = default;
};

// A byte as two lower-case hexadecimal digits ("1a"), as the messages show
// header bytes after "0x".
inline QString hexByte(unsigned value)
{
    return QStringLiteral("%1").arg(value & 0xFFu, 2, 16, QLatin1Char('0'));
}

} // namespace lumora::engine
