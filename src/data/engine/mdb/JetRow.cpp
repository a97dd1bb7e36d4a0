#include "data/engine/mdb/JetRow.h"

#include <QDateTime>
#include <QtEndian>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace lumora::engine {

namespace {

int u16at(QByteArrayView b, qsizetype at)
{
    return quint8(b[at]) | quint8(b[at + 1]) << 8;
}

} // namespace

std::optional<JetRow> JetRow::crack(const JetFormat &format, QByteArrayView row, bool variable)
{
    JetRow r;
    if (!crackInto(format, row, variable, r))
        return std::nullopt;
    return r;
}

bool JetRow::crackInto(const JetFormat &format, QByteArrayView row, bool variable, JetRow &r)
{
    r.m_offsets.clear();
    r.m_row = row;
    const int n = int(row.size());
    const int countSize = format.rowColumnCountSize;
    if (n < countSize)
        return false;
    r.m_countSize = countSize;
    r.m_columns = countSize == 1 ? quint8(row[0]) : u16at(row, 0);
    r.m_maskSize = (r.m_columns + 7) / 8;
    r.m_maskAt = n - r.m_maskSize;
    if (r.m_maskAt < countSize)
        return false;
    if (!variable) {
        r.m_fixedEnd = r.m_maskAt;
        r.m_offsets.append(r.m_maskAt);
        return true;
    }
    if (format.version == 4) {
        if (r.m_maskAt - 2 < countSize)
            return false;
        const int count = u16at(row, r.m_maskAt - 2);
        const int tableAt = r.m_maskAt - 2 - 2 * (count + 1);
        if (tableAt < countSize)
            return false;
        for (int i = 0; i <= count; ++i)
            r.m_offsets.append(u16at(row, r.m_maskAt - 4 - 2 * i));
    } else {
        // Jet 3: `jumps` = (length - 1) / 256 jump bytes, the last of them a
        // dummy when the variable data ends below that many 256s.
        const int countAt = r.m_maskAt - 1;
        if (countAt < countSize)
            return false;
        const int count = quint8(row[countAt]);
        int jumps = (n - 1) / 256;
        const int pointer = countAt - jumps - 1; // offset 0's byte
        if (pointer - count < countSize)
            return false;
        if ((pointer - count) / 256 < jumps)
            --jumps;
        int used = 0;
        for (int i = 0; i <= count; ++i) {
            while (used < jumps && i == quint8(row[countAt - 1 - used]))
                ++used;
            r.m_offsets.append(quint8(row[pointer - i]) + 256 * used);
        }
    }
    r.m_fixedEnd = r.m_offsets.front();
    if (r.m_fixedEnd < countSize || r.m_fixedEnd > r.m_maskAt)
        return false;
    return true;
}

bool JetRow::present(const JetColumn &column) const
{
    if (column.number >= m_columns)
        return false;
    return quint8(m_row[m_maskAt + column.number / 8]) & (1u << (column.number % 8));
}

QByteArrayView JetRow::data(const JetColumn &column) const
{
    if (column.number >= m_columns)
        return {};
    if (column.fixed()) {
        const int start = m_countSize + column.fixedOffset;
        const int size = column.fixedSize();
        if (start + size > m_fixedEnd)
            return {};
        return m_row.sliced(start, size);
    }
    if (column.varIndex + 1 >= m_offsets.size())
        return {};
    const int start = m_offsets[column.varIndex];
    const int end = m_offsets[column.varIndex + 1];
    if (start < m_fixedEnd || end < start || end > m_maskAt)
        return {};
    return m_row.sliced(start, end - start);
}

std::optional<QByteArray> JetRow::withVariable(const JetFormat &format, const JetColumn &column,
                                               std::optional<QByteArrayView> bytes,
                                               const JetRowShape &shape) const
{
    const int oldCount = varCount();
    if (column.fixed())
        return std::nullopt;
    for (int i = 0; i < oldCount; ++i)
        if (m_offsets[i + 1] < m_offsets[i] || m_offsets[i + 1] > m_maskAt)
            return std::nullopt;
    // A row that predates columns grows: more columns (null-mask bits),
    // more fixed data (zeros) and more variable-length offsets (empty).
    const int columns = std::max({m_columns, shape.columns, column.number + 1});
    const int count = std::max({oldCount, shape.varCount, column.varIndex + 1});
    const int fixedEnd = std::max(m_fixedEnd, m_countSize + shape.fixedSize);
    const int maskSize = (columns + 7) / 8;
    QByteArray out;
    out.reserve(m_row.size() + (bytes ? bytes->size() : 0) + fixedEnd - m_fixedEnd + 2 * (count - oldCount) +
                maskSize - m_maskSize + 16);
    out.append(m_row.first(m_fixedEnd));
    if (columns != m_columns) {
        if (format.rowColumnCountSize == 1) {
            if (columns > 0xFF)
                return std::nullopt;
            out[0] = char(columns);
        } else {
            out[0] = char(columns & 0xFF);
            out[1] = char(columns >> 8);
        }
    }
    out.append(QByteArray(fixedEnd - m_fixedEnd, '\0'));
    QVarLengthArray<int, 32> offsets;
    for (int i = 0; i < count; ++i) {
        offsets.append(int(out.size()));
        if (i == column.varIndex) {
            if (bytes)
                out.append(*bytes);
        } else if (i < oldCount) {
            out.append(m_row.sliced(m_offsets[i], m_offsets[i + 1] - m_offsets[i]));
        }
    }
    const int dataEnd = int(out.size());
    offsets.append(dataEnd);
    QByteArray mask = m_row.sliced(m_maskAt, m_maskSize).toByteArray();
    mask.append(QByteArray(maskSize - m_maskSize, '\0'));
    const quint8 bit = quint8(1u << (column.number % 8));
    mask[column.number / 8] =
        char(bytes ? (quint8(mask[column.number / 8]) | bit) : (quint8(mask[column.number / 8]) & ~bit));

    if (format.version == 4) {
        if (dataEnd > 0xFFFF)
            return std::nullopt;
        for (int i = count; i >= 0; --i)
            out.append(char(offsets[i] & 0xFF)).append(char(offsets[i] >> 8));
        out.append(char(count & 0xFF)).append(char(count >> 8));
        out.append(mask);
        return out;
    }
    // Jet 3: one jump for each further 256 bytes the offsets reach, plus a
    // dummy when the row's length alone would make the reader expect one.
    const int needed = dataEnd / 256;
    const int fixedPart = dataEnd + (count + 1) + 1 + maskSize;
    int jumps = -1;
    if ((fixedPart + needed - 1) / 256 == needed)
        jumps = needed;
    else if ((fixedPart + needed) / 256 == needed + 1)
        jumps = needed + 1;
    if (jumps < 0 || count > 0xFF)
        return std::nullopt;
    for (int i = count; i >= 0; --i)
        out.append(char(offsets[i] & 0xFF));
    QVarLengthArray<char, 8> jumpBytes;
    for (int j = 0; j < needed; ++j) {
        int i = 0;
        while (offsets[i] < (j + 1) * 256)
            ++i;
        jumpBytes.append(char(i));
    }
    if (jumps > needed)
        jumpBytes.append(char(0xFF));
    for (int j = int(jumpBytes.size()) - 1; j >= 0; --j)
        out.append(jumpBytes[j]);
    out.append(char(count));
    out.append(mask);
    return out;
}

