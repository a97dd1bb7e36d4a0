#include "data/engine/dbf/DbfWriter.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"
#include "data/engine/dbf/DbfHeader.h"
#include "data/engine/dbf/DbfTable.h"
#include "data/engine/dbf/DbfTextCodec.h"

#include <QDate>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace lumora::engine {

namespace {

void putLe16(char *p, quint32 v)
{
    p[0] = char(v);
    p[1] = char(v >> 8);
}

void putLe32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char(v >> (8 * i));
}

} // namespace

void DbfWriter::write(const QString &path, const QList<Field> &fields, const QList<QList<Value>> &records,
                      quint8 languageDriver)
{
    const QString table = QFileInfo(path).completeBaseName();
    const QByteArray codePage = DbfTextCodec::nameForLanguageDriver(languageDriver);
    if (codePage.isEmpty())
        throw EngineError::format(u"Table %1 cannot be written with language driver 0x%2: it names no code page "
                                  u"this program knows",
                                  u"数据表 %1 无法用语言驱动 0x%2 写出：它不对应本程序认识的任何代码页", table,
                                  hexByte(languageDriver));
    const DbfTextCodec codec(codePage);
    if (fields.isEmpty() || fields.size() > 255)
        throw EngineError::format(u"Table %1 needs 1 to 255 fields, not %2", u"数据表 %1 要有 1 到 255 个字段，不能是 %2 个",
                                  table, fields.size());

    QList<DbfField> layout;
    QByteArray descriptors;
    int recordLength = 1;
    for (const Field &field : fields) {
        DbfField f;
        f.name = field.name;
        f.type = field.type;
        f.length = field.type == 'D' ? 8 : field.type == 'L' ? 1 : field.length;
        f.decimals = field.type == 'N' ? field.decimals : 0;
        f.offset = recordLength;
        const std::optional<QByteArray> name = codec.encode(field.name);
        if (!name || name->isEmpty() || name->size() > 10)
            throw EngineError::format(u"Table %1 cannot have a field named \"%2\"", u"数据表 %1 不能有名为“%2”的字段",
                                      table, field.name);
        if (!QByteArrayView("CNDL").contains(field.type) || f.length < 1 || f.length > 254 || f.decimals < 0 ||
            (f.decimals > 0 && f.decimals >= f.length))
            throw EngineError::format(u"Field %1 of table %2 has an unsupported type or width",
                                      u"数据表 %2 的字段 %1 的类型或宽度不受支持", field.name, table);
        QByteArray d(32, '\0');
        std::copy(name->begin(), name->end(), d.begin());
        d[11] = field.type;
        d[16] = char(f.length);
        d[17] = char(f.decimals);
        descriptors += d;
        recordLength += f.length;
        layout.append(f);
    }
    if (recordLength > 0xFFFF)
        throw EngineError::format(u"The records of table %1 would be too long", u"数据表 %1 的记录会太长", table);

    const int headerLength = 32 + descriptors.size() + 1;
    QByteArray bytes;
    bytes.reserve(headerLength + qsizetype(records.size()) * recordLength + 1);
    QByteArray header(32, '\0');
    const QDate today = QDate::currentDate();
    header[0] = 0x03;
    header[1] = char(today.year() - 1900);  // bytes 1-3: last update, year minus 1900
    header[2] = char(today.month());
    header[3] = char(today.day());
    putLe32(header.data() + 4, quint32(records.size()));  // bytes 4-7: record count
    putLe16(header.data() + 8, quint32(headerLength));    // bytes 8-9: header length
    putLe16(header.data() + 10, quint32(recordLength));   // bytes 10-11: record length
    header[29] = char(languageDriver);                     // byte 29: code page mark
    bytes += header;
    bytes += descriptors;
    bytes += '\x0D';

    for (qsizetype r = 0; r < records.size(); ++r) {
        const QList<Value> &record = records[r];
        if (record.size() != layout.size())
            throw EngineError::format(u"Record %1 for table %2 has %3 values for %4 fields",
                                      u"数据表 %2 的第 %1 条记录有 %3 个值，而字段有 %4 个", r, table, record.size(),
                                      layout.size());
        bytes += ' ';
        for (int i = 0; i < layout.size(); ++i) {
            bool isNull = false;
            int varLength = -1;
            bytes += DbfTable::encodeField(layout[i], record[i], codec, table, &isNull, &varLength);
        }
    }
    bytes += '\x1A';

    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        const int error = errno;
        throw EngineError(QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString()),
                          QStringLiteral("%1 无法写入：%2")
                              .arg(QFileInfo(path).fileName(),
                                   error != 0 ? systemErrorText(error).chinese : QStringLiteral("写入出错")));
    }
}

} // namespace lumora::engine
