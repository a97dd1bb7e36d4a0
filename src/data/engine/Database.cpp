#include "data/engine/Database.h"

#include "data/engine/EngineError.h"
#include "data/engine/csv/CsvBackend.h"
#include "data/engine/dbf/DbfBackend.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/mdb/MdbBackend.h"
#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlEvaluator.h"
#include "data/engine/sql/SqlKeywords.h"
#include "data/engine/sql/SqlParser.h"
#include "data/engine/xls/XlsBackend.h"
#include "data/engine/xlsx/XlsxBackend.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace lumora::engine {

namespace {

// How many times an update statement runs on a file that other programs
// keep changing under it before it gives up.
constexpr int kUpdateAttempts = 8;

// Which backend opens a file, by connect string: the first kind that
// matches it.
struct BackendKind
{
    bool (*matches)(const QString &connect);
    std::unique_ptr<Backend> (*open)(const QString &path);
    // For a kind that reads options from the connect string: used instead.
    std::unique_ptr<Backend> (*openWith)(const QString &path, const QString &connect) = nullptr;
};

bool startsWith(const QString &connect, const char *prefix)
{
    return connect.trimmed().startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

std::unique_ptr<Backend> openDbf(const QString &path)
{
    // The database of a dBase or FoxPro table is the folder holding it.
    const QFileInfo info(path);
    return openDbfFolder(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
}

// An Excel workbook of either kind, told by its content rather than its
// name: an OLE2 compound file is an .xls workbook (an encrypted workbook is
// one too, and refused by it), a zip archive an .xlsx one.
std::unique_ptr<Backend> openExcelWorkbook(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw EngineError::format(u"The workbook %1 does not exist", u"工作簿 %1 不存在", path);
    QByteArray head;
    {
        const LockedFile file(path, QFileInfo(path).fileName(), LockedFile::Mode::Read);
        head = file.read(0, 4);
    }
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return openXlsxWorkbook(path);
    return openXlsWorkbook(path);
}

const BackendKind backendKinds[] = {
    {[](const QString &c) { return startsWith(c, "foxpro") || startsWith(c, "dbase"); }, openDbf},
    // Excel: an .xls or an .xlsx workbook, told apart by its content.
    {[](const QString &c) { return startsWith(c, "excel"); }, openExcelWorkbook},
    // Delimited text: "Text", options after ';' ("Text;charset=GBK").
    {[](const QString &c) { return startsWith(c, "text"); }, nullptr, openTextFile},
    // Access: the connect string is empty or carries only options (";pwd=...").
    {[](const QString &c) { return c.trimmed().isEmpty() || c.trimmed().startsWith(QLatin1Char(';')); },
     nullptr, openMdb},
};

// A table name as the program passes it, brackets allowed; inside them a
// doubled "]" stands for one, as in statements.
QString unbracket(QStringView name)
{
    name = name.trimmed();
    if (name.size() >= 2 && name.front() == QLatin1Char('[') && name.back() == QLatin1Char(']'))
        return name.mid(1, name.size() - 2).toString().replace(QLatin1String("]]"), QLatin1String("]"));
    return name.toString();
}

qint16 daoTypeOf(const SqlExpr &e)
{
    switch (e.op) {
    case SqlExpr::Op::Literal:
        switch (e.value.kind()) {
        case Value::Kind::Boolean: return DaoBoolean;
        case Value::Kind::Integer: return DaoLong;
        case Value::Kind::Double: return DaoDouble;
        case Value::Kind::Currency: return DaoCurrency;
        case Value::Kind::DateTime: return DaoDate;
        case Value::Kind::Binary: return DaoLongBinary;
        default: return DaoText;
        }
    case SqlExpr::Op::Negate: return DaoDouble;
    case SqlExpr::Op::Not:
    case SqlExpr::Op::And:
    case SqlExpr::Op::Or:
    case SqlExpr::Op::Compare:
    case SqlExpr::Op::IsNull: return DaoBoolean;
    default: return DaoText;
    }
}

// Appends a value's distinct key so that no two different rows share a key.
void appendKey(QString &key, const Value &v, Qt::CaseSensitivity cs)
{
    const QString k = SqlEvaluator::distinctKey(v, cs);
    key += QString::number(k.size());
    key += QLatin1Char(':');
    key += k;
}

// The fields of a select's result: a plain field keeps its description,
// anything else is text (or what its value is) named by its alias.
QList<FieldInfo> resultFields(const SqlSelect &select, const QList<FieldInfo> &fields)
{
    if (select.star)
        return fields;
    QList<FieldInfo> result;
    for (qsizetype i = 0; i < qsizetype(select.columns.size()); ++i) {
        const SqlSelectColumn &column = select.columns[size_t(i)];
        FieldInfo info;
        if (column.expr->op == SqlExpr::Op::Field)
            info = fields.at(column.expr->field);
        else
            info.daoType = daoTypeOf(*column.expr);
        if (!column.alias.isEmpty())
            info.name = column.alias;
        else if (info.name.isEmpty())
            info.name = QStringLiteral("Expr%1").arg(1000 + i);
        result.append(info);
    }
    return result;
}

// Whether every column of the select joins values with "&" and rows need
// not be compared, so the values can wait until they are read.
bool joinsEveryColumn(const SqlSelect &select)
{
    if (select.star || select.distinct || select.columns.empty())
        return false;
    return std::all_of(select.columns.begin(), select.columns.end(),
                       [](const SqlSelectColumn &c) { return c.expr->op == SqlExpr::Op::Concat; });
}

// The hash a text is filed under in a key index: texts that "=" finds equal
// share it. Letter case is folded one character at a time, as the
// comparison folds it.
size_t textKeyHash(const QString &text, Qt::CaseSensitivity cs)
{
    if (cs == Qt::CaseSensitive)
        return qHash(text, 0);
    QString folded;
    folded.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        const char32_t f = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(f)) {
            folded += QChar(QChar::highSurrogate(f));
            folded += QChar(QChar::lowSurrogate(f));
        } else {
            folded += QChar(char16_t(f));
        }
    }
    return qHash(folded, 0);
}

// The first "field = 'text'" among a where clause's "and"s, with a text
// field; null when there is none.
const SqlExpr *textEquality(const SqlExpr &e, const QList<FieldInfo> &fields)
{
    if (e.op == SqlExpr::Op::And) {
        for (const auto &arg : e.args)
            if (const SqlExpr *found = textEquality(*arg, fields))
                return found;
        return nullptr;
    }
    if (e.op != SqlExpr::Op::Compare || e.cmp != SqlExpr::Cmp::Eq || e.negated || e.args.size() != 2)
        return nullptr;
    const SqlExpr &a = *e.args[0], &b = *e.args[1];
    const SqlExpr &field = a.op == SqlExpr::Op::Field ? a : b;
    const SqlExpr &literal = a.op == SqlExpr::Op::Field ? b : a;
    if (field.op != SqlExpr::Op::Field || literal.op != SqlExpr::Op::Literal ||
        literal.value.kind() != Value::Kind::Text || field.field < 0 || field.field >= fields.size())
        return nullptr;
    const qint16 type = fields.at(field.field).daoType;
    return type == DaoText || type == DaoMemo ? &e : nullptr;
}

// Whether the select's where clause, if any, accepts the record.
bool accepts(const SqlSelect &select, const TableSource &source, qsizetype record)
{
    return !select.where || SqlEvaluator::holds(*select.where, source, record);
}

} // namespace

