#include "data/engine/dbf/DbfFieldCodec.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace lumora::engine {

namespace {

// ---- decoding helpers --------------------------------------------------

QByteArrayView trimBlanks(QByteArrayView b)
{
    qsizetype start = 0;
    qsizetype end = b.size();
    while (start < end && (b[start] == ' ' || b[start] == '\0'))
        ++start;
    while (end > start && (b[end - 1] == ' ' || b[end - 1] == '\0'))
        --end;
    return b.sliced(start, end - start);
}

QByteArrayView cutText(QByteArrayView b)
{
    const qsizetype nul = b.indexOf('\0');
    if (nul >= 0)
        b = b.first(nul);
    qsizetype end = b.size();
    while (end > 0 && b[end - 1] == ' ')
        --end;
    return b.first(end);
}

// A decimal number in the C locale: sign, digits, one point, exponent.
// Anything else (a comma, letters, two numbers) is not a number.
std::optional<double> parseNumber(QByteArrayView b)
{
    b = trimBlanks(b);
    if (b.isEmpty())
        return std::nullopt;
    for (const char c : b)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    const char *first = b.data();
    const char *last = b.data() + b.size();
    if (*first == '+')
        ++first;
    double d = 0;
    const auto res = std::from_chars(first, last, d);
    if (res.ec != std::errc() || res.ptr != last)
        return std::nullopt;
    return d;
}

// A whole number written out in full ("-110101199001011234", "12.00"):
// sign, digits, and a fraction of zeros only. Nothing when the text is
// anything else or the number does not fit 64 bits.
std::optional<qint64> parseWhole(QByteArrayView b)
{
    b = trimBlanks(b);
    const qsizetype point = b.indexOf('.');
    if (point >= 0) {
        for (const char c : b.sliced(point + 1))
            if (c != '0')
                return std::nullopt;
        b = b.first(point);
    }
    const char *first = b.data();
    const char *last = b.data() + b.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-')
        ++first;
    qint64 i = 0;
    const auto res = std::from_chars(first, last, i);
    if (res.ec != std::errc() || res.ptr != last)
        return std::nullopt;
    return i;
}

// Whole numbers beyond 2^53 have no exact double; below it every one has.
constexpr qint64 kExactInDouble = qint64(1) << 53;

std::optional<QDate> parseDate(QByteArrayView b)
{
    if (b.size() != 8)
        return std::nullopt;
    // Year, month and day, each padded with zeros or, as some writers do
    // ("%4d%2d%2d"), with leading blanks: " 990 1 5" is 0990-01-05.
    int parts[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    qsizetype pos = 0;
    for (int i = 0; i < 3; ++i) {
        int digits = 0;
        for (int k = 0; k < widths[i]; ++k, ++pos) {
            const char c = b[pos];
            if (c == ' ' && digits == 0 && k + 1 < widths[i])
                continue;
            if (c < '0' || c > '9')
                return std::nullopt;
            parts[i] = parts[i] * 10 + (c - '0');
            ++digits;
        }
    }
    const QDate d(parts[0], parts[1], parts[2]);
    if (!d.isValid())
        return std::nullopt;
    return d;
}

// ---- encoding helpers --------------------------------------------------

// Digits after the point in the shortest text that reads back as `d`.
int decimalsOf(double d)
{
    const QString text = Value::formatNumber(d);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    const QString mantissa = e >= 0 ? text.left(e) : text;
    const qsizetype point = mantissa.indexOf(QLatin1Char('.'));
    int digits = point >= 0 ? int(mantissa.size() - point - 1) : 0;
    if (e >= 0)
        digits -= text.mid(e + 1).toInt();
    return std::max(digits, 0);
}

std::optional<double> numberOf(const Value &v)
{
    if (v.isNumber())
        return v.toDouble();
    if (v.kind() == Value::Kind::Text) {
        const QByteArray latin = v.textValue().toLatin1();
        return parseNumber(latin);
    }
    return std::nullopt;
}

bool flagSet(QByteArrayView record, int nullFlagsOffset, int bit)
{
    return (uchar(record[nullFlagsOffset + bit / 8]) >> (bit % 8)) & 1;
}

} // namespace

bool DbfFieldCodec::isNull(const DbfField &f, QByteArrayView record, int nullFlagsOffset)
{
    return f.nullBit >= 0 && flagSet(record, nullFlagsOffset, f.nullBit);
}

Value DbfFieldCodec::decode(const DbfField &f, QByteArrayView record, int nullFlagsOffset,
                            const CodePage &codec, const QString &table)
{
    if (isNull(f, record, nullFlagsOffset))
        return Value::null();
    // The cursor (which holds the table's name for its errors) is only made
    // for the types that read integers, or to report a field out of bounds:
    // this runs for every cell of every record the grid loads.
    const auto cursor = [&] { return ByteCursor(record, table); };
    if (f.offset < 0 || f.length < 0 || f.offset > record.size() - f.length)
        cursor().view(f.offset, f.length);
    const QByteArrayView raw = record.sliced(f.offset, f.length);

    switch (f.type) {
    case 'N':
    case 'F': {
        // Numbers are doubles, as the old engine held them, except whole
        // numbers a double cannot hold: an 18-digit identity number stays
        // exact, so it shows, compares and writes back as stored.
        if (const auto whole = parseWhole(raw);
            whole && (*whole > kExactInDouble || *whole < -kExactInDouble))
            return Value::integer(*whole);
        const auto d = parseNumber(raw);
        return d ? Value::real(*d) : Value::null();
    }
    case 'D': {
        const auto d = parseDate(raw);
        return d ? Value::date(*d) : Value::null();
    }
    case 'L':
        switch (raw.isEmpty() ? ' ' : raw[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y': return Value::boolean(true);
        case 'F':
        case 'f':
        case 'N':
        case 'n': return Value::boolean(false);
        default: return Value::null();
        }
    case 'I': return Value::integer(cursor().i32le(f.offset));
    case 'B': return Value::real(cursor().f64le(f.offset));
    case 'Y': return Value::currency(cursor().i64le(f.offset));
    case 'T': {
        const qint32 day = cursor().i32le(f.offset);
        const qint32 ms = cursor().i32le(f.offset + 4);
        if (day <= 0 || ms < 0 || ms >= 86400000)
            return Value::null();
        // Shown, compared and written back to the second, as FoxPro shows
        // them: 09:30:09.999 is 09:30:10, and 23:59:59.500 the next day.
        const qint64 seconds = (qint64(ms) + 500) / 1000;
        const QDate date = QDate::fromJulianDay(day + seconds / 86400);
        if (!date.isValid())
            return Value::null();
        return Value::dateTime(
            QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(seconds % 86400) * 1000), Qt::UTC));
    }
    case 'V':
    case 'Q': {
        QByteArrayView data = raw;
        if (f.lengthBit >= 0 && flagSet(record, nullFlagsOffset, f.lengthBit) && !raw.isEmpty())
            data = raw.first(std::min<qsizetype>(uchar(raw.back()), raw.size() - 1));
        else if (f.type == 'V')
            data = cutText(raw);
        return f.type == 'Q' ? Value::binary(data.toByteArray()) : Value::text(codec.decode(data));
    }
    default: // C, and types this codec does not know, as text
        return Value::text(codec.decode(cutText(raw)));
    }
}

