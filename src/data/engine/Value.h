#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <variant>

namespace lumora::engine {

// Field type codes, as the old database engine numbered them. The program
// itself only distinguishes Text, Double and Date; the rest are carried.
enum DaoType : qint16 {
    DaoBoolean = 1,
    DaoByte = 2,
    DaoInteger = 3,
    DaoLong = 4,
    DaoCurrency = 5,
    DaoSingle = 6,
    DaoDouble = 7,
    DaoDate = 8,
    DaoBinary = 9,
    DaoText = 10,
    DaoLongBinary = 11,
    DaoMemo = 12,
    DaoGuid = 15,
    DaoDecimal = 20,
};

// One field value as the engine hands it around: Null, a boolean, an
// integer, a double, a currency amount (in ten-thousandths), a text, a
// date-time (no time zone; a plain date has 00:00:00) or raw bytes.
class Value
{
public:
    enum class Kind {
        Null,
        Boolean,
        Integer,
        Double,
        Currency,
        Text,
        DateTime,
        Binary
    };

    Value() = default;
    static Value null() { return {}; }
    static Value boolean(bool b) { return Value(Kind::Boolean, b); }
    static Value integer(qint64 i) { return Value(Kind::Integer, i); }
    static Value real(double d) { return Value(Kind::Double, d); }
    static Value currency(qint64 tenThousandths) { return Value(Kind::Currency, tenThousandths); }
    static Value text(QString s) { return Value(Kind::Text, std::move(s)); }
    static Value dateTime(const QDateTime &dt);
    static Value date(const QDate &d) { return dateTime(QDateTime(d, QTime(0, 0), Qt::UTC)); }
    static Value binary(const QByteArray &b) { return Value(Kind::Binary, b); }

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }
    bool isNumber() const
    {
        return m_kind == Kind::Integer || m_kind == Kind::Double || m_kind == Kind::Currency;
    }

    bool toBool() const;          // Boolean only; false otherwise
    qint64 toInteger() const;     // Integer, or Currency in ten-thousandths
    double toDouble() const;      // any number kind as a double
    QString textValue() const;    // Text only
    QDateTime toDateTime() const; // DateTime only (held as Qt::UTC, read as wall-clock time)
    QByteArray toBinary() const;  // Binary only

    // The value as text, the way the engine renders it in concatenations and
    // in the grid: numbers in their shortest exact decimal form ("3", "3.5",
    // "-0.25"), dates as yyyy-MM-dd plus " hh:mm:ss" when there is a time,
    // booleans as "True"/"False", Null as the empty text, bytes as hex.
    QString toText() const &;
    // The same, moving the text out of a Text value instead of sharing it.
    QString toText() &&;

    // Shortest decimal text that reads back to exactly this double.
    static QString formatNumber(double d);
    static QString formatCurrency(qint64 tenThousandths);

    friend bool operator==(const Value &a, const Value &b);

private:
    using Payload = std::variant<std::monostate, bool, qint64, double, QString, QDateTime, QByteArray>;
    template <typename T>
    Value(Kind k, T v)
        : m_kind(k)
        , m_payload(std::move(v))
    {
    }

    Kind m_kind = Kind::Null;
    Payload m_payload;
};

} // namespace lumora::engine

Q_DECLARE_METATYPE(lumora::engine::Value)
