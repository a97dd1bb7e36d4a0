#include "data/engine/Value.h"

#include <charconv>
#include <cmath>

namespace lumora::engine {

Value Value::dateTime(const QDateTime &dt)
{
    // Keep the wall-clock reading; time zones play no part in roster files.
    return Value(Kind::DateTime, QDateTime(dt.date(), dt.time(), Qt::UTC));
}

bool Value::toBool() const
{
    return m_kind == Kind::Boolean && std::get<bool>(m_payload);
}

qint64 Value::toInteger() const
{
    if (m_kind == Kind::Integer || m_kind == Kind::Currency)
        return std::get<qint64>(m_payload);
    if (m_kind == Kind::Double)
        return qint64(std::get<double>(m_payload));
    return 0;
}

double Value::toDouble() const
{
    switch (m_kind) {
    case Kind::Integer: return double(std::get<qint64>(m_payload));
    case Kind::Currency: return double(std::get<qint64>(m_payload)) / 10000.0;
    case Kind::Double: return std::get<double>(m_payload);
    default: return 0.0;
    }
}

QString Value::textValue() const
{
    return m_kind == Kind::Text ? std::get<QString>(m_payload) : QString();
}

QDateTime Value::toDateTime() const
{
    return m_kind == Kind::DateTime ? std::get<QDateTime>(m_payload) : QDateTime();
}

QByteArray Value::toBinary() const
{
    return m_kind == Kind::Binary ? std::get<QByteArray>(m_payload) : QByteArray();
}

QString Value::formatNumber(double d)
{
    if (std::isnan(d))
        return QStringLiteral("NaN");
    if (std::isinf(d))
        return d < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    if (d == 0)
        return QStringLiteral("0"); // also for -0
    char buf[400];
    const auto fmt =
        (std::fabs(d) >= 1e21 || std::fabs(d) < 1e-7) ? std::chars_format::general : std::chars_format::fixed;
    const auto res = std::to_chars(buf, buf + sizeof buf, d, fmt);
    return QString::fromLatin1(buf, res.ptr - buf);
}

QString Value::formatCurrency(qint64 v)
{
    const bool negative = v < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(v) : quint64(v);
    QString text = QString::number(magnitude / 10000);
    quint64 fraction = magnitude % 10000;
    if (fraction) {
        QString digits = QStringLiteral("%1").arg(fraction, 4, 10, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += QLatin1Char('.') + digits;
    }
    return negative ? QLatin1Char('-') + text : text;
}

QString Value::toText() &&
{
    if (m_kind == Kind::Text)
        return std::move(std::get<QString>(m_payload));
    return std::as_const(*this).toText();
}

QString Value::toText() const &
{
    switch (m_kind) {
    case Kind::Null: return QString();
    case Kind::Boolean: return std::get<bool>(m_payload) ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Integer: return QString::number(std::get<qint64>(m_payload));
    case Kind::Double: return formatNumber(std::get<double>(m_payload));
    case Kind::Currency: return formatCurrency(std::get<qint64>(m_payload));
    case Kind::Text: return std::get<QString>(m_payload);
    case Kind::DateTime: {
        const QDateTime &dt = std::get<QDateTime>(m_payload);
        // Written out by hand: this runs for every date cell when the grid
        // loads a table, and QDate's format parser costs several times more.
        int y = 0, mo = 0, d = 0;
        dt.date().getDate(&y, &mo, &d);
        if (y >= 1 && y <= 9999) {
            const QTime t = dt.time();
            QChar buf[19];
            qsizetype n = 0;
            const auto put = [&](int v, int digits) {
                for (int k = digits - 1; k >= 0; --k, v /= 10)
                    buf[n + k] = QLatin1Char(char('0' + v % 10));
                n += digits;
            };
            put(y, 4);
            buf[n++] = QLatin1Char('-');
            put(mo, 2);
            buf[n++] = QLatin1Char('-');
            put(d, 2);
            if (t != QTime(0, 0)) {
                buf[n++] = QLatin1Char(' ');
                put(t.hour(), 2);
                buf[n++] = QLatin1Char(':');
                put(t.minute(), 2);
                buf[n++] = QLatin1Char(':');
                put(t.second(), 2);
            }
            return QString(buf, n);
        }
        if (dt.time() == QTime(0, 0))
            return dt.date().toString(QStringLiteral("yyyy-MM-dd"));
        return dt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    case Kind::Binary: return QString::fromLatin1(std::get<QByteArray>(m_payload).toHex());
    }
    return QString();
}

bool operator==(const Value &a, const Value &b)
{
    return a.m_kind == b.m_kind && a.m_payload == b.m_payload;
}

} // namespace lumora::engine