std::optional<quint32> DbfFieldCodec::memoBlock(QByteArrayView pointer)
{
    quint32 block = 0;
    if (pointer.size() == 4) {
        block = ByteCursor(pointer, QString()).u32le(0);
    } else {
        const QByteArrayView digits = trimBlanks(pointer);
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            block = block * 10 + quint32(c - '0');
        }
    }
    if (block == 0)
        return std::nullopt;
    return block;
}

Value DbfFieldCodec::memoValue(const DbfField &f, const QByteArray &data, const CodePage &codec)
{
    return f.isBinaryMemo() ? Value::binary(data) : Value::text(codec.decode(data));
}

namespace {

QByteArray encodeBytes(const DbfField &f, const Value &v, const CodePage &codec, const QString &table,
                       bool *isNull, int *varLength)
{
    // `why` and `chinese` go on from the field's name: "is 1 bytes wide",
    // "只有 1 个字节宽".
    const auto refuse = [&](const QString &why, const QString &chinese) {
        return EngineError(QStringLiteral("Field %1 of table %2 %3").arg(f.name, table, why),
                           QStringLiteral("字段 %1 %2").arg(f.name, chinese));
    };
    const auto shown = [&v] { return EngineError::excerpt(v.toText()); };
    const auto encodeText = [&](const QString &text) {
        // Readers end a field's text at its first NUL byte: what followed
        // would be lost without a word.
        if (text.contains(QChar(0)))
            throw refuse(QStringLiteral("cannot hold \"%1\": it has the character Chr(0), where the text "
                                        "would end when it is read")
                             .arg(EngineError::excerpt(text)),
                         QStringLiteral("放不下“%1”：其中有字符 Chr(0)，读取时文字会在那里截断")
                             .arg(EngineError::excerpt(text)));
        const std::optional<QByteArray> bytes = codec.encode(text);
        if (!bytes)
            throw refuse(QStringLiteral("cannot hold \"%1\": it has characters that code page %2 lacks")
                             .arg(EngineError::excerpt(text), QString::fromLatin1(codec.name())),
                         QStringLiteral("放不下“%1”：其中有代码页 %2 里没有的字符")
                             .arg(EngineError::excerpt(text), QString::fromLatin1(codec.name())));
        return *bytes;
    };
    *isNull = v.isNull();
    *varLength = -1;

    if (v.isNull()) {
        switch (f.type) {
        case 'C':
        case 'N':
        case 'F':
        case 'D':
        case 'L': return QByteArray(f.length, ' ');
        case 'T': return QByteArray(f.length, '\0');
        case 'V':
        case 'Q': *varLength = 0; return QByteArray(f.length, f.type == 'V' ? ' ' : '\0');
        default:
            if (f.nullBit >= 0)
                return QByteArray(f.length, '\0');
            throw refuse(QStringLiteral("cannot be empty"), QStringLiteral("不能为空"));
        }
    }

    switch (f.type) {
    case 'C':
    case 'V':
    case 'Q': {
        QByteArray bytes;
        if (f.type == 'Q') {
            if (v.kind() != Value::Kind::Binary)
                throw refuse(QStringLiteral("holds bytes, not %1").arg(shown()),
                             QStringLiteral("只能存放二进制数据，不能存放“%1”").arg(shown()));
            bytes = v.toBinary();
        } else {
            if (v.kind() == Value::Kind::Binary)
                throw refuse(QStringLiteral("holds text, not bytes"),
                             QStringLiteral("只能存放文字，不能存放二进制数据"));
            bytes = encodeText(v.toText());
        }
        if (bytes.size() > f.length)
            throw refuse(QStringLiteral("is %1 bytes wide; \"%2\" needs %3")
                             .arg(QString::number(f.length), shown(), QString::number(bytes.size())),
                         QStringLiteral("只有 %1 个字节宽，放不下“%2”（需要 %3 个字节）")
                             .arg(QString::number(f.length), shown(), QString::number(bytes.size())));
        if (f.type != 'C' && f.lengthBit >= 0 && bytes.size() < f.length) {
            // Shorter than the field: the length goes into the last byte.
            *varLength = int(bytes.size());
            QByteArray out = bytes.leftJustified(f.length - 1, f.type == 'V' ? ' ' : '\0');
            out.append(char(bytes.size()));
            return out;
        }
        return bytes.leftJustified(f.length, f.type == 'Q' ? '\0' : ' ');
    }
    case 'N':
    case 'F': {
        // A whole number is written digit for digit: through a double an
        // 18-digit number would lose its last digits.
        std::optional<qint64> whole;
        if (v.kind() == Value::Kind::Integer)
            whole = v.toInteger();
        else if (v.kind() == Value::Kind::Text)
            whole = parseWhole(v.textValue().toLatin1());
        if (whole) {
            QByteArray text = QByteArray::number(*whole);
            if (f.decimals > 0)
                text += '.' + QByteArray(f.decimals, '0');
            if (text.size() > f.length)
                throw refuse(QStringLiteral("is %1 characters wide; %2 needs %3")
                                 .arg(QString::number(f.length), QString::fromLatin1(text),
                                      QString::number(text.size())),
                             QStringLiteral("只有 %1 个字符宽，放不下 %2（需要 %3 个字符）")
                                 .arg(QString::number(f.length), QString::fromLatin1(text),
                                      QString::number(text.size())));
            return text.rightJustified(f.length, ' ');
        }
        const std::optional<double> d = numberOf(v);
        if (!d || !std::isfinite(*d))
            throw refuse(QStringLiteral("holds numbers; \"%1\" is not one").arg(shown()),
                         QStringLiteral("只能存放数字，“%1”不是数字").arg(shown()));
        if (decimalsOf(*d) > f.decimals)
            throw refuse(QStringLiteral("allows %1 decimals; %2 has more")
                             .arg(f.decimals)
                             .arg(Value::formatNumber(*d)),
                         QStringLiteral("最多只能有 %1 位小数，%2 的小数位太多")
                             .arg(f.decimals)
                             .arg(Value::formatNumber(*d)));
        QByteArray text = QByteArray::number(*d, 'f', f.decimals);
        if (text.startsWith('-') && text.count('0') + text.count('.') == text.size() - 1)
            text.remove(0, 1); // no "-0"
        if (text.size() > f.length)
            throw refuse(
                QStringLiteral("is %1 characters wide; %2 needs %3")
                    .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())),
                QStringLiteral("只有 %1 个字符宽，放不下 %2（需要 %3 个字符）")
                    .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())));
        return text.rightJustified(f.length, ' ');
    }
    case 'D': {
        QDate date;
        if (v.kind() == Value::Kind::DateTime) {
            if (v.toDateTime().time() != QTime(0, 0))
                throw refuse(QStringLiteral("holds dates; %1 has a time of day").arg(shown()),
                             QStringLiteral("只能存放日期，%1 带有时刻").arg(shown()));
            date = v.toDateTime().date();
        } else if (v.kind() == Value::Kind::Text) {
            const QString text = v.textValue().trimmed();
            date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!date.isValid())
                date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
        }
        if (!date.isValid() || date.year() < 1 || date.year() > 9999)
            throw refuse(QStringLiteral("holds dates; \"%1\" is not one").arg(shown()),
                         QStringLiteral("只能存放日期，“%1”不是日期").arg(shown()));
        return QStringLiteral("%1%2%3")
            .arg(date.year(), 4, 10, QLatin1Char('0'))
            .arg(date.month(), 2, 10, QLatin1Char('0'))
            .arg(date.day(), 2, 10, QLatin1Char('0'))
            .toLatin1();
    }
    case 'L': {
        char mark = 0;
        if (v.kind() == Value::Kind::Boolean) {
            mark = v.toBool() ? 'T' : 'F';
        } else if (v.kind() == Value::Kind::Text) {
            const QString t = v.textValue().trimmed().toUpper();
            if (t == QLatin1String("T") || t == QLatin1String("Y") || t == QLatin1String("TRUE"))
                mark = 'T';
            else if (t == QLatin1String("F") || t == QLatin1String("N") || t == QLatin1String("FALSE"))
                mark = 'F';
        }
        if (!mark)
            throw refuse(QStringLiteral("holds True or False, not \"%1\"").arg(shown()),
                         QStringLiteral("只能存放“真”或“假”，不能存放“%1”").arg(shown()));
        return QByteArray(1, mark).leftJustified(f.length, ' ');
    }
    case 'I': {
        const std::optional<double> d = numberOf(v);
        if (!d || *d != std::floor(*d) || *d < -2147483648.0 || *d > 2147483647.0)
            throw refuse(
                QStringLiteral("holds whole numbers up to 2147483647; \"%1\" is not one").arg(shown()),
                QStringLiteral("只能存放不超过 2147483647 的整数，不能存放“%1”").arg(shown()));
        QByteArray out(4, '\0');
        ByteWriter(out).le32(0,
                             quint32(qint32(v.kind() == Value::Kind::Integer ? v.toInteger() : qint64(*d))));
        return out;
    }
    case 'B': {
        const std::optional<double> d = numberOf(v);
        if (!d)
            throw refuse(QStringLiteral("holds numbers; \"%1\" is not one").arg(shown()),
                         QStringLiteral("只能存放数字，“%1”不是数字").arg(shown()));
        quint64 bits;
        std::memcpy(&bits, &*d, sizeof bits);
        QByteArray out(8, '\0');
        ByteWriter(out).le64(0, bits);
        return out;
    }
    case 'Y': {
        qint64 units = 0;
        if (v.kind() == Value::Kind::Currency) {
            units = v.toInteger();
        } else if (v.kind() == Value::Kind::Integer) {
            if (v.toInteger() > 922337203685477 || v.toInteger() < -922337203685477)
                throw refuse(QStringLiteral("cannot hold %1").arg(shown()),
                             QStringLiteral("放不下 %1").arg(shown()));
            units = v.toInteger() * 10000;
        } else {
            const std::optional<double> d = numberOf(v);
            if (!d || !std::isfinite(*d) || std::fabs(*d) > 9.0e14 || decimalsOf(*d) > 4)
                throw refuse(
                    QStringLiteral("holds amounts with up to 4 decimals; \"%1\" is not one").arg(shown()),
                    QStringLiteral("只能存放最多 4 位小数的金额，不能存放“%1”").arg(shown()));
            units = std::llround(*d * 10000.0);
        }
        QByteArray out(8, '\0');
        ByteWriter(out).le64(0, quint64(units));
        return out;
    }
    case 'T': {
        if (v.kind() != Value::Kind::DateTime)
            throw refuse(QStringLiteral("holds dates and times; \"%1\" is not one").arg(shown()),
                         QStringLiteral("只能存放日期和时间，不能存放“%1”").arg(shown()));
        const QDateTime dt = v.toDateTime();
        QByteArray out(8, '\0');
        ByteWriter(out)
            .le32(0, quint32(qint32(dt.date().toJulianDay())))
            .le32(4, quint32(dt.time().msecsSinceStartOfDay()));
        return out;
    }
    default:
        throw refuse(QStringLiteral("has type %1, which cannot be written").arg(QChar::fromLatin1(f.type)),
                     QStringLiteral("是 %1 类型，本程序写不了").arg(QChar::fromLatin1(f.type)));
    }
}

} // namespace

DbfFieldCodec::Encoded DbfFieldCodec::encode(const DbfField &f, const Value &v, const CodePage &codec,
                                             const QString &table)
{
    Encoded e;
    e.bytes = encodeBytes(f, v, codec, table, &e.isNull, &e.varLength);
    return e;
}

} // namespace lumora::engine
