#include "data/engine/sql/SqlParser.h"

#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlKeywords.h"
#include "data/engine/sql/SqlLexer.h"

namespace lumora::engine {

namespace {

// Deep enough for any statement a person writes, shallow enough that a
// hostile one cannot exhaust the stack.
constexpr int maxDepth = 200;

std::unique_ptr<SqlExpr> node(SqlExpr::Op op, int offset)
{
    auto e = std::make_unique<SqlExpr>();
    e->op = op;
    e->offset = offset;
    return e;
}

QString describe(const SqlToken &t)
{
    switch (t.kind) {
    case SqlToken::Kind::End: return QStringLiteral("end of statement");
    case SqlToken::Kind::QuotedName:
        return QLatin1Char('[') + EngineError::excerpt(t.text) + QLatin1Char(']');
    default: return QLatin1Char('"') + EngineError::excerpt(t.text) + QLatin1Char('"');
    }
}

QString describeInChinese(const SqlToken &t)
{
    switch (t.kind) {
    case SqlToken::Kind::End: return QStringLiteral("语句结尾");
    case SqlToken::Kind::QuotedName:
        return QLatin1Char('[') + EngineError::excerpt(t.text) + QLatin1Char(']');
    default: return QStringLiteral("“%1”").arg(EngineError::excerpt(t.text));
    }
}

// A text to be written that holds U+FFFD, the mark a decoder leaves for
// bytes it could not read, or half of a surrogate pair lost text before it
// got here; writing it would store the loss without a word.
void refuseLostText(const SqlExpr &e)
{
    if (e.op == SqlExpr::Op::Literal && e.value.kind() == Value::Kind::Text) {
        const QString &text = e.value.textValue();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            else if (c.isSurrogate() || c == QChar::ReplacementCharacter)
                throw SqlError::format(e.offset,
                                       u"\"%1\" is not written: it holds U+FFFD, the mark of text that "
                                       u"could not be read, or half of a character",
                                       u"“%1”不写入：其中有 U+FFFD（无法读取的文字留下的记号）或半个字符",
                                       EngineError::excerpt(text));
        }
    }
    for (const auto &arg : e.args)
        refuseLostText(*arg);
}

struct DepthGuard
{
    DepthGuard(int &depth, int offset)
        : m_depth(depth)
    {
        if (++m_depth > maxDepth)
            throw SqlError(QStringLiteral("expression nested too deeply"), QStringLiteral("表达式嵌套太深"),
                           offset);
    }
    ~DepthGuard() { --m_depth; }
    int &m_depth;
};

} // namespace

bool SqlExpr::isTabSeparator() const
{
    if (op == Op::Chr)
        return args.size() == 1 && args[0]->op == Op::Literal &&
               args[0]->value.kind() == Value::Kind::Integer && args[0]->value.toInteger() == 9;
    return op == Op::Literal && value.kind() == Value::Kind::Text && value.textValue() == QLatin1String("\t");
}

SqlStatement SqlParser::parse(const QString &statement)
{
    SqlParser parser(SqlLexer::tokenize(statement));
    SqlStatement result;
    if (parser.atKeyword(SqlKeyword::Select))
        result = parser.parseSelect();
    else if (parser.atKeyword(SqlKeyword::Update))
        result = parser.parseUpdate();
    else
        parser.unexpected(QStringLiteral("\"select\" or \"update\""), QStringLiteral("“select”或“update”"));
    parser.acceptSymbol(";");
    if (parser.peek().kind != SqlToken::Kind::End)
        parser.unexpected(QStringLiteral("end of statement"), QStringLiteral("语句结尾"));
    return result;
}

SqlSelect SqlParser::parseSelect()
{
    expectKeyword(SqlKeyword::Select);
    SqlSelect select;
    select.distinct = acceptKeyword(SqlKeyword::Distinct);
    if (acceptSymbol("*")) {
        select.star = true;
    } else {
        do {
            SqlSelectColumn column;
            column.expr = parseExpr();
            if (acceptKeyword(SqlKeyword::As))
                column.alias = parseName("a column name", u"列名");
            select.columns.push_back(std::move(column));
        } while (acceptSymbol(","));
    }
    expectKeyword(SqlKeyword::From);
    select.table = parseTable();
    if (acceptKeyword(SqlKeyword::Where))
        select.where = parseExpr();
    return select;
}

