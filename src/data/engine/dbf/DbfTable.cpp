#include "data/engine/dbf/DbfTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/DbfFieldCodec.h"
#include "data/engine/dbf/DbfHeaderWriter.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/io/ByteWriter.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/SiblingFile.h"
#include "data/engine/text/CpgFile.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <new>

namespace lumora::engine {

namespace {

// How many bytes of records one read brings in: enough that a pass over a
// table is a few hundred reads, little enough that it costs no memory to
// speak of. A record longer than this is read alone.
constexpr qint64 kBlockBytes = 128 * 1024;

} // namespace

// ---- opening -------------------------------------------------------------

DbfTable::DbfTable(QString name, QString path)
    : m_name(std::move(name))
    , m_path(std::move(path))
{
}

DbfTable::~DbfTable() = default;

QString DbfTable::what() const
{
    return m_path.isEmpty() ? m_name : QFileInfo(m_path).fileName();
}

QByteArray DbfTable::readHead(const LockedFile *file) const
{
    QByteArray head =
        file ? file->read(0, 32) : m_memoryBytes.first(std::min<qsizetype>(32, m_memoryBytes.size()));
    if (head.size() >= 12) {
        const qint64 headerLength = ByteCursor(head, what()).u16le(8);
        if (headerLength > head.size())
            head = file ? file->read(0, headerLength)
                        : m_memoryBytes.first(std::min<qsizetype>(headerLength, m_memoryBytes.size()));
    }
    return head;
}

void DbfTable::load(const QByteArray &codecName)
{
    const QString what = this->what();
    // The prologue and field descriptors; the records are read when asked for.
    const qint64 fileSize = m_file ? m_file->size() : m_memoryBytes.size();
    const QByteArray head = readHead(m_file.get());
    m_prologue = head.first(std::min<qsizetype>(12, head.size()));

    const quint8 driver = head.size() > 29 ? quint8(head[29]) : 0;
    const QByteArray codePage = codecName.isEmpty() ? CodePage::nameForLanguageDriver(driver) : codecName;
    m_codec = CodePage(codePage.isEmpty() ? QByteArray("GBK") : codePage);
    if (codePage.isEmpty()) {
        m_unknownDriver = driver;
        m_notes.append(EngineNote::warning(
            u"%1: its language-driver byte 0x%2 names no code page this program knows; its text is read as "
            u"GBK and none is written into it (a .cpg file beside it naming the code page, such as CP1252, "
            u"settles it)",
            u"%1：语言驱动字节 0x%2 不对应本程序认识的任何代码页，文字按 GBK 读取，可能读错，也不会写入文字"
            u"（在它旁边放一个写明代码页（如 CP1252）的 .cpg 文件即可）",
            what, hexByte(driver)));
    }
    m_header = DbfHeader::parse(head, fileSize, m_codec, what);
    for (const DbfField &f : m_header.fields)
        m_fields.append(f.info());
    scanRecords();
    if (m_present < m_header.recordCount)
        m_notes.append(EngineNote::warning(
            u"%1: its header promises %2 records, but only %3 are present in full; those %3 are read",
            u"%1：文件头记有 %2 条记录，但完整的只有 %3 条，只读出了这 %3 条，其余记录缺失", what,
            m_header.recordCount, m_present));
}

void DbfTable::scanRecords()
{
    // One pass over the deletion flags gives the live records. A flag
    // that is neither means the header's lengths are wrong and every value
    // would be read shifted; the end-of-file mark where a record should
    // start ends a table whose header promised more. While no record is
    // deleted, live record i is record i of the file and nothing is kept.
    m_present = m_header.presentRecords;
    m_blockRecords = 0;
    m_liveCount = 0;
    m_live.clear();
    quint32 present = 0;
    bool anyDeleted = false;
    for (; present < m_header.presentRecords; ++present) {
        const quint8 flag = quint8(recordAt(present)[0]);
        if (flag == 0x1A)
            break;
        if (flag != ' ' && flag != '*')
            throw EngineError::format(u"%1 is damaged: record %2 starts with byte 0x%3 at offset %4, neither "
                                      u"blank (live) nor * (deleted)",
                                      u"文件 %1 已损坏：第 %2 条记录开头（第 %4 个字节处）是 0x%3，"
                                      u"既不是空格（有效记录）也不是 *（已删除）",
                                      what(), present + 1, hexByte(flag), recordOffset(present));
        if (flag == '*' && !anyDeleted) {
            anyDeleted = true;
            m_live.reserve(m_header.presentRecords - 1);
            for (quint32 r = 0; r < present; ++r)
                m_live.push_back(r);
        }
        if (flag == ' ') {
            ++m_liveCount;
            if (anyDeleted)
                m_live.push_back(present);
        }
    }
    m_present = present;
    m_live.shrink_to_fit();
}

EngineError DbfTable::changedError() const
{
    return EngineError::format(u"%1 was changed by another program since it was opened; open it again",
                               u"文件 %1 在打开之后被其他程序改过了，请重新打开", what());
}

// Another program may have appended, deleted, moved or packed away records
// while this one waited for the lock: the record count and the deletion
// flags are read again. Fields that changed (another layout, another code
// page mark) are not followed: the table must be opened again.
void DbfTable::reload()
{
    const LockedFile &file = *m_held;
    const QByteArray head = readHead(&file);
    const DbfHeader now = DbfHeader::parse(head, file.size(), m_codec, what());
    const auto sameField = [](const DbfField &a, const DbfField &b) {
        return a.name == b.name && a.type == b.type && a.offset == b.offset && a.length == b.length &&
               a.decimals == b.decimals && a.flags == b.flags && a.nullBit == b.nullBit &&
               a.lengthBit == b.lengthBit;
    };
    if (now.version != m_header.version || now.headerLength != m_header.headerLength ||
        now.recordLength != m_header.recordLength || now.languageDriver != m_header.languageDriver ||
        now.nullFlagsOffset != m_header.nullFlagsOffset || now.nullFlagsLength != m_header.nullFlagsLength ||
        !std::equal(now.fields.begin(), now.fields.end(), m_header.fields.begin(), m_header.fields.end(),
                    sameField))
        throw changedError();
    m_header.recordCount = now.recordCount;
    m_header.presentRecords = now.presentRecords;
    m_prologue = head.first(12);
    scanRecords();
    // A pack may have put a new memo file in place of the old one.
    if (!m_memoPath.isEmpty())
        attachMemo(m_memoPath, {}, m_memo.kind());
}

class DbfTable::Hold : public TableSource::UpdateHold
{
public:
    explicit Hold(DbfTable *table)
        : m_table(table)
    {
    }
    ~Hold() override { m_table->releaseHold(); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

private:
    DbfTable *m_table;
};

std::unique_ptr<TableSource::UpdateHold> DbfTable::holdForUpdate()
{
    if (m_path.isEmpty() || m_held || m_changed)
        return nullptr; // update() refuses a table in memory or one that changed
    m_held = LockedFile::lockedIfWritable(m_path, what());
    if (!m_held)
        return nullptr; // read-only: update() says so
    auto hold = std::make_unique<Hold>(this);
    try {
        reload();
    } catch (...) {
        // Half read again: the table cannot be trusted until it is opened again.
        m_changed = true;
        throw;
    }
    return hold;
}

void DbfTable::releaseHold() noexcept
{
    // Reading goes on from the file as it was under the lock, even when
    // another program had put a new file in the old one's place; the old
    // descriptor is closed only once the lock is given up.
    m_held->unlock();
    m_file = std::move(m_held);
}

qint64 DbfTable::recordOffset(quint32 physical) const
{
    return qint64(m_header.headerLength) + qint64(physical) * m_header.recordLength;
}

quint32 DbfTable::physical(qsizetype record) const
{
    return m_live.empty() ? quint32(record) : m_live[size_t(record)];
}

QByteArrayView DbfTable::recordAt(quint32 physical) const
{
    const qint64 length = m_header.recordLength;
    if (!m_file)
        return QByteArrayView(m_memoryBytes).sliced(recordOffset(physical), length);
    if (m_blockRecords == 0 || physical < m_blockFirst || physical - m_blockFirst >= m_blockRecords) {
        // A block of records from this one on, never past the last one present.
        const qint64 wanted =
            std::min<qint64>(std::max<qint64>(1, kBlockBytes / length), m_present - physical);
        m_blockRecords = 0;
        m_block.resize(wanted * length);
        const qint64 got = source().read(recordOffset(physical), m_block.data(), wanted * length);
        if (got < length)
            throw changedError();
        m_blockFirst = physical;
        m_blockRecords = quint32(got / length);
    }
    return QByteArrayView(m_block).sliced(qint64(physical - m_blockFirst) * length, length);
}

void DbfTable::attachMemo(QString memoPath, QByteArray memoBytes, DbfMemo::Kind kind)
{
    m_memoPath = std::move(memoPath);
    const bool dbase4 = m_header.version == 0x8B || m_header.version == 0xCB || m_header.version == 0x8E;
    const QString what =
        m_memoPath.isEmpty() ? m_name + QStringLiteral(" (memo)") : QFileInfo(m_memoPath).fileName();
    if (m_memoPath.isEmpty())
        m_memo = DbfMemo(kind, std::move(memoBytes), dbase4, what);
    else
        m_memo = DbfMemo(kind, m_memoPath, dbase4, what);
}

std::unique_ptr<DbfTable> DbfTable::open(const QString &path, const QString &name)
{
    const QString what = QFileInfo(path).fileName();
    if (!QFileInfo(path).isFile())
        throw EngineError(QStringLiteral("The table file %1 does not exist").arg(path),
                          QStringLiteral("数据表文件 %1 不存在").arg(what));
    const QByteArray codecName = CodePage::nameForCpg(cpgTextBeside(path));
    std::unique_ptr<DbfTable> table(new DbfTable(name, path));
    table->m_file = std::make_unique<LockedFile>(path, what, LockedFile::Mode::Read);
    table->load(codecName);
    if (table->m_header.hasMemoFields()) {
        const QString fpt = siblingFile(path, QStringLiteral("fpt"));
        const QString dbt = siblingFile(path, QStringLiteral("dbt"));
        QString memo =
            table->m_header.prefersFpt() ? (fpt.isEmpty() ? dbt : fpt) : (dbt.isEmpty() ? fpt : dbt);
        if (!memo.isEmpty()) {
            const DbfMemo::Kind kind = memo == fpt ? DbfMemo::Kind::Fpt : DbfMemo::Kind::Dbt;
            table->attachMemo(memo, {}, kind);
        }
    }
    return table;
}

std::unique_ptr<DbfTable> DbfTable::fromBytes(const QString &name, QByteArray dbf, QByteArray memo,
                                              const QByteArray &codecName)
{
    std::unique_ptr<DbfTable> table(new DbfTable(name, QString()));
    table->m_memoryBytes = std::move(dbf);
    table->load(codecName);
    if (!memo.isEmpty())
        table->attachMemo(QString(), std::move(memo),
                          table->m_header.prefersFpt() ? DbfMemo::Kind::Fpt : DbfMemo::Kind::Dbt);
    return table;
}

// ---- reading -------------------------------------------------------------

EngineError DbfTable::memoMissing() const
{
    const QString ext = m_header.prefersFpt() ? QStringLiteral(".fpt") : QStringLiteral(".dbt");
    const QString base = m_path.isEmpty() ? m_name : QFileInfo(m_path).completeBaseName();
    return EngineError(QStringLiteral("The memo file of table %1 is missing").arg(m_name),
                       QStringLiteral("数据表 %1 的备注文件 %2 不见了").arg(m_name, base + ext));
}

void DbfTable::checkUsable(qsizetype record, int field) const
{
    if (m_changed)
        throw changedError();
    checkIndex(record, recordCount(), field, m_fields.size());
}

std::optional<QByteArray> DbfTable::fieldBytes(int field) const
{
    if (m_changed)
        throw changedError();
    if (field < 0 || field >= m_fields.size())
        return std::nullopt;
    const DbfField &f = m_header.fields[field];
    if (f.isMemo())
        return std::nullopt;
    // The field's own bytes and, when it has bits there, the null flags.
    const bool flags = (f.nullBit >= 0 || f.lengthBit >= 0) && m_header.nullFlagsOffset >= 0;
    const qsizetype n = recordCount();
    const qsizetype flagBytes = flags ? m_header.nullFlagsLength : 0;
    const qsizetype per = f.length + flagBytes;
    const qint64 count = n;
    QByteArray bytes(qsizetype(sizeof count) + n * per, Qt::Uninitialized);
    char *out = bytes.data();
    std::memcpy(out, &count, sizeof count);
    out += sizeof count;
    for (qsizetype r = 0; r < n; ++r, out += per) {
        const QByteArrayView record = recordAt(physical(r));
        if (f.offset < 0 || f.offset + f.length > record.size() ||
            (flags && m_header.nullFlagsOffset + flagBytes > record.size()))
            return std::nullopt;
        std::memcpy(out, record.data() + f.offset, size_t(f.length));
        if (flags)
            std::memcpy(out + f.length, record.data() + m_header.nullFlagsOffset, size_t(flagBytes));
    }
    return bytes;
}

void DbfTable::recordTexts(qsizetype record, QStringList &texts) const
{
    if (m_fields.isEmpty())
        return;
    checkUsable(record, 0);
    // The record is read once; a memo field goes through value() (its
    // record is the one just read, so the block stays).
    const QByteArrayView bytes = recordAt(physical(record));
    for (int f = 0; f < m_fields.size(); ++f) {
        const DbfField &field = m_header.fields[f];
        texts[f] =
            field.isMemo()
                ? value(record, f).toText()
                : DbfFieldCodec::decode(field, bytes, m_header.nullFlagsOffset, m_codec, m_name).toText();
    }
}

Value DbfTable::value(qsizetype record, int field) const
{
    checkUsable(record, field);
    const DbfField &f = m_header.fields[field];
    const QByteArrayView bytes = recordAt(physical(record));
    if (!f.isMemo())
        return DbfFieldCodec::decode(f, bytes, m_header.nullFlagsOffset, m_codec, m_name);
    if (DbfFieldCodec::isNull(f, bytes, m_header.nullFlagsOffset))
        return Value::null();
    const std::optional<quint32> block =
        DbfFieldCodec::memoBlock(ByteCursor(bytes, m_name).view(f.offset, f.length));
    if (!block)
        return Value::null();
    if (!m_memo.isPresent())
        throw memoMissing();
    return DbfFieldCodec::memoValue(f, m_memo.read(*block), m_codec);
}

// ---- writing -------------------------------------------------------------

QByteArray DbfTable::memoData(const DbfField &f, const Value &v) const
{
    QByteArray data;
    if (f.isBinaryMemo()) {
        if (v.kind() != Value::Kind::Binary)
            throw EngineError(
                QStringLiteral("Field %1 of table %2 holds bytes, not text").arg(f.name, m_name),
                QStringLiteral("字段 %1 只能存放二进制数据，不能存放文字").arg(f.name));
        data = v.toBinary();
    } else {
        if (v.kind() == Value::Kind::Binary)
            throw EngineError(
                QStringLiteral("Field %1 of table %2 holds text, not bytes").arg(f.name, m_name),
                QStringLiteral("字段 %1 只能存放文字，不能存放二进制数据").arg(f.name));
        const std::optional<QByteArray> bytes = m_codec.encode(v.toText());
        if (!bytes)
            throw EngineError(
                QStringLiteral("Field %1 of table %2 cannot hold \"%3\": it has characters that code "
                               "page %4 lacks")
                    .arg(f.name, m_name, EngineError::excerpt(v.toText()),
                         QString::fromLatin1(m_codec.name())),
                QStringLiteral("字段 %1 放不下“%2”：其中有代码页 %3 里没有的字符")
                    .arg(f.name, EngineError::excerpt(v.toText()), QString::fromLatin1(m_codec.name())));
        data = *bytes;
        if (m_memo.usesEndMarker() && data.contains('\x1A'))
            throw EngineError(
                QStringLiteral("Field %1 of table %2 cannot hold the character 0x1A").arg(f.name, m_name),
                QStringLiteral("字段 %1 不能存放字符 0x1A").arg(f.name));
    }
    if (!m_memo.isPresent())
        throw memoMissing();
    return data;
}

// The first block a new memo can take in a memo file of `fileSize` bytes.
// The new memo goes after the last byte of the file, never where the
// header's next free block says: a header that lags behind the file would
// send it over blocks in use, and one written in the wrong byte order
// (0b 00 00 00) sends it gigabytes past the end. The header is then
// rewritten to the true next free block.
qint64 DbfTable::memoStart(qint64 fileSize) const
{
    const qint64 blockSize = m_memo.blockSize();
    const qint64 headerBlocks = (512 + blockSize - 1) / blockSize;
    const qint64 endBlocks = (fileSize + blockSize - 1) / blockSize;
    return std::max(endBlocks, headerBlocks);
}

QByteArray DbfTable::memoPointer(const DbfField &f, qint64 start, qint64 blocks) const
{
    QByteArray pointer;
    if (f.length == 4)
        pointer = QByteArray(4, '\0');
    else
        pointer = QByteArray::number(start).rightJustified(f.length, ' ');
    if (start + blocks > qint64(0xFFFFFFFFu) || pointer.size() > f.length)
        throw EngineError::format(u"%1 is full: no block number is left for a new memo",
                                  u"备注文件 %1 已满：没有块号可以给新的备注了",
                                  QFileInfo(m_memoPath).fileName());
    if (f.length == 4)
        ByteWriter(pointer).le32(0, quint32(start));
    return pointer;
}

QByteArray DbfTable::appendMemo(const DbfField &f, QByteArrayView data)
{
    const QString what = QFileInfo(m_memoPath).fileName();
    const quint32 blockSize = m_memo.blockSize();
    const QByteArray block = m_memo.encode(data, f.isBinaryMemo() ? 2 : 1);
    const LockedFile memo(m_memoPath, what, LockedFile::Mode::WriteLocked);
    const QByteArray head = memo.read(0, 8);
    if (head.size() < 8)
        throw EngineError::format(u"%1 is damaged: its header is missing", u"文件 %1 已损坏：缺少文件头",
                                  what);
    const qint64 start = memoStart(memo.size());
    const qint64 next = start + block.size() / blockSize;
    const QByteArray pointer = memoPointer(f, start, block.size() / blockSize);

    // The block is on disk before the header counts it, and both before
    // the record points to it.
    memo.write(start * blockSize, block);
    memo.sync();
    memo.write(DbfMemo::nextFreeOffset(), m_memo.encodeNextFree(quint32(next)));
    memo.sync();
    return pointer;
}

DbfTable::Prepared DbfTable::prepareUpdate(qsizetype record, int field, const Value &v) const
{
    checkUsable(record, field);
    if (m_path.isEmpty())
        throw EngineError::format(u"Table %1 was read from memory and cannot be written",
                                  u"数据表 %1 是从内存读取的，无法写入", m_name);
    const DbfField &f = m_header.fields[field];
    // Text is not encoded in a code page that was only guessed.
    const bool text = f.type == 'C' || f.type == 'V' || (f.isMemo() && !f.isBinaryMemo());
    if (m_unknownDriver >= 0 && text && !v.isNull())
        throw EngineError::format(
            u"Field %1 of table %2 is not written: the table's language-driver byte 0x%3 "
            u"names no code page this program knows (a .cpg file beside it naming the "
            u"code page settles it)",
            u"字段 %1 没有写入：数据表 %2 的语言驱动字节 0x%3 不对应本程序认识的任何代码页"
            u"（在它旁边放一个写明代码页的 .cpg 文件即可）",
            f.name, m_name, hexByte(unsigned(m_unknownDriver)));
    Prepared p;
    p.isNull = v.isNull();
    if (!f.isMemo()) {
        DbfFieldCodec::Encoded e = DbfFieldCodec::encode(f, v, m_codec, m_name);
        p.fieldBytes = std::move(e.bytes);
        p.isNull = e.isNull;
        p.varLength = e.varLength;
    } else if (p.isNull) {
        p.fieldBytes = f.length == 4 ? QByteArray(4, '\0') : QByteArray(f.length, ' ');
    } else {
        p.memo = memoData(f, v);
        // Refused now if the memo file has no room left; checked again
        // under the lock when it is written.
        const qint64 blocks = (m_memo.encode(p.memo, 1).size()) / m_memo.blockSize();
        memoPointer(f, memoStart(m_memo.size()), blocks);
    }
    return p;
}

void DbfTable::checkUpdate(qsizetype record, int field, const Value &v) const
{
    prepareUpdate(record, field, v);
}

void DbfTable::update(qsizetype record, int field, const Value &v)
{
    // Everything that can be refused is refused before the file is touched.
    Prepared prepared = prepareUpdate(record, field, v);
    const QString what = QFileInfo(m_path).fileName();
    const DbfField &f = m_header.fields[field];
    const bool isNull = prepared.isNull;
    const int varLength = prepared.varLength;
    QByteArray fieldBytes = std::move(prepared.fieldBytes);

    // Under a hold the file is locked already. (A second descriptor would
    // give up the hold's lock when it closed.)
    std::unique_ptr<LockedFile> own;
    if (!m_held)
        own = std::make_unique<LockedFile>(m_path, what, LockedFile::Mode::WriteLocked);
    const LockedFile &dbf = m_held ? *m_held : *own;
    const quint32 at = physical(record);
    const qint64 recordOffset = this->recordOffset(at);
    const QByteArray head = dbf.read(0, 32);
    const QByteArray current = dbf.read(recordOffset, m_header.recordLength);
    if (head.size() < 12 || head[0] != m_prologue[0] || head.mid(4, 8) != m_prologue.mid(4, 8) ||
        current.size() != m_header.recordLength || current[0] == '*')
        throw changedError();

    if (f.isMemo() && !isNull)
        fieldBytes = appendMemo(f, prepared.memo);

    QByteArray flags;
    if (f.nullBit >= 0 || f.lengthBit >= 0) {
        flags = current.mid(m_header.nullFlagsOffset, m_header.nullFlagsLength);
        const auto setBit = [&flags](int bit, bool on) {
            char &byte = flags[bit / 8];
            byte = on ? char(byte | (1 << (bit % 8))) : char(byte & ~(1 << (bit % 8)));
        };
        if (f.nullBit >= 0)
            setBit(f.nullBit, isNull);
        if (f.lengthBit >= 0)
            setBit(f.lengthBit, varLength >= 0);
    }

    // The last-update date keeps the writer's way of storing the year.
    const QByteArray date = DbfHeaderWriter::updateDate(QDate::currentDate(), quint8(head[1]));

    dbf.write(recordOffset + f.offset, fieldBytes);
    if (!flags.isEmpty())
        dbf.write(recordOffset + m_header.nullFlagsOffset, flags);
    dbf.write(DbfHeaderWriter::kUpdateDateOffset, date);
    dbf.sync();

    // Keep the records read ahead in step with the file.
    if (m_blockRecords > 0 && at >= m_blockFirst && at - m_blockFirst < m_blockRecords) {
        char *cached = m_block.data() + qint64(at - m_blockFirst) * m_header.recordLength;
        std::memcpy(cached + f.offset, fieldBytes.constData(), size_t(fieldBytes.size()));
        if (!flags.isEmpty())
            std::memcpy(cached + m_header.nullFlagsOffset, flags.constData(), size_t(flags.size()));
    }
}

} // namespace lumora::engine