Database::Database(std::unique_ptr<Backend> backend)
    : m_backend(std::move(backend))
{
}

Database::~Database() = default;

std::unique_ptr<Database> Database::open(const QString &path, const QString &connect)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        throw EngineError::format(u"file not found: %1", u"找不到文件 %1", path);
    for (const BackendKind &kind : backendKinds)
        if (kind.matches(connect)) {
            auto db = fromBackend(kind.openWith ? kind.openWith(path, connect) : kind.open(path));
            db->m_path = path;
            db->m_connect = connect;
            return db;
        }
    throw EngineError(
        QStringLiteral("unknown connect string \"%1\" for %2").arg(connect, path),
        QStringLiteral("不认识文件 %1 的连接字符串“%2”").arg(QFileInfo(path).fileName(), connect));
}

std::unique_ptr<Database> Database::fromBackend(std::unique_ptr<Backend> backend)
{
    if (!backend)
        throw EngineError(QStringLiteral("no backend"), QStringLiteral("没有可读取它的数据源"));
    return std::unique_ptr<Database>(new Database(std::move(backend)));
}

void Database::reopen()
{
    for (const BackendKind &kind : backendKinds)
        if (kind.matches(m_connect)) {
            m_tables.clear();
            m_keyIndexes.clear();
            m_backend = kind.openWith ? kind.openWith(m_path, m_connect) : kind.open(m_path);
            return;
        }
}