SqlUpdate SqlParser::parseUpdate()
{
    expectKeyword(SqlKeyword::Update);
    SqlUpdate update;
    update.table = parseTable();
    expectKeyword(SqlKeyword::Set);
    do {
        SqlAssignment a;
        a.offset = peek().offset;
        a.fieldName = parseName("a field name", u"字段名");
        expectSymbol("=");
        a.value = parseExpr();
        refuseLostText(*a.value);
        update.assignments.push_back(std::move(a));
    } while (acceptSymbol(","));
    if (acceptKeyword(SqlKeyword::Where))
        update.where = parseExpr();
    return update;
}

SqlTableRef SqlParser::parseTable()
{
    SqlTableRef table;
    table.offset = peek().offset;
    table.name = parseName("a table name", u"数据表名");
    return table;
}

QString SqlParser::parseName(const char *what, const char16_t *chinese)
{
    const SqlToken &t = peek();
    if (t.kind == SqlToken::Kind::QuotedName || (t.kind == SqlToken::Kind::Name && !grammarKeyword(t.text))) {
        ++m_pos;
        return t.text;
    }
    unexpected(QString::fromLatin1(what), QString::fromUtf16(chinese));
}

std::unique_ptr<SqlExpr> SqlParser::parseExpr()
{
    DepthGuard guard(m_depth, peek().offset);
    auto left = parseAnd();
    while (atKeyword(SqlKeyword::Or)) {
        auto e = node(SqlExpr::Op::Or, peek().offset);
        ++m_pos;
        e->args.push_back(std::move(left));
        e->args.push_back(parseAnd());
        left = std::move(e);
    }
    return left;
}

std::unique_ptr<SqlExpr> SqlParser::parseAnd()
{
    auto left = parseNot();
    while (atKeyword(SqlKeyword::And)) {
        auto e = node(SqlExpr::Op::And, peek().offset);
        ++m_pos;
        e->args.push_back(std::move(left));
        e->args.push_back(parseNot());
        left = std::move(e);
    }
    return left;
}

std::unique_ptr<SqlExpr> SqlParser::parseNot()
{
    if (atKeyword(SqlKeyword::Not)) {
        DepthGuard guard(m_depth, peek().offset);
        auto e = node(SqlExpr::Op::Not, peek().offset);
        ++m_pos;
        e->args.push_back(parseNot());
        return e;
    }
    return parseCompare();
}

std::unique_ptr<SqlExpr> SqlParser::parseCompare()
{
    auto left = parseConcat();
    static const struct
    {
        const char *symbol;
        SqlExpr::Cmp cmp;
    } ops[] = {
        {"=", SqlExpr::Cmp::Eq},  {"<>", SqlExpr::Cmp::Ne}, {"<", SqlExpr::Cmp::Lt},
        {"<=", SqlExpr::Cmp::Le}, {">", SqlExpr::Cmp::Gt},  {">=", SqlExpr::Cmp::Ge},
    };
    for (const auto &op : ops) {
        if (atSymbol(op.symbol)) {
            auto e = node(SqlExpr::Op::Compare, peek().offset);
            e->cmp = op.cmp;
            ++m_pos;
            e->args.push_back(std::move(left));
            e->args.push_back(parseConcat());
            return e;
        }
    }
    if (atKeyword(SqlKeyword::Is)) {
        auto e = node(SqlExpr::Op::IsNull, peek().offset);
        ++m_pos;
        e->negated = acceptKeyword(SqlKeyword::Not);
        expectKeyword(SqlKeyword::Null);
        e->args.push_back(std::move(left));
        return e;
    }
    return left;
}

std::unique_ptr<SqlExpr> SqlParser::parseConcat()
{
    auto first = parseUnary();
    if (!atSymbol("&"))
        return first;
    auto e = node(SqlExpr::Op::Concat, first->offset);
    e->args.push_back(std::move(first));
    while (acceptSymbol("&"))
        e->args.push_back(parseUnary());
    return e;
}

