#include "data/engine/dbf/DbfTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/SystemErrorText.h"
#include "data/engine/dbf/ByteCursor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

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

void putLe32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char(v >> (8 * i));
}

void putLe64(char *p, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = char(v >> (8 * i));
}

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

// ---- file helpers ------------------------------------------------------

// The error for a file that cannot be read: Qt's words in English, and the
// system's reason in Chinese when the failed call left one in errno.
EngineError unreadable(const QString &what, const QFile &file, int error)
{
    const QString why = error != 0 ? systemErrorText(error).chinese : QStringLiteral("读取出错");
    return EngineError(QStringLiteral("%1 cannot be read: %2").arg(what, file.errorString()),
                       QStringLiteral("%1 无法读取：%2").arg(what, why));
}

QByteArray readWhole(const QString &path, const QString &what)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        throw unreadable(what, file, errno);
    QByteArray bytes;
    try {
        bytes = file.readAll();
    } catch (const std::bad_alloc &) {
        throw EngineError::format(u"%1 is too large to read (%2 bytes)", u"文件 %1 太大，读不进来（%2 个字节）", what,
                                  file.size());
    }
    if (file.error() != QFileDevice::NoError)
        throw unreadable(what, file, errno);
    return bytes;
}

// The file beside `path` with the same base name and extension `ext`, in
// any letter case; the exact spelling wins.
QString sibling(const QString &path, const QString &ext)
{
    const QFileInfo info(path);
    const QDir dir = info.dir();
    const QString base = info.completeBaseName();
    const QString exact = dir.filePath(base + QLatin1Char('.') + ext);
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString &n : names) {
        const QFileInfo candidate(n);
        if (candidate.suffix().compare(ext, Qt::CaseInsensitive) == 0 &&
            candidate.completeBaseName().compare(base, Qt::CaseInsensitive) == 0)
            return dir.filePath(n);
    }
    return {};
}

// How long a write waits for another program's lock on the file to go.
constexpr int kLockWaitMs = 2000;
constexpr int kLockRetryMs = 50;

// An open descriptor with a whole-file write lock, released on close.
class LockedFile
{
public:
    LockedFile(const QString &path, const QString &what) : m_what(what)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            fail(u"cannot be opened for writing", u"无法写入");
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 0;  // to the end, however far it grows
        // xBase programs lock a record with one byte far past the end of
        // the file and may hold it for as long as a form is open: waiting
        // for the lock (F_SETLKW) could freeze the window for good.
        for (int waited = 0; ::fcntl(m_fd, F_SETLK, &lock) != 0;) {
            if (errno == EINTR)
                continue;
            if (errno != EACCES && errno != EAGAIN) {
                const int error = errno;
                ::close(m_fd);
                errno = error;
                fail(u"cannot be locked", u"无法加锁");
            }
            if (waited >= kLockWaitMs) {
                ::close(m_fd);
                m_fd = -1;
                throw EngineError(
                    QStringLiteral("%1 is locked by another program; close it there and try again").arg(m_what),
                    QStringLiteral("数据表被其他程序锁定：%1，请在那个程序中关闭它后再试").arg(m_what),
                    EngineError::Code::Locked);
            }
            ::usleep(kLockRetryMs * 1000);
            waited += kLockRetryMs;
        }
    }
    ~LockedFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);  // also releases the lock
    }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    qint64 size() const
    {
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (end < 0)
            fail(u"cannot be measured", u"无法取得大小");
        return end;
    }
    QByteArray read(qint64 offset, qint64 length) const
    {
        QByteArray out(length, '\0');
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(m_fd, out.data() + done, size_t(length - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail(u"cannot be read", u"无法读取");
            if (n == 0)
                break;
            done += n;
        }
        out.truncate(done);
        return out;
    }
    void write(qint64 offset, QByteArrayView bytes) const
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::pwrite(m_fd, bytes.data() + done, size_t(bytes.size() - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail(u"cannot be written", u"无法写入");
            done += n;
        }
    }
    void sync() const
    {
        if (::fsync(m_fd) != 0)
            fail(u"cannot be flushed to disk", u"无法存到磁盘上");
    }

private:
    // Throws the error of the system call that just failed; `doing` says
    // what could not be done, in English and in Chinese.
    [[noreturn]] void fail(QStringView doing, QStringView chinese) const
    {
        const SystemErrorText why = systemErrorText(errno);
        throw EngineError(QStringLiteral("%1 %2: %3").arg(m_what, doing, why.english),
                          QStringLiteral("%1 %2：%3").arg(m_what, chinese, why.chinese));
    }

    int m_fd = -1;
    QString m_what;
};

} // namespace