Value decodeJetFixed(const JetColumn &column, QByteArrayView b)
{
    const auto *p = reinterpret_cast<const uchar *>(b.data());
    const qsizetype n = b.size();
    switch (JetType(column.type)) {
    case JetType::Byte: return n >= 1 ? Value::integer(p[0]) : Value();
    case JetType::Integer: return n >= 2 ? Value::integer(qFromLittleEndian<qint16>(p)) : Value();
    case JetType::Long: return n >= 4 ? Value::integer(qFromLittleEndian<qint32>(p)) : Value();
    case JetType::Currency: return n >= 8 ? Value::currency(qFromLittleEndian<qint64>(p)) : Value();
    case JetType::Single: {
        if (n < 4)
            return {};
        const quint32 bits = qFromLittleEndian<quint32>(p);
        float f;
        std::memcpy(&f, &bits, 4);
        // The float's own shortest digits, not those of the double it widens to.
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, f).ptr;
        return Value::real(std::strtod(QByteArray(text, end - text).constData(), nullptr));
    }
    case JetType::Double: {
        if (n < 8)
            return {};
        const quint64 bits = qFromLittleEndian<quint64>(p);
        double d;
        std::memcpy(&d, &bits, 8);
        return Value::real(d);
    }
    case JetType::DateTime: {
        if (n < 8)
            return {};
        const quint64 bits = qFromLittleEndian<quint64>(p);
        double d;
        std::memcpy(&d, &bits, 8);
        if (!std::isfinite(d) || std::abs(d) > 3e6)
            return {};
        // Whole days from 1899-12-30; the fraction is the time of day,
        // after the date also for days before 1899-12-30.
        const double days = std::trunc(d);
        const qint64 seconds = std::llround(std::abs(d - days) * 86400.0);
        const QDate date = QDate(1899, 12, 30).addDays(qint64(days));
        return Value::dateTime(QDateTime(date, QTime(0, 0), Qt::UTC).addSecs(seconds));
    }
    case JetType::Guid: {
        if (n < 16)
            return {};
        return Value::text(QStringLiteral("{%1-%2-%3-%4-%5}")
                               .arg(qFromLittleEndian<quint32>(p), 8, 16, QLatin1Char('0'))
                               .arg(qFromLittleEndian<quint16>(p + 4), 4, 16, QLatin1Char('0'))
                               .arg(qFromLittleEndian<quint16>(p + 6), 4, 16, QLatin1Char('0'))
                               .arg(QString::fromLatin1(b.sliced(8, 2).toByteArray().toHex()))
                               .arg(QString::fromLatin1(b.sliced(10, 6).toByteArray().toHex()))
                               .toUpper());
    }
    case JetType::Numeric: {
        if (n < 17)
            return {};
        // A sign byte, then four u32 words, the most significant first.
        unsigned __int128 magnitude = 0;
        for (int word = 0; word < 4; ++word)
            magnitude = magnitude << 32 | qFromLittleEndian<quint32>(p + 1 + 4 * word);
        const bool negative = p[0] & 0x80;
        if (column.scale == 0 && magnitude <= quint64(std::numeric_limits<qint64>::max()))
            return Value::integer(negative ? -qint64(magnitude) : qint64(magnitude));
        QByteArray digits;
        for (unsigned __int128 m = magnitude; m != 0; m /= 10)
            digits.prepend(char('0' + int(m % 10)));
        while (digits.size() <= column.scale)
            digits.prepend('0');
        if (column.scale > 0)
            digits.insert(digits.size() - column.scale, '.');
        if (negative)
            digits.prepend('-');
        return Value::real(std::strtod(digits.constData(), nullptr));
    }
    case JetType::Boolean:
    case JetType::Text:
    case JetType::Memo:
    case JetType::Ole:
    case JetType::Binary:
    default: return Value::binary(b.toByteArray());
    }
}

qint16 daoTypeOfJet(quint8 jetType)
{
    // Jet numbers its types as DAO does, but for Decimal.
    return JetType(jetType) == JetType::Numeric ? qint16(DaoDecimal) : qint16(jetType);
}

} // namespace lumora::engine