std::unique_ptr<SqlExpr> SqlParser::parseUnary()
{
    const int offset = peek().offset;
    if (acceptSymbol("-")) {
        DepthGuard guard(m_depth, offset);
        auto e = node(SqlExpr::Op::Negate, offset);
        e->args.push_back(parseUnary());
        return e;
    }
    if (acceptSymbol("+")) {
        DepthGuard guard(m_depth, offset);
        return parseUnary();
    }
    return parsePrimary();
}

std::unique_ptr<SqlExpr> SqlParser::parsePrimary()
{
    const SqlToken &t = peek();
    switch (t.kind) {
    case SqlToken::Kind::Literal: {
        auto e = node(SqlExpr::Op::Literal, t.offset);
        e->value = t.value;
        ++m_pos;
        return e;
    }
    case SqlToken::Kind::QuotedName: {
        auto e = node(SqlExpr::Op::Field, t.offset);
        e->name = t.text;
        ++m_pos;
        return e;
    }
    case SqlToken::Kind::Name: {
        if (acceptKeyword(SqlKeyword::Null))
            return node(SqlExpr::Op::Literal, t.offset);
        if (atKeyword(SqlKeyword::True) || atKeyword(SqlKeyword::False)) {
            auto e = node(SqlExpr::Op::Literal, t.offset);
            e->value = Value::boolean(atKeyword(SqlKeyword::True));
            ++m_pos;
            return e;
        }
        if (grammarKeyword(t.text))
            unexpected(QStringLiteral("a value or a field name"), QStringLiteral("值或字段名"));
        const bool call = m_tokens.at(m_pos + 1).kind == SqlToken::Kind::Symbol &&
                          m_tokens.at(m_pos + 1).text == QLatin1String("(");
        if (call) {
            if (t.text.compare(QLatin1String("chr"), Qt::CaseInsensitive) != 0)
                throw SqlError::format(t.offset, u"unknown function \"%1\"", u"不认识的函数“%1”",
                                       EngineError::excerpt(t.text));
            auto e = node(SqlExpr::Op::Chr, t.offset);
            m_pos += 2;
            e->args.push_back(parseExpr());
            expectSymbol(")");
            return e;
        }
        auto e = node(SqlExpr::Op::Field, t.offset);
        e->name = t.text;
        ++m_pos;
        return e;
    }
    case SqlToken::Kind::Symbol:
        if (t.text == QLatin1String("(")) {
            ++m_pos;
            auto e = parseExpr();
            expectSymbol(")");
            return e;
        }
        break;
    case SqlToken::Kind::End: break;
    }
    unexpected(QStringLiteral("a value or a field name"), QStringLiteral("值或字段名"));
}

bool SqlParser::atKeyword(SqlKeyword keyword) const
{
    const SqlToken &t = peek();
    return t.kind == SqlToken::Kind::Name && grammarKeyword(t.text) == keyword;
}

bool SqlParser::acceptKeyword(SqlKeyword keyword)
{
    if (!atKeyword(keyword))
        return false;
    ++m_pos;
    return true;
}

void SqlParser::expectKeyword(SqlKeyword keyword)
{
    if (!acceptKeyword(keyword))
        unexpected(QLatin1Char('"') + spelling(keyword) + QLatin1Char('"'),
                   QStringLiteral("“%1”").arg(spelling(keyword)));
}

bool SqlParser::atSymbol(const char *symbol) const
{
    const SqlToken &t = peek();
    return t.kind == SqlToken::Kind::Symbol && t.text == QLatin1String(symbol);
}

bool SqlParser::acceptSymbol(const char *symbol)
{
    if (!atSymbol(symbol))
        return false;
    ++m_pos;
    return true;
}

void SqlParser::expectSymbol(const char *symbol)
{
    if (!acceptSymbol(symbol))
        unexpected(QLatin1Char('"') + QString::fromLatin1(symbol) + QLatin1Char('"'),
                   QStringLiteral("“%1”").arg(QString::fromLatin1(symbol)));
}

void SqlParser::unexpected(const QString &wanted, const QString &chinese) const
{
    throw SqlError(QStringLiteral("unexpected %1, expected %2").arg(describe(peek()), wanted),
                   QStringLiteral("此处应是%1，而不是%2").arg(chinese, describeInChinese(peek())),
                   peek().offset);
}

} // namespace lumora::engine