// ---- opening -------------------------------------------------------------

DbfTable::DbfTable(QString name, QString path, QByteArray bytes, const QByteArray &codecName)
    : m_name(std::move(name)), m_path(std::move(path)), m_bytes(std::move(bytes))
{
    const QString what = m_path.isEmpty() ? m_name : QFileInfo(m_path).fileName();
    const quint8 driver = m_bytes.size() > 29 ? quint8(m_bytes[29]) : 0;
    const QByteArray codePage = codecName.isEmpty() ? DbfTextCodec::nameForLanguageDriver(driver) : codecName;
    m_codec = DbfTextCodec(codePage.isEmpty() ? QByteArray("GBK") : codePage);
    if (codePage.isEmpty()) {
        m_unknownDriver = driver;
        m_notes.append(QStringLiteral("%1: its language-driver byte 0x%2 names no code page this program knows; its "
                                      "text is read as GBK and none is written into it (a .cpg file beside it naming "
                                      "the code page, such as CP1252, settles it)")
                           .arg(what)
                           .arg(driver, 2, 16, QLatin1Char('0')));
    }
    m_header = DbfHeader::parse(m_bytes, m_codec, what);
    for (const DbfField &f : m_header.fields)
        m_fields.append(f.info());

    // One pass over the deletion flags gives the live records. A flag
    // that is neither means the header's lengths are wrong and every value
    // would be read shifted; the end-of-file mark where a record should
    // start ends a table whose header promised more.
    m_live.reserve(m_header.presentRecords);
    const ByteCursor in(m_bytes, what);
    quint32 present = 0;
    for (; present < m_header.presentRecords; ++present) {
        const qint64 offset = qint64(m_header.headerLength) + qint64(present) * m_header.recordLength;
        const quint8 flag = in.u8(offset);
        if (flag == 0x1A)
            break;
        if (flag != ' ' && flag != '*')
            throw EngineError::format(u"%1 is damaged: record %2 starts with byte 0x%3 at offset %4, neither "
                                      u"blank (live) nor * (deleted)",
                                      u"文件 %1 已损坏：第 %2 条记录开头（第 %4 个字节处）是 0x%3，"
                                      u"既不是空格（有效记录）也不是 *（已删除）",
                                      what, present + 1, hexByte(flag), offset);
        if (flag == ' ')
            m_live.push_back(offset);
    }
    if (present < m_header.recordCount)
        m_notes.append(QStringLiteral("%1: its header promises %2 records, but only %3 are present in full; "
                                      "those %3 are read")
                           .arg(what)
                           .arg(m_header.recordCount)
                           .arg(present));
}

