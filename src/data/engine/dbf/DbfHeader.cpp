#include "data/engine/dbf/DbfHeader.h"

#include "data/engine/EngineError.h"
#include "data/engine/FieldNames.h"
#include "data/engine/io/ByteCursor.h"

#include <algorithm>

namespace lumora::engine {

namespace {

constexpr int kPrologue = 32;   // fixed part of the header
constexpr int kDescriptor = 32; // one field descriptor

bool isSupportedVersion(quint8 v)
{
    switch (v) {
    case 0x02:
    case 0xFB: // FoxBASE
    case 0x03:
    case 0x83: // dBase III, with .dbt
    case 0x8B:
    case 0x43:
    case 0x63:
    case 0x8E: // dBase IV, memo and SQL variants
    case 0xCB: // dBase IV SQL table with memo
    case 0xF5: // FoxPro 2.x with .fpt
    case 0x30:
    case 0x31:
    case 0x32: // Visual FoxPro
        return true;
    default: return false;
    }
}

qint16 daoTypeFor(char type)
{
    switch (type) {
    case 'C':
    case 'V': return DaoText;
    case 'N':
    case 'F':
    case 'B': return DaoDouble;
    case 'D':
    case 'T': return DaoDate;
    case 'L': return DaoBoolean;
    case 'M': return DaoMemo;
    case 'I': return DaoLong;
    case 'Y': return DaoCurrency;
    case 'G':
    case 'P':
    case 'W': return DaoLongBinary;
    case 'Q': return DaoBinary;
    default: return DaoText; // unknown types are shown as their raw text
    }
}

// The width a binary type must have, or 0 when any width will do.
int fixedLength(char type, bool visualFoxPro)
{
    switch (type) {
    case 'I': return 4;
    case 'B':
    case 'Y':
    case 'T': return 8;
    case 'D': return 8;
    case 'M':
    case 'G':
    case 'P': return visualFoxPro ? 4 : 0;
    case 'W': return 4;
    default: return 0;
    }
}

} // namespace

FieldInfo DbfField::info() const
{
    FieldInfo fi;
    fi.name = name;
    fi.daoType = daoTypeFor(type);
    fi.width = isMemo() ? 0 : length;
    fi.decimals = (type == 'N' || type == 'F' || type == 'Y' || type == 'B') ? decimals : 0;
    fi.nullable = nullBit >= 0;
    return fi;
}

bool DbfHeader::hasMemoFields() const
{
    for (const DbfField &f : fields)
        if (f.isMemo())
            return true;
    return false;
}

DbfHeader DbfHeader::parse(QByteArrayView bytes, const CodePage &codec, const QString &what)
{
    return parse(bytes, bytes.size(), codec, what);
}

DbfHeader DbfHeader::parse(QByteArrayView head, qint64 fileSize, const CodePage &codec, const QString &what)
{
    const ByteCursor in(head, what);
    if (fileSize < kPrologue + 1)
        throw EngineError::format(u"%1 is not a dBase or FoxPro table: it is only %2 bytes long",
                                  u"文件 %1 不是 dBase 或 FoxPro 数据表：它只有 %2 个字节", what, fileSize);
    DbfHeader h;
    h.version = in.u8(0);
    if (h.version == 0x04 || h.version == 0x8C)
        throw EngineError::format(u"%1 is a dBase 7 table, which cannot be read",
                                  u"文件 %1 是 dBase 7 数据表，本程序读不了", what);
    if (!isSupportedVersion(h.version))
        throw EngineError::format(u"%1 is not a dBase or FoxPro table (first byte 0x%2)",
                                  u"文件 %1 不是 dBase 或 FoxPro 数据表（第一个字节是 0x%2）", what,
                                  hexByte(h.version));
    h.updateYear = in.u8(1);
    h.updateMonth = in.u8(2);
    h.updateDay = in.u8(3);
    h.recordCount = in.u32le(4);
    h.headerLength = in.u16le(8);
    h.recordLength = in.u16le(10);
    h.tableFlags = in.u8(28);
    h.languageDriver = in.u8(29);

    const bool vfp = h.isVisualFoxPro();
    // Visual FoxPro writes a 263-byte backlink after the terminator, but
    // other writers of its format (npm dbffile) leave it out.
    const int minimumHeader = kPrologue + kDescriptor + 1;
    if (h.headerLength < minimumHeader)
        throw EngineError::format(u"%1 is damaged: its header length %2 is too small (at least %3)",
                                  u"文件 %1 已损坏：表头长度 %2 太小（至少应为 %3）", what, h.headerLength,
                                  minimumHeader);
    if (h.headerLength > fileSize)
        throw EngineError::format(u"%1 is damaged: its header of %2 bytes is longer than the file (%3 bytes)",
                                  u"文件 %1 已损坏：表头有 %2 个字节，比整个文件（%3 个字节）还长", what,
                                  h.headerLength, fileSize);
    if (h.recordLength < 2)
        throw EngineError::format(u"%1 is damaged: its record length %2 is too small",
                                  u"文件 %1 已损坏：记录长度 %2 太小", what, h.recordLength);

    // Descriptors run until the 0x0D terminator; on Visual FoxPro the
    // backlink area, when there is one, follows it inside the header length.
    const int descriptorEnd = h.headerLength;
    int runningOffset = 1; // byte 0 of a record is the deletion flag
    int bit = 0;
    QList<DbfField> all;
    for (int pos = kPrologue; pos + kDescriptor <= descriptorEnd && in.u8(pos) != 0x0D; pos += kDescriptor) {
        DbfField f;
        const QByteArrayView rawName = in.view(pos, 11);
        qsizetype nameLength = rawName.indexOf('\0');
        if (nameLength < 0)
            nameLength = rawName.size();
        f.name = codec.decode(rawName.first(nameLength)).trimmed();
        f.type = char(in.u8(pos + 11));
        f.length = in.u8(pos + 16);
        f.decimals = in.u8(pos + 17);
        f.flags = vfp ? in.u8(pos + 18) : 0;
        // Visual FoxPro stores each field's offset; writers that leave it 0
        // (npm dbffile) mean the running sum, as dBase does.
        const quint32 storedOffset = vfp ? in.u32le(pos + 12) : 0;
        f.offset =
            storedOffset != 0 ? int(std::min<quint32>(storedOffset, h.recordLength + 1u)) : runningOffset;
        if (f.length == 0)
            throw EngineError::format(u"%1 is damaged: field %2 is 0 bytes wide",
                                      u"文件 %1 已损坏：字段 %2 的宽度是 0", what, f.name);
        runningOffset += f.length;
        if (f.offset < 1 || qint64(f.offset) + f.length > h.recordLength)
            throw EngineError::format(
                u"%1 is damaged: field %2 (%3 bytes at %4) does not fit the record length %5",
                u"文件 %1 已损坏：字段 %2（%3 个字节，从第 %4 个字节起）超出了记录长度 %5", what, f.name,
                f.length, f.offset, h.recordLength);
        const int fixed = fixedLength(f.type, vfp);
        if (fixed && f.length != fixed)
            throw EngineError::format(u"%1 is damaged: field %2 of type %3 is %4 bytes wide, not %5",
                                      u"文件 %1 已损坏：%3 类型的字段 %2 宽 %4 个字节，应为 %5 个", what,
                                      f.name, QChar::fromLatin1(f.type), f.length, fixed);
        all.append(f);
    }
    if (all.isEmpty())
        throw EngineError::format(u"%1 is damaged: it declares no fields",
                                  u"文件 %1 已损坏：其中没有任何字段", what);
    // Outside Visual FoxPro the record is the deletion flag and the fields,
    // nothing else: a record length that says more would shift every value.
    if (!vfp && runningOffset != h.recordLength)
        throw EngineError::format(
            u"%1 is damaged: its fields add up to %2 bytes a record, but the header says %3",
            u"文件 %1 已损坏：各字段加起来每条记录 %2 个字节，表头却写着 %3 个", what, runningOffset,
            h.recordLength);

    // Visual FoxPro keeps Null marks and varchar lengths in the hidden
    // _NullFlags field; bits go to the fields in order, a varchar's length
    // bit before its Null bit.
    for (DbfField &f : all) {
        if (f.type == '0') {
            h.nullFlagsOffset = f.offset;
            h.nullFlagsLength = f.length;
            continue;
        }
        if (!vfp)
            continue;
        if (f.type == 'V' || f.type == 'Q')
            f.lengthBit = bit++;
        if (f.flags & 0x02)
            f.nullBit = bit++;
    }
    if (bit > 0 && (h.nullFlagsOffset < 0 || bit > h.nullFlagsLength * 8))
        throw EngineError::format(u"%1 is damaged: its _NullFlags field is missing or too short for %2 flags",
                                  u"文件 %1 已损坏：_NullFlags 字段缺失或太短，放不下 %2 个标志", what, bit);
    for (const DbfField &f : all)
        if (f.type != '0')
            h.fields.append(f);
    QStringList names;
    for (const DbfField &f : std::as_const(h.fields))
        names << f.name;
    names = uniqueFieldNames(names);
    for (qsizetype i = 0; i < h.fields.size(); ++i)
        h.fields[i].name = names.at(i);

    const qint64 needed = qint64(h.headerLength) + qint64(h.recordCount) * h.recordLength;
    h.presentRecords =
        needed > fileSize ? quint32((fileSize - h.headerLength) / h.recordLength) : h.recordCount;
    return h;
}

} // namespace lumora::engine