QStringList Database::tableNames() const
{
    return m_backend->tableNames();
}

TableSource &Database::table(const QString &name, int offset) const
{
    auto it = m_tables.find(name);
    if (it != m_tables.end())
        return *it->second;
    // The exact spelling wins; otherwise the one name that differs only in
    // letter case. Two such names (a.dbf and A.DBF in one folder) are
    // refused rather than one of them picked.
    QStringList exact, folded;
    for (const QString &t : m_backend->tableNames()) {
        if (t == name)
            exact.append(t);
        else if (t.compare(name, Qt::CaseInsensitive) == 0)
            folded.append(t);
    }
    const QStringList &matches = exact.isEmpty() ? folded : exact;
    const auto refuse = [&](const QString &what, const QString &chinese) -> TableSource & {
        if (offset >= 0)
            throw SqlError(what, chinese, offset);
        throw EngineError(what, chinese);
    };
    if (matches.isEmpty())
        return refuse(QStringLiteral("unknown table \"%1\"").arg(name),
                      QStringLiteral("没有数据表“%1”").arg(name));
    if (matches.size() > 1)
        return refuse(QStringLiteral("table name \"%1\" is ambiguous: it could be %2; name one exactly")
                          .arg(name, matches.join(QStringLiteral(" or "))),
                      QStringLiteral("数据表名“%1”不明确：可能是 %2，请写出确切的名称")
                          .arg(name, matches.join(QStringLiteral(" 或 "))));
    const QString canonical = matches.first();
    it = m_tables.find(canonical);
    if (it != m_tables.end())
        return *it->second;
    std::unique_ptr<TableSource> source = m_backend->openTable(canonical);
    if (!source)
        throw EngineError::format(u"table \"%1\" cannot be opened", u"数据表 %1 无法打开", canonical);
    return *m_tables.emplace(canonical, std::move(source)).first->second;
}

QList<FieldInfo> Database::fields(const QString &tableName) const
{
    return table(unbracket(tableName)).fields();
}

void Database::checkValue(const QString &tableName, int field, const Value &value) const
{
    TableSource &t = table(unbracket(tableName));
    if (field < 0 || field >= t.fields().size())
        throw EngineError::format(u"table %1 has no field %2", u"数据表 %1 没有第 %2 个字段", tableName,
                                  QString::number(field + 1));
    if (t.recordCount() > 0)
        t.checkUpdate(0, field, value);
}

QList<EngineNote> Database::notes(const QString &tableName) const
{
    return table(unbracket(tableName)).notes();
}

Recordset Database::openRecordset(const QString &tableOrStatement)
{
    if (startsWithKeyword(tableOrStatement, SqlKeyword::Select))
        return runSelect(tableOrStatement, 0, -1);
    return readTable(unbracket(tableOrStatement));
}

