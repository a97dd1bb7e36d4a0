#include "naming/NumericText.h"

#include <QByteArray>
#include <cmath>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads the text one accepted character at a time, skipping blanks wherever
// they stand, and collects the number it spells in plain ASCII.
class NumberReader
{
public:
    explicit NumberReader(QStringView text)
        : m_text(text)
    {
    }

    QByteArray read()
    {
        QByteArray number;
        if (peek() == QLatin1Char('+') || peek() == QLatin1Char('-'))
            number += char(take().unicode());
        bool digits = false;
        while (isDigit(peek())) {
            number += char(take().unicode());
            digits = true;
        }
        if (peek() == QLatin1Char('.')) {
            take();
            number += '.';
            while (isDigit(peek())) {
                number += char(take().unicode());
                digits = true;
            }
        }
        if (!digits)
            return {};
        if (peek() == QLatin1Char('e') || peek() == QLatin1Char('E')) {
            // An exponent counts only when a digit follows it.
            const qsizetype mark = m_pos;
            take();
            QByteArray exponent = "e";
            if (peek() == QLatin1Char('+') || peek() == QLatin1Char('-'))
                exponent += char(take().unicode());
            if (isDigit(peek())) {
                while (isDigit(peek()))
                    exponent += char(take().unicode());
                number += exponent;
            } else {
                m_pos = mark;
            }
        }
        return number;
    }

private:
    QChar peek()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos] : QChar();
    }
    QChar take()
    {
        const QChar c = peek();
        ++m_pos;
        return c;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

} // namespace

double numericValue(QStringView text)
{
    const QByteArray number = NumberReader(text).read();
    if (number.isEmpty())
        return 0;
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

QString nextNumberText(QStringView text)
{
    const double next = numericValue(text) + 1;
    if (std::trunc(next) == next && std::fabs(next) < 1e15)
        return QString::number(qint64(next));
    return QString::number(next, 'g', 15);
}