void DbfTable::attachMemo(QString memoPath, QByteArray memoBytes, DbfMemo::Kind kind)
{
    m_memoPath = std::move(memoPath);
    const bool dbase4 = m_header.version == 0x8B || m_header.version == 0xCB || m_header.version == 0x8E;
    const QString what = m_memoPath.isEmpty() ? m_name + QStringLiteral(" (memo)") : QFileInfo(m_memoPath).fileName();
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
    QByteArray codecName;
    const QString cpg = sibling(path, QStringLiteral("cpg"));
    if (!cpg.isEmpty()) {
        QFile file(cpg);
        if (file.open(QIODevice::ReadOnly))
            codecName = DbfTextCodec::nameForCpg(file.read(256));
    }
    std::unique_ptr<DbfTable> table(new DbfTable(name, path, readWhole(path, what), codecName));
    if (table->m_header.hasMemoFields()) {
        const QString fpt = sibling(path, QStringLiteral("fpt"));
        const QString dbt = sibling(path, QStringLiteral("dbt"));
        QString memo = table->m_header.prefersFpt() ? (fpt.isEmpty() ? dbt : fpt) : (dbt.isEmpty() ? fpt : dbt);
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
    std::unique_ptr<DbfTable> table(new DbfTable(name, QString(), std::move(dbf), codecName));
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

void DbfTable::checkIndex(qsizetype record, int field) const
{
    if (record < 0 || record >= recordCount())
        throw EngineError::format(u"Table %1 has no record %2 (it has %3)", u"数据表 %1 中没有记录 %2（共 %3 条）", m_name,
                                  record, recordCount());
    if (field < 0 || field >= m_fields.size())
        throw EngineError::format(u"Table %1 has no field %2", u"数据表 %1 中没有第 %2 号字段", m_name, field);
}

bool DbfTable::flagSet(const char *record, int bit) const
{
    return (uchar(record[m_header.nullFlagsOffset + bit / 8]) >> (bit % 8)) & 1;
}

std::optional<QByteArray> DbfTable::readMemo(QByteArrayView pointer) const
{
    quint32 block = 0;
    if (pointer.size() == 4) {
        block = ByteCursor(pointer, m_name).u32le(0);
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
    if (!m_memo.isPresent())
        throw memoMissing();
    return m_memo.read(block);
}

Value DbfTable::value(qsizetype record, int field) const
{
    checkIndex(record, field);
    const DbfField &f = m_header.fields[field];
    const QByteArrayView bytes = QByteArrayView(m_bytes).sliced(m_live[size_t(record)], m_header.recordLength);
    const char *base = bytes.data();
    if (f.nullBit >= 0 && flagSet(base, f.nullBit))
        return Value::null();
    // The cursor (which holds the table's name for its errors) is only made
    // for the types that read integers, or to report a field out of bounds:
    // this runs for every cell of every record the grid loads.
    const auto cursor = [&] { return ByteCursor(bytes, m_name); };
    if (f.offset < 0 || f.length < 0 || f.offset > bytes.size() - f.length)
        cursor().view(f.offset, f.length);
    const QByteArrayView raw = bytes.sliced(f.offset, f.length);

    switch (f.type) {
    case 'N':
    case 'F': {
        // Numbers are doubles, as the old engine held them, except whole
        // numbers a double cannot hold: an 18-digit identity number stays
        // exact, so it shows, compares and writes back as stored.
        if (const auto whole = parseWhole(raw); whole && (*whole > kExactInDouble || *whole < -kExactInDouble))
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
        case 'T': case 't': case 'Y': case 'y': return Value::boolean(true);
        case 'F': case 'f': case 'N': case 'n': return Value::boolean(false);
        default: return Value::null();
        }
    case 'I':
        return Value::integer(cursor().i32le(f.offset));
    case 'B':
        return Value::real(cursor().f64le(f.offset));
    case 'Y':
        return Value::currency(cursor().i64le(f.offset));
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
        return Value::dateTime(QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(seconds % 86400) * 1000), Qt::UTC));
    }
    case 'V':
    case 'Q': {
        QByteArrayView data = raw;
        if (f.lengthBit >= 0 && flagSet(base, f.lengthBit) && !raw.isEmpty())
            data = raw.first(std::min<qsizetype>(uchar(raw.back()), raw.size() - 1));
        else if (f.type == 'V')
            data = cutText(raw);
        return f.type == 'Q' ? Value::binary(data.toByteArray()) : Value::text(m_codec.decode(data));
    }
    case 'M':
    case 'G':
    case 'P':
    case 'W': {
        const std::optional<QByteArray> data = readMemo(raw);
        if (!data)
            return Value::null();
        return f.isBinaryMemo() ? Value::binary(*data) : Value::text(m_codec.decode(*data));
    }
    default:  // C, and types this codec does not know, as text
        return Value::text(m_codec.decode(cutText(raw)));
    }
}

// ---- writing -------------------------------------------------------------