Recordset Database::openRecordset(const QString &statement, qsizetype record)
{
    if (record < 0)
        throw EngineError::format(u"no record %1", u"没有第 %1 条记录", record);
    return runSelect(statement, record, record + 1);
}

TableTexts Database::readTexts(const QString &table, const QString &whereClause, qsizetype first,
                               qsizetype last)
{
    // The where clause is read as the end of a select of the whole table, so
    // that it means here what it means in any statement.
    SqlStatement parsed = SqlParser::parse(QStringLiteral("select * from ") + table + whereClause);
    auto *select = std::get_if<SqlSelect>(&parsed);
    if (!select || !select->star)
        throw SqlError(QStringLiteral("expected a where clause"), QStringLiteral("这里要的是 where 子句"), 0);
    const TableSource &source = this->table(select->table.name, select->table.offset);
    TableTexts texts;
    texts.fields = source.fields();
    if (select->where)
        SqlEvaluator::bind(*select->where, texts.fields, select->table.name);
    const qsizetype count = source.recordCount();
    const qsizetype end = last < 0 ? count : std::min(last, count);
    const int width = int(texts.fields.size());
    if (!select->where) {
        texts.rows.reserve(end - first);
        texts.records.reserve(end - first);
    }
    QStringList parts(width); // reused: each row is packed into one string
    for (qsizetype r = std::min(first, end); r < end; ++r) {
        if (!accepts(*select, source, r))
            continue;
        source.recordTexts(r, parts);
        qsizetype kept = 0;
        for (int f = 0; f < width; ++f)
            if (!parts.at(f).isEmpty())
                kept = f + 1;
        texts.rows.append(PackedTexts::pack(parts, kept));
        texts.records.append(r);
    }
    return texts;
}

std::optional<QList<qsizetype>> Database::indexedCandidates(const TableSource &source, const SqlExpr &where)
{
    const SqlExpr *equality = textEquality(where, source.fields());
    if (!equality)
        return std::nullopt;
    const bool fieldFirst = equality->args[0]->op == SqlExpr::Op::Field;
    const int field = equality->args[fieldFirst ? 0 : 1]->field;
    const QString &literal = equality->args[fieldFirst ? 1 : 0]->value.textValue();
    std::optional<QByteArray> bytes = source.fieldBytes(field);
    if (!bytes)
        return std::nullopt;
    const Qt::CaseSensitivity cs = source.textCase();
    KeyIndex &index = m_keyIndexes[source.name()];
    if (index.field != field || index.bytes != *bytes) {
        // Made again from the records as they are now: the field changed,
        // in this program or another, since the index was made.
        index = KeyIndex{};
        std::vector<std::pair<size_t, qsizetype>> records;
        const qsizetype n = source.recordCount();
        records.reserve(size_t(n));
        for (qsizetype r = 0; r < n; ++r) {
            const Value v = source.value(r, field);
            if (v.isNull())
                continue; // equal to nothing
            if (v.kind() != Value::Kind::Text)
                return std::nullopt; // compared as another kind: no index
            records.emplace_back(textKeyHash(v.textValue(), cs), r);
        }
        std::sort(records.begin(), records.end());
        index.field = field;
        index.bytes = std::move(*bytes);
        index.records = std::move(records);
    }
    const size_t hash = textKeyHash(literal, cs);
    auto it =
        std::lower_bound(index.records.begin(), index.records.end(), std::pair<size_t, qsizetype>(hash, 0));
    QList<qsizetype> candidates;
    for (; it != index.records.end() && it->first == hash; ++it)
        candidates.append(it->second);
    return candidates;
}

Recordset Database::readTable(const QString &name) const
{
    const TableSource &source = table(name);
    Recordset rs(source.fields());
    const int width = int(source.fields().size());
    const qsizetype n = source.recordCount();
    rs.reserve(n);
    for (qsizetype r = 0; r < n; ++r) {
        for (int f = 0; f < width; ++f)
            if (Value v = source.value(r, f); !v.isNull())
                rs.appendValue(f, std::move(v));
        rs.endRow();
    }
    return rs;
}

