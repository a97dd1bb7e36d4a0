#include "data/engine/csv/CsvTable.h"

#include "data/engine/EngineError.h"
#include "data/engine/FieldNames.h"
#include "data/engine/csv/CsvCell.h"
#include "data/engine/io/OfficeLockFile.h"
#include "data/engine/io/SafeReplace.h"

#include <array>
#include <cmath>
#include <map>
#include <optional>

namespace lumora::engine {

namespace {

// How many records the type of a column is guessed from, as for workbooks.
constexpr int kGuessRows = 8;
// A text longer than this makes a Memo column, as for workbooks.
constexpr int kLongestText = 255;

enum class Category {
    None,
    Double,
    Currency,
    Date,
    Boolean,
    Text,
    Memo
};

Category categoryOf(const CsvCell &cell, qsizetype textLength)
{
    switch (cell.kind) {
    case CsvCell::Kind::Number: return Category::Double;
    case CsvCell::Kind::Currency: return Category::Currency;
    case CsvCell::Kind::Date: return Category::Date;
    case CsvCell::Kind::Boolean: return Category::Boolean;
    case CsvCell::Kind::Text: return textLength > kLongestText ? Category::Memo : Category::Text;
    case CsvCell::Kind::Empty: return Category::None;
    }
    return Category::None;
}

// Numbers and amounts are one family; a column mixing families reads as
// text. Dates are a family of their own: a text file's date is no serial
// number, and a column of both is shown as written.
int familyOf(Category c)
{
    switch (c) {
    case Category::Double:
    case Category::Currency: return 1;
    case Category::Boolean: return 2;
    case Category::Text:
    case Category::Memo: return 4;
    case Category::Date: return 8;
    case Category::None: return 0;
    }
    return 0;
}

qint16 daoTypeOf(Category c)
{
    switch (c) {
    case Category::Double: return DaoDouble;
    case Category::Currency: return DaoCurrency;
    case Category::Date: return DaoDate;
    case Category::Boolean: return DaoBoolean;
    case Category::Memo: return DaoMemo;
    default: return DaoText;
    }
}

QString encodingName(const CsvEncoding &e)
{
    return QString::fromLatin1(e.name);
}

EngineError notWritten(const QString &what, QStringView english, QStringView chinese)
{
    return EngineError(EngineError::fill(u"%1 is not written: %2", what, english.toString()),
                       EngineError::fill(u"没有写入 %1：%2", what, chinese.toString()));
}

} // namespace

CsvTable::CsvTable(QString path, QString what, QString name, std::shared_ptr<const CsvLayout> layout,
                   QByteArray named, QList<EngineNote> notes)
    : m_path(std::move(path))
    , m_what(std::move(what))
    , m_name(std::move(name))
    , m_named(std::move(named))
    , m_layout(std::move(layout))
    , m_notes(std::move(notes))
{
    const CsvLayout &l = *m_layout;
    const CsvEncoding &e = l.encoding();
    if (!e.fits)
        m_notes.append(EngineNote::warning(
            u"%1 is not valid %2 text: some characters may read wrongly, and nothing is written into it; a "
            u".cpg file beside it can name its encoding",
            u"%1 不是有效的 %2 文本：有些字符可能读错，也不会向其中写入；可在它旁边放一个 .cpg "
            u"文件写明其编码",
            m_what, encodingName(e)));
    else if (e.source == CsvEncoding::Source::Guessed)
        m_notes.append(EngineNote::information(
            u"%1 has no byte-order mark and is not UTF-8: it is read as %2",
            u"%1 没有字节顺序标记，也不是 UTF-8：按 %2 读取", m_what, encodingName(e)));
    if (l.unclosedQuote())
        m_notes.append(
            EngineNote::warning(u"%1 ends inside a quoted field: its last field runs to the end of the file",
                                u"%1 在引号内结束：最后一个字段一直延续到文件末尾", m_what));

    // The used rows and columns: those holding a field with text.
    const qsizetype rows = qsizetype(l.records().size());
    qsizetype first = -1, last = -1;
    int firstCol = CsvLayout::kMaxFields, lastCol = -1;
    for (qsizetype r = 0; r < rows; ++r) {
        const int count = l.records()[size_t(r)].count;
        for (int c = 0; c < count; ++c) {
            if (l.isEmpty(*l.span(r, c)))
                continue;
            if (first < 0)
                first = r;
            last = r;
            firstCol = std::min(firstCol, c);
            lastCol = std::max(lastCol, c);
        }
    }
    if (first < 0) {
        // A file without text still has the one field a workbook's empty sheet shows.
        m_fields.append({QStringLiteral("F1"), DaoText, 255, 0, true});
        return;
    }
    m_firstRow = first;
    m_firstCol = firstCol;
    m_records = last - first;
    const int width = lastCol - firstCol + 1;
    QStringList names;
    for (int i = 0; i < width; ++i) {
        const CsvSpan *span = l.span(first, firstCol + i);
        const QString text = span ? l.text(*span).trimmed() : QString();
        names.append(text.isEmpty() ? QStringLiteral("F%1").arg(i + 1) : text);
    }
    names = uniqueFieldNames(names);

    // Counts per column over the first records, and the families met in all.
    std::vector<std::array<int, 7>> counts(size_t(width), std::array<int, 7>{});
    std::vector<int> families(size_t(width), 0);
    for (qsizetype record = 0; record < m_records; ++record)
        for (int i = 0; i < width; ++i) {
            const CsvSpan *span = l.span(row(record), firstCol + i);
            if (!span || l.isEmpty(*span))
                continue;
            const QString text = l.text(*span);
            const Category c = categoryOf(CsvCell::guess(text), text.size());
            families[size_t(i)] |= familyOf(c);
            if (record < kGuessRows)
                ++counts[size_t(i)][size_t(c)];
        }
    for (int i = 0; i < width; ++i) {
        // Majority of the first records; a tie goes to text, which loses nothing.
        Category best = Category::Text;
        int most = 0;
        for (Category c : {Category::Text, Category::Memo, Category::Double, Category::Date,
                           Category::Currency, Category::Boolean})
            if (counts[size_t(i)][size_t(c)] > most) {
                most = counts[size_t(i)][size_t(c)];
                best = c;
            }
        const int f = families[size_t(i)];
        if (f != 0 && (f & (f - 1)) != 0 && best != Category::Memo)
            best = Category::Text; // numbers and texts mixed: nothing is dropped
        FieldInfo info;
        info.name = names[i];
        info.daoType = daoTypeOf(best);
        info.width = best == Category::Text ? 255 : 0;
        info.nullable = true;
        m_fields.append(info);
    }
}

// ---- reading -------------------------------------------------------------

Value CsvTable::value(qsizetype record, int field) const
{
    checkIndex(record, m_records, field, m_fields.size());
    const CsvLayout &l = *m_layout;
    const CsvSpan *span = l.span(row(record), m_firstCol + field);
    if (!span || l.isEmpty(*span))
        return Value::null();
    QString text = l.text(*span);
    const qint16 type = m_fields[field].daoType;
    if (type == DaoText || type == DaoMemo)
        return Value::text(std::move(text));
    const CsvCell cell = CsvCell::guess(text);
    switch (cell.kind) {
    case CsvCell::Kind::Number:
    case CsvCell::Kind::Currency:
        if (type == DaoCurrency && std::fabs(cell.number) < 9.2e14)
            return Value::currency(std::llround(cell.number * 10000.0));
        return type == DaoDouble || type == DaoCurrency ? Value::real(cell.number) : Value::null();
    case CsvCell::Kind::Date: return type == DaoDate ? Value::dateTime(cell.date) : Value::null();
    case CsvCell::Kind::Boolean: return type == DaoBoolean ? Value::boolean(cell.number != 0) : Value::null();
    default: return Value::null();
    }
}

// ---- writing -------------------------------------------------------------

QString CsvTable::fieldText(const Value &value, int field) const
{
    switch (value.kind()) {
    case Value::Kind::Null: return QString();
    case Value::Kind::Boolean: return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case Value::Kind::Binary:
        throw EngineError::format(u"Field %1 of table %2 cannot hold bytes",
                                  u"数据表 %2 的字段 %1 不能存放二进制数据", m_fields[field].name, m_name);
    default: return value.toText();
    }
}

QByteArray CsvTable::fieldBytes(const CellChange &change, bool quote) const
{
    checkIndex(change.record, m_records, change.field, m_fields.size());
    const CsvLayout &l = *m_layout;
    const QString text = fieldText(change.value, change.field);
    std::optional<QByteArray> bytes = l.fieldBytes(text, quote && !text.isEmpty());
    if (bytes)
        return std::move(*bytes);
    // The first character the encoding cannot hold, for the message.
    QString missing;
    for (qsizetype i = 0; i < text.size() && missing.isEmpty(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        if (!l.codec().encode(text.mid(i, n)))
            missing = text.mid(i, n);
        i += n - 1;
    }
    throw EngineError::format(
        u"\"%1\" cannot be written into field %2 of %3: the file is %4 text, which has no form for "
        u"the character %5",
        u"无法把“%1”写入 %3 的字段 %2：文件的编码是 %4，其中没有字符“%5”", EngineError::excerpt(text),
        m_fields[change.field].name, m_what, encodingName(l.encoding()), missing);
}

void CsvTable::refuseUnlessWritable() const
{
    if (m_path.isEmpty())
        throw EngineError::format(u"%1 was read from memory and cannot be written",
                                  u"%1 是从内存读取的，无法写入", m_what);
    refuseWhileOfficeHoldsOpen(m_path, m_what);
}

void CsvTable::refuseUnlessFits() const
{
    const CsvEncoding &e = m_layout->encoding();
    if (!e.fits)
        throw notWritten(
            m_what,
            EngineError::fill(u"its bytes are not valid %1 text, so text written into it might not read "
                              u"back; a .cpg file beside it can name its encoding",
                              encodingName(e)),
            EngineError::fill(u"它的字节不是有效的 %1 文本，写入的文字可能读不回来；可在它旁边放一个 .cpg "
                              u"文件写明其编码",
                              encodingName(e)));
}

QByteArray CsvTable::applyEdits(const QList<CellChange> &changes, bool quoteAll) const
{
    const CsvLayout &l = *m_layout;
    // The last change of a field counts; in file order.
    std::map<std::pair<qsizetype, int>, QByteArray> fields;
    for (const CellChange &change : changes)
        fields[{row(change.record), m_firstCol + change.field}] = fieldBytes(change, quoteAll);

    const QByteArray &file = l.file();
    const QByteArray delimiter = l.delimiterBytes();
    QByteArray out;
    out.reserve(file.size() + 256);
    qsizetype copied = 0;
    for (auto it = fields.begin(); it != fields.end();) {
        const qsizetype r = it->first.first;
        const int count = l.records()[size_t(r)].count;
        QByteArray appended; // fields past the record's last one
        int appendedUpTo = count - 1;
        for (; it != fields.end() && it->first.first == r; ++it) {
            const int c = it->first.second;
            if (const CsvSpan *span = l.span(r, c)) {
                out.append(file.constData() + copied, span->begin - copied);
                out.append(it->second);
                copied = span->end;
                continue;
            }
            for (; appendedUpTo < c; ++appendedUpTo)
                appended += delimiter;
            appended += it->second;
        }
        if (!appended.isEmpty()) {
            const qsizetype end = l.recordEnd(r);
            out.append(file.constData() + copied, end - copied);
            out.append(appended);
            copied = end;
        }
    }
    out.append(file.constData() + copied, file.size() - copied);
    return out;
}

bool CsvTable::readsBack(const QByteArray &file, const QList<CellChange> &changes) const
{
    const CsvLayout &before = *m_layout;
    const CsvEncoding encoding = CsvEncoding::detect(file, m_named);
    if (CsvLayout::sniff(file, encoding) != before.delimiter())
        return false;
    const auto differs = [&]() {
        return notWritten(m_what, u"the changed file would not read back as written",
                          u"改动后的文件读回来与写入的内容不符");
    };
    std::map<std::pair<qsizetype, int>, QString> changed;
    for (const CellChange &change : changes)
        changed[{row(change.record), m_firstCol + change.field}] = fieldText(change.value, change.field);
    std::optional<CsvLayout> read;
    try {
        read.emplace(file, encoding, before.delimiter(), m_what);
    } catch (const EngineError &e) {
        throw notWritten(m_what, e.message(), e.chinese());
    }
    const CsvLayout &after = *read;
    if (after.records().size() != before.records().size())
        throw differs();
    for (qsizetype r = 0; r < qsizetype(before.records().size()); ++r) {
        const int n = std::max(before.records()[size_t(r)].count, after.records()[size_t(r)].count);
        for (int c = 0; c < n; ++c) {
            const auto it = changed.find({r, c});
            const CsvSpan *was = before.span(r, c);
            const CsvSpan *is = after.span(r, c);
            const QString expected = it != changed.end() ? it->second : was ? before.text(*was) : QString();
            if ((is ? after.text(*is) : QString()) != expected)
                throw differs();
        }
    }
    return true;
}

QByteArray CsvTable::prepare(const QList<CellChange> &changes) const
{
    if (changes.isEmpty())
        return {};
    refuseUnlessWritable();
    return rewritten(changes);
}

QByteArray CsvTable::rewritten(const QList<CellChange> &changes) const
{
    refuseUnlessFits();
    // Quoted only when it must be: when the field, unquoted, would make the
    // file's delimiter read otherwise, it is quoted.
    for (const bool quoteAll : {false, true}) {
        QByteArray out = applyEdits(changes, quoteAll);
        if (out == m_layout->file())
            return {};
        if (readsBack(out, changes))
            return out;
    }
    throw notWritten(m_what, u"with the new text its delimiter would read otherwise",
                     u"写入新文字后，文件的分隔符会被认错");
}

void CsvTable::checkUpdate(qsizetype record, int field, const Value &value) const
{
    // What update() refuses, without making the new file: the roster check
    // asks this for every row. A field appended to a last record whose quote
    // never closes would land inside the quote, so the read-back refuses it.
    const CellChange change{record, field, value};
    refuseUnlessWritable();
    refuseUnlessFits();
    fieldBytes(change, false);
    const CsvLayout &l = *m_layout;
    const qsizetype r = row(record);
    if (l.unclosedQuote() && r + 1 == qsizetype(l.records().size()) && !l.span(r, m_firstCol + field))
        throw notWritten(m_what, u"the changed file would not read back as written",
                         u"改动后的文件读回来与写入的内容不符");
}

void CsvTable::update(qsizetype record, int field, const Value &value)
{
    updateAll({{record, field, value}});
}

void CsvTable::checkUpdateAll(const QList<CellChange> &changes) const
{
    QByteArray file = prepare(changes);
    m_prepared = {changes, m_layout, std::move(file)};
}

void CsvTable::updateAll(const QList<CellChange> &changes)
{
    QByteArray out;
    if (m_prepared.layout == m_layout && m_prepared.changes == changes)
        out = std::move(m_prepared.file);
    else
        out = prepare(changes);
    m_prepared = {};
    if (out.isEmpty())
        return;
    refuseWhileOfficeHoldsOpen(m_path, m_what);
    // The lock keeps another copy of this program from writing at the same
    // time; a file another program changed or replaced since it was read is
    // not written over: Code::Changed has the statement read it again.
    SafeReplace file(m_path, m_what);
    file.checkHolds(m_layout->file());
    file.replace(out);
    m_layout = std::make_shared<const CsvLayout>(out, m_layout->encoding(), m_layout->delimiter(), m_what);
}

} // namespace lumora::engine
