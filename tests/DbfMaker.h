#pragma once
// Writes small dBase III tables for the tests and benchmarks: character (C),
// numeric (N), date (D) and logical (L) fields, text in GBK (language
// driver 0x4D). A null value is a field of blanks, as dBase writes it.

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QList>
#include <QStringEncoder>
#include <QStringList>
#include <optional>

struct DbfField
{
    QString name;   // at most 10 bytes in GBK
    char type;      // 'C', 'N', 'D' or 'L'
    int length;
    int decimals = 0;
};

class DbfMaker
{
public:
    explicit DbfMaker(QList<DbfField> fields) : m_fields(std::move(fields)) {}

    // One record; a missing value (std::nullopt) is written as blanks.
    void addWithNulls(const QList<std::optional<QString>> &values) { m_records << values; }
    void add(const QStringList &values)
    {
        QList<std::optional<QString>> v;
        for (const QString &s : values)
            v << std::optional<QString>(s);
        m_records << v;
    }

    QByteArray bytes() const
    {
        QStringEncoder gbk("GBK");
        int recordLength = 1;
        for (const DbfField &f : m_fields)
            recordLength += f.length;
        const int headerLength = 32 + 32 * int(m_fields.size()) + 1;
        QByteArray out(32, '\0');
        out[0] = 0x03;
        out[1] = char(124);
        out[2] = 1;
        out[3] = 1;
        putLE(out, 4, quint32(m_records.size()), 4);
        putLE(out, 8, quint32(headerLength), 2);
        putLE(out, 10, quint32(recordLength), 2);
        out[29] = 0x4D;
        for (const DbfField &f : m_fields) {
            QByteArray d(32, '\0');
            const QByteArray name = QByteArray(gbk.encode(f.name)).left(10);
            d.replace(0, name.size(), name);
            d[11] = f.type;
            d[16] = char(f.length);
            d[17] = char(f.decimals);
            out += d;
        }
        out += '\x0D';
        for (const auto &record : m_records) {
            out += ' ';
            for (int i = 0; i < m_fields.size(); ++i) {
                const DbfField &f = m_fields.at(i);
                const std::optional<QString> v = i < record.size() ? record.at(i) : std::nullopt;
                QByteArray cell = v ? QByteArray(gbk.encode(*v)) : QByteArray();
                if (f.type == 'D' && v)
                    cell = QDate::fromString(*v, QStringLiteral("yyyy-MM-dd")).toString(QStringLiteral("yyyyMMdd")).toLatin1();
                cell = cell.left(f.length);
                const QByteArray pad(f.length - cell.size(), ' ');
                out += (f.type == 'N' ? pad + cell : cell + pad);
            }
        }
        out += '\x1A';
        return out;
    }

    bool write(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes()) >= 0;
    }

private:
    static void putLE(QByteArray &b, int at, quint32 v, int n)
    {
        for (int i = 0; i < n; ++i)
            b[at + i] = char((v >> (8 * i)) & 0xFF);
    }

    QList<DbfField> m_fields;
    QList<QList<std::optional<QString>>> m_records;
};