Recordset Database::runSelect(const QString &statement, qsizetype first, qsizetype last)
{
    SqlStatement parsed = SqlParser::parse(statement);
    auto *select = std::get_if<SqlSelect>(&parsed);
    if (!select)
        throw SqlError(QStringLiteral("expected a select statement"),
                       QStringLiteral("这里要的是 select 语句"), 0);
    const TableSource &source = table(select->table.name, select->table.offset);
    const QList<FieldInfo> &fields = source.fields();
    for (auto &column : select->columns)
        SqlEvaluator::bind(*column.expr, fields, select->table.name);
    if (select->where)
        SqlEvaluator::bind(*select->where, fields, select->table.name);

    const qsizetype count = source.recordCount();
    const qsizetype end = last < 0 ? count : std::min(last, count);
    const Records records{std::min(first, end), end};
    if (joinsEveryColumn(*select))
        return selectJoins(*select, source, records);
    return selectRows(*select, source, records);
}

Recordset Database::selectJoins(const SqlSelect &select, const TableSource &source, Records records)
{
    Recordset rs(resultFields(select, source.fields()));
    const int width = int(select.columns.size());
    QList<QList<bool>> tabs(width);
    for (int c = 0; c < width; ++c) {
        const SqlExpr &e = *select.columns[size_t(c)].expr;
        tabs[c].reserve(qsizetype(e.args.size()));
        for (const auto &arg : e.args)
            tabs[c].append(arg->tab);
    }
    rs.joinLazily(std::move(tabs));
    rs.reserve(select.where ? 0 : records.end - records.first);
    std::vector<bool> allNull(static_cast<size_t>(width));
    QStringList parts; // reused: each row is packed into one string
    for (qsizetype r = records.first; r < records.end; ++r) {
        if (!accepts(select, source, r))
            continue;
        parts.clear();
        for (int c = 0; c < width; ++c)
            allNull[size_t(c)] = !SqlEvaluator::joinParts(*select.columns[size_t(c)].expr, source, r, parts);
        rs.appendJoinedRow(parts, allNull);
    }
    return rs;
}

Recordset Database::selectRows(const SqlSelect &select, const TableSource &source, Records records)
{
    Recordset rs(resultFields(select, source.fields()));
    const int width = int(rs.fields().size());
    bool anyJoin = false;
    for (const SqlSelectColumn &column : select.columns)
        anyJoin = anyJoin || column.expr->op == SqlExpr::Op::Concat;
    QSet<QString> seen;
    if (!select.distinct)
        rs.reserve(records.end - records.first);
    for (qsizetype r = records.first; r < records.end; ++r) {
        if (!accepts(select, source, r))
            continue;
        QList<Value> row;
        row.reserve(width);
        QList<QStringList> parts;
        if (select.star) {
            for (int f = 0; f < width; ++f)
                row.append(source.value(r, f));
        } else {
            if (anyJoin)
                parts.resize(width);
            for (int c = 0; c < width; ++c) {
                const SqlExpr &e = *select.columns[size_t(c)].expr;
                if (e.op == SqlExpr::Op::Concat)
                    row.append(SqlEvaluator::evaluateJoin(e, source, r, parts[c]));
                else
                    row.append(SqlEvaluator::evaluate(e, source, r));
            }
        }
        if (select.distinct) {
            QString key;
            for (const Value &v : std::as_const(row))
                appendKey(key, v, source.textCase());
            if (seen.contains(key))
                continue;
            seen.insert(key);
        }
        rs.appendRow(std::move(row), std::move(parts));
    }
    return rs;
}

qsizetype Database::execute(const QString &statement)
{
    return runUpdate(statement, -1).matched();
}

UpdateResult Database::executeIfMatches(const QString &statement, qsizetype expected)
{
    return runUpdate(statement, expected < 0 ? 0 : expected);
}

