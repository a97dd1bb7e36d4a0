#include "DbfWriter.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"
#include "data/engine/dbf/DbfFieldCodec.h"
#include "data/engine/dbf/DbfHeader.h"
#include "data/engine/dbf/DbfHeaderWriter.h"
#include "data/engine/text/CodePage.h"

#include <QDate>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace lumora::engine {

void DbfWriter::write(const QString &path, const QList<Field> &fields, const QList<QList<Value>> &records,
                      quint8 languageDriver)
{
    const QString table = QFileInfo(path).completeBaseName();
    const QByteArray codePage = CodePage::nameForLanguageDriver(languageDriver);
    if (codePage.isEmpty())
        throw EngineError::format(
            u"Table %1 cannot be written with language driver 0x%2: it names no code page "
            u"this program knows",
            u"数据表 %1 无法用语言驱动 0x%2 写出：它不对应本程序认识的任何代码页", table,
            hexByte(languageDriver));
    const CodePage codec(codePage);
    if (fields.isEmpty() || fields.size() > 255)
        throw EngineError::format(u"Table %1 needs 1 to 255 fields, not %2",
                                  u"数据表 %1 要有 1 到 255 个字段，不能是 %2 个", table, fields.size());

    DbfHeader header;
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
            throw EngineError::format(u"Table %1 cannot have a field named \"%2\"",
                                      u"数据表 %1 不能有名为“%2”的字段", table, field.name);
        if (!QByteArrayView("CNDL").contains(field.type) || f.length < 1 || f.length > 254 ||
            f.decimals < 0 || (f.decimals > 0 && f.decimals >= f.length))
            throw EngineError::format(u"Field %1 of table %2 has an unsupported type or width",
                                      u"数据表 %2 的字段 %1 的类型或宽度不受支持", field.name, table);
        recordLength += f.length;
        header.fields.append(f);
    }
    if (recordLength > 0xFFFF)
        throw EngineError::format(u"The records of table %1 would be too long", u"数据表 %1 的记录会太长",
                                  table);

    const QDate today = QDate::currentDate();
    header.version = 0x03;
    header.updateYear = quint8(today.year() - 1900);
    header.updateMonth = quint8(today.month());
    header.updateDay = quint8(today.day());
    header.recordCount = quint32(records.size());
    header.headerLength = quint16(32 + 32 * header.fields.size() + 1);
    header.recordLength = quint16(recordLength);
    header.languageDriver = languageDriver;
    const QList<DbfField> &layout = header.fields;
    QByteArray bytes;
    bytes.reserve(header.headerLength + qsizetype(records.size()) * recordLength + 1);
    bytes += DbfHeaderWriter::header(header, codec);

    for (qsizetype r = 0; r < records.size(); ++r) {
        const QList<Value> &record = records[r];
        if (record.size() != layout.size())
            throw EngineError::format(u"Record %1 for table %2 has %3 values for %4 fields",
                                      u"数据表 %2 的第 %1 条记录有 %3 个值，而字段有 %4 个", r, table,
                                      record.size(), layout.size());
        bytes += ' ';
        for (int i = 0; i < layout.size(); ++i)
            bytes += DbfFieldCodec::encode(layout[i], record[i], codec, table).bytes;
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