QByteArray DbfTable::encodeField(const DbfField &f, const Value &v, const DbfTextCodec &codec,
                                 const QString &table, bool *isNull, int *varLength)
{
    // `why` and `chinese` go on from the field's name: "is 1 bytes wide",
    // "只有 1 个字节宽".
    const auto refuse = [&](const QString &why, const QString &chinese) {
        return EngineError(QStringLiteral("Field %1 of table %2 %3").arg(f.name, table, why),
                           QStringLiteral("字段 %1 %2").arg(f.name, chinese));
    };
    const auto encodeText = [&](const QString &text) {
        const std::optional<QByteArray> bytes = codec.encode(text);
        if (!bytes)
            throw refuse(QStringLiteral("cannot hold \"%1\": it has characters that code page %2 lacks")
                             .arg(text, QString::fromLatin1(codec.name())),
                         QStringLiteral("放不下“%1”：其中有代码页 %2 里没有的字符")
                             .arg(text, QString::fromLatin1(codec.name())));
        return *bytes;
    };
    *isNull = v.isNull();
    *varLength = -1;

    if (v.isNull()) {
        switch (f.type) {
        case 'C': case 'N': case 'F': case 'D': case 'L':
            return QByteArray(f.length, ' ');
        case 'T':
            return QByteArray(f.length, '\0');
        case 'V': case 'Q':
            *varLength = 0;
            return QByteArray(f.length, f.type == 'V' ? ' ' : '\0');
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
                throw refuse(QStringLiteral("holds bytes, not %1").arg(v.toText()),
                             QStringLiteral("只能存放二进制数据，不能存放“%1”").arg(v.toText()));
            bytes = v.toBinary();
        } else {
            if (v.kind() == Value::Kind::Binary)
                throw refuse(QStringLiteral("holds text, not bytes"), QStringLiteral("只能存放文字，不能存放二进制数据"));
            bytes = encodeText(v.toText());
        }
        if (bytes.size() > f.length)
            throw refuse(QStringLiteral("is %1 bytes wide; \"%2\" needs %3")
                             .arg(QString::number(f.length), v.toText(), QString::number(bytes.size())),
                         QStringLiteral("只有 %1 个字节宽，放不下“%2”（需要 %3 个字节）")
                             .arg(QString::number(f.length), v.toText(), QString::number(bytes.size())));
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
                                 .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())),
                             QStringLiteral("只有 %1 个字符宽，放不下 %2（需要 %3 个字符）")
                                 .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())));
            return text.rightJustified(f.length, ' ');
        }
        const std::optional<double> d = numberOf(v);
        if (!d || !std::isfinite(*d))
            throw refuse(QStringLiteral("holds numbers; \"%1\" is not one").arg(v.toText()),
                         QStringLiteral("只能存放数字，“%1”不是数字").arg(v.toText()));
        if (decimalsOf(*d) > f.decimals)
            throw refuse(QStringLiteral("allows %1 decimals; %2 has more").arg(f.decimals).arg(Value::formatNumber(*d)),
                         QStringLiteral("最多只能有 %1 位小数，%2 的小数位太多")
                             .arg(f.decimals)
                             .arg(Value::formatNumber(*d)));
        QByteArray text = QByteArray::number(*d, 'f', f.decimals);
        if (text.startsWith('-') && text.count('0') + text.count('.') == text.size() - 1)
            text.remove(0, 1);  // no "-0"
        if (text.size() > f.length)
            throw refuse(QStringLiteral("is %1 characters wide; %2 needs %3")
                             .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())),
                         QStringLiteral("只有 %1 个字符宽，放不下 %2（需要 %3 个字符）")
                             .arg(QString::number(f.length), QString::fromLatin1(text), QString::number(text.size())));
        return text.rightJustified(f.length, ' ');
    }
    case 'D': {
        QDate date;
        if (v.kind() == Value::Kind::DateTime) {
            if (v.toDateTime().time() != QTime(0, 0))
                throw refuse(QStringLiteral("holds dates; %1 has a time of day").arg(v.toText()),
                             QStringLiteral("只能存放日期，%1 带有时刻").arg(v.toText()));
            date = v.toDateTime().date();
        } else if (v.kind() == Value::Kind::Text) {
            const QString text = v.textValue().trimmed();
            date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!date.isValid())
                date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
        }
        if (!date.isValid() || date.year() < 1 || date.year() > 9999)
            throw refuse(QStringLiteral("holds dates; \"%1\" is not one").arg(v.toText()),
                         QStringLiteral("只能存放日期，“%1”不是日期").arg(v.toText()));
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
            throw refuse(QStringLiteral("holds True or False, not \"%1\"").arg(v.toText()),
                         QStringLiteral("只能存放“真”或“假”，不能存放“%1”").arg(v.toText()));
        return QByteArray(1, mark).leftJustified(f.length, ' ');
    }
    case 'I': {
        const std::optional<double> d = numberOf(v);
        if (!d || *d != std::floor(*d) || *d < -2147483648.0 || *d > 2147483647.0)
            throw refuse(QStringLiteral("holds whole numbers up to 2147483647; \"%1\" is not one").arg(v.toText()),
                         QStringLiteral("只能存放不超过 2147483647 的整数，不能存放“%1”").arg(v.toText()));
        QByteArray out(4, '\0');
        putLe32(out.data(), quint32(qint32(v.kind() == Value::Kind::Integer ? v.toInteger() : qint64(*d))));
        return out;
    }
    case 'B': {
        const std::optional<double> d = numberOf(v);
        if (!d)
            throw refuse(QStringLiteral("holds numbers; \"%1\" is not one").arg(v.toText()),
                         QStringLiteral("只能存放数字，“%1”不是数字").arg(v.toText()));
        quint64 bits;
        std::memcpy(&bits, &*d, sizeof bits);
        QByteArray out(8, '\0');
        putLe64(out.data(), bits);
        return out;
    }
    case 'Y': {
        qint64 units = 0;
        if (v.kind() == Value::Kind::Currency) {
            units = v.toInteger();
        } else if (v.kind() == Value::Kind::Integer) {
            if (v.toInteger() > 922337203685477 || v.toInteger() < -922337203685477)
                throw refuse(QStringLiteral("cannot hold %1").arg(v.toText()),
                             QStringLiteral("放不下 %1").arg(v.toText()));
            units = v.toInteger() * 10000;
        } else {
            const std::optional<double> d = numberOf(v);
            if (!d || !std::isfinite(*d) || std::fabs(*d) > 9.0e14 || decimalsOf(*d) > 4)
                throw refuse(QStringLiteral("holds amounts with up to 4 decimals; \"%1\" is not one").arg(v.toText()),
                             QStringLiteral("只能存放最多 4 位小数的金额，不能存放“%1”").arg(v.toText()));
            units = std::llround(*d * 10000.0);
        }
        QByteArray out(8, '\0');
        putLe64(out.data(), quint64(units));
        return out;
    }
    case 'T': {
        if (v.kind() != Value::Kind::DateTime)
            throw refuse(QStringLiteral("holds dates and times; \"%1\" is not one").arg(v.toText()),
                         QStringLiteral("只能存放日期和时间，不能存放“%1”").arg(v.toText()));
        const QDateTime dt = v.toDateTime();
        QByteArray out(8, '\0');
        putLe32(out.data(), quint32(qint32(dt.date().toJulianDay())));
        putLe32(out.data() + 4, quint32(dt.time().msecsSinceStartOfDay()));
        return out;
    }
    default:
        throw refuse(QStringLiteral("has type %1, which cannot be written").arg(QChar::fromLatin1(f.type)),
                     QStringLiteral("是 %1 类型，本程序写不了").arg(QChar::fromLatin1(f.type)));
    }
}