// Runs an update; with `expected` not negative it writes only when exactly
// that many records match. When another program changed the file between
// reading it and writing (Code::Changed: nothing was written), the file
// is read again and the whole statement, its where clause included, runs
// again on what it holds now, a few times at most.
UpdateResult Database::runUpdate(const QString &statement, qsizetype expected)
{
    for (int attempt = 1;; ++attempt) {
        try {
            return runUpdateOnce(statement, expected);
        } catch (const EngineError &e) {
            if (e.code() != EngineError::Code::Changed || m_path.isEmpty())
                throw;
            if (attempt == kUpdateAttempts)
                throw EngineError(
                    EngineError::fill(u"%1 is not written: another program changed it each of the %2 times "
                                      u"this statement read it; try again",
                                      QFileInfo(m_path).fileName(), kUpdateAttempts),
                    EngineError::fill(
                        u"没有写入 %1：这条语句读了 %2 次，每次它都又被其他程序改过了，请再试一次",
                        QFileInfo(m_path).fileName(), kUpdateAttempts),
                    EngineError::Code::Changed);
        }
        // Writers that met each other here go on at different moments.
        QThread::msleep(10 + QRandomGenerator::global()->bounded(40 * attempt));
        reopen();
    }
}

UpdateResult Database::runUpdateOnce(const QString &statement, qsizetype expected)
{
    SqlStatement parsed = SqlParser::parse(statement);
    auto *update = std::get_if<SqlUpdate>(&parsed);
    if (!update)
        throw SqlError(QStringLiteral("expected an update statement"),
                       QStringLiteral("这里要的是 update 语句"), 0);
    TableSource &target = table(update->table.name, update->table.offset);
    const QList<FieldInfo> fields = target.fields();
    for (SqlAssignment &a : update->assignments) {
        a.field = SqlEvaluator::fieldIndex(fields, a.fieldName);
        if (a.field < 0)
            throw SqlEvaluator::unknownField(a.fieldName, update->table.name, a.offset);
        SqlEvaluator::bind(*a.value, fields, update->table.name);
    }
    if (update->where)
        SqlEvaluator::bind(*update->where, fields, update->table.name);

    // Decide every match and every new value before the first write, so a
    // value the field cannot take stops the statement with nothing written;
    // and decide them under the hold the writes are made under, so that
    // another program cannot move the records in between.
    const std::unique_ptr<TableSource::UpdateHold> hold = target.holdForUpdate();
    const qsizetype n = target.recordCount();
    const size_t perRecord = update->assignments.size();
    QList<qsizetype> matches;
    QList<Value> values;
    const auto consider = [&](qsizetype r) {
        if (update->where && !SqlEvaluator::holds(*update->where, target, r))
            return;
        matches.append(r);
        for (const SqlAssignment &a : update->assignments)
            values.append(SqlEvaluator::convertForField(SqlEvaluator::evaluate(*a.value, target, r),
                                                        fields.at(a.field)));
    };
    // A key picks its record through the index, read under the hold like
    // everything else here; without one every record is looked at.
    if (const std::optional<QList<qsizetype>> candidates =
            update->where ? indexedCandidates(target, *update->where) : std::nullopt) {
        for (qsizetype r : *candidates)
            consider(r);
    } else {
        for (qsizetype r = 0; r < n; ++r)
            consider(r);
    }

    UpdateResult result;
    result.records = matches;
    if (expected >= 0 && matches.size() != expected)
        return result;

    QList<CellChange> changes;
    changes.reserve(values.size());
    for (qsizetype m = 0; m < matches.size(); ++m)
        for (size_t i = 0; i < perRecord; ++i)
            changes.append({matches.at(m), update->assignments[i].field,
                            values.at(m * qsizetype(perRecord) + qsizetype(i))});
    // Every value the backend would refuse is refused now, before the
    // first byte is written; then the changes go to the file together.
    target.checkUpdateAll(changes);
    target.updateAll(changes);
    result.written = true;
    return result;
}

} // namespace lumora::engine