QByteArray DbfTable::memoData(const DbfField &f, const Value &v) const
{
    QByteArray data;
    if (f.isBinaryMemo()) {
        if (v.kind() != Value::Kind::Binary)
            throw EngineError(QStringLiteral("Field %1 of table %2 holds bytes, not text").arg(f.name, m_name),
                              QStringLiteral("字段 %1 只能存放二进制数据，不能存放文字").arg(f.name));
        data = v.toBinary();
    } else {
        if (v.kind() == Value::Kind::Binary)
            throw EngineError(QStringLiteral("Field %1 of table %2 holds text, not bytes").arg(f.name, m_name),
                              QStringLiteral("字段 %1 只能存放文字，不能存放二进制数据").arg(f.name));
        const std::optional<QByteArray> bytes = m_codec.encode(v.toText());
        if (!bytes)
            throw EngineError(QStringLiteral("Field %1 of table %2 cannot hold \"%3\": it has characters that code "
                                             "page %4 lacks")
                                  .arg(f.name, m_name, v.toText(), QString::fromLatin1(m_codec.name())),
                              QStringLiteral("字段 %1 放不下“%2”：其中有代码页 %3 里没有的字符")
                                  .arg(f.name, v.toText(), QString::fromLatin1(m_codec.name())));
        data = *bytes;
        if (m_memo.usesEndMarker() && data.contains('\x1A'))
            throw EngineError(QStringLiteral("Field %1 of table %2 cannot hold the character 0x1A").arg(f.name, m_name),
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
                                  u"备注文件 %1 已满：没有块号可以给新的备注了", QFileInfo(m_memoPath).fileName());
    if (f.length == 4)
        putLe32(pointer.data(), quint32(start));
    return pointer;
}

QByteArray DbfTable::appendMemo(const DbfField &f, QByteArrayView data)
{
    const QString what = QFileInfo(m_memoPath).fileName();
    const quint32 blockSize = m_memo.blockSize();
    const QByteArray block = m_memo.encode(data, f.isBinaryMemo() ? 2 : 1);
    LockedFile memo(m_memoPath, what);
    const QByteArray head = memo.read(0, 8);
    if (head.size() < 8)
        throw EngineError::format(u"%1 is damaged: its header is missing", u"文件 %1 已损坏：缺少文件头", what);
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
    checkIndex(record, field);
    if (m_path.isEmpty())
        throw EngineError::format(u"Table %1 was read from memory and cannot be written",
                                  u"数据表 %1 是从内存读取的，无法写入", m_name);
    const DbfField &f = m_header.fields[field];
    // Text is not encoded in a code page that was only guessed.
    const bool text = f.type == 'C' || f.type == 'V' || (f.isMemo() && !f.isBinaryMemo());
    if (m_unknownDriver >= 0 && text && !v.isNull())
        throw EngineError::format(u"Field %1 of table %2 is not written: the table's language-driver byte 0x%3 "
                                  u"names no code page this program knows (a .cpg file beside it naming the "
                                  u"code page settles it)",
                                  u"字段 %1 没有写入：数据表 %2 的语言驱动字节 0x%3 不对应本程序认识的任何代码页"
                                  u"（在它旁边放一个写明代码页的 .cpg 文件即可）",
                                  f.name, m_name, hexByte(unsigned(m_unknownDriver)));
    Prepared p;
    p.isNull = v.isNull();
    if (!f.isMemo()) {
        p.fieldBytes = encodeField(f, v, m_codec, m_name, &p.isNull, &p.varLength);
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

    LockedFile dbf(m_path, what);
    const qint64 recordOffset = m_live[size_t(record)];
    const QByteArray head = dbf.read(0, 32);
    const QByteArray current = dbf.read(recordOffset, m_header.recordLength);
    if (head.size() < 12 || head[0] != m_bytes[0] || head.mid(4, 8) != m_bytes.mid(4, 8) ||
        current.size() != m_header.recordLength || current[0] == '*')
        throw EngineError::format(u"%1 was changed by another program since it was opened; open it again",
                                  u"文件 %1 在打开之后被其他程序改过了，请重新打开", what);

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
    const QDate today = QDate::currentDate();
    const bool twoDigitYear = quint8(head[1]) < 100;
    QByteArray date(3, '\0');
    date[0] = char(twoDigitYear ? today.year() % 100 : std::clamp(today.year() - 1900, 0, 255));
    date[1] = char(today.month());
    date[2] = char(today.day());

    dbf.write(recordOffset + f.offset, fieldBytes);
    if (!flags.isEmpty())
        dbf.write(recordOffset + m_header.nullFlagsOffset, flags);
    dbf.write(1, date);
    dbf.sync();

    // Keep the copy in memory in step with the file.
    std::memcpy(m_bytes.data() + recordOffset + f.offset, fieldBytes.constData(), size_t(fieldBytes.size()));
    if (!flags.isEmpty())
        std::memcpy(m_bytes.data() + recordOffset + m_header.nullFlagsOffset, flags.constData(), size_t(flags.size()));
    std::memcpy(m_bytes.data() + 1, date.constData(), 3);
}

} // namespace lumora::engine
