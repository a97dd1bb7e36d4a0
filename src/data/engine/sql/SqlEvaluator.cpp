#include "data/engine/sql/SqlEvaluator.h"

#include "data/engine/sql/SqlError.h"
#include "data/engine/sql/SqlLexer.h"

#include <QVarLengthArray>

#include <cmath>
#include <limits>

namespace lumora::engine {

namespace {

enum class Class {
    Null,
    Boolean,
    Number,
    Text,
    Date,
    Binary
};

Class classOf(const Value &v)
{
    switch (v.kind()) {
    case Value::Kind::Null: return Class::Null;
    case Value::Kind::Boolean: return Class::Boolean;
    case Value::Kind::Integer:
    case Value::Kind::Double:
    case Value::Kind::Currency: return Class::Number;
    case Value::Kind::Text: return Class::Text;
    case Value::Kind::DateTime: return Class::Date;
    case Value::Kind::Binary: return Class::Binary;
    }
    return Class::Null;
}

// Whole numbers beyond 2^53 have no exact double; below it every one has.
constexpr qint64 kExactInDouble = qint64(1) << 53;

template <typename T> int sign(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Whole-number kinds in ten-thousandths, so that integers, currency amounts
// and booleans compare exactly.
bool scaled(const Value &v, __int128 &out)
{
    switch (v.kind()) {
    case Value::Kind::Integer: out = __int128(v.toInteger()) * 10000; return true;
    case Value::Kind::Currency: out = v.toInteger(); return true;
    case Value::Kind::Boolean: out = v.toBool() ? -10000 : 0; return true;
    default: return false;
    }
}

double asDouble(const Value &v)
{
    if (v.kind() == Value::Kind::Boolean)
        return v.toBool() ? -1.0 : 0.0;
    return v.toDouble();
}

// A whole number against a double, exactly: converting the integer to a
// double would make 110101199001011234 equal to 110101199001011232.
std::optional<int> compareWholeWithDouble(qint64 i, double d)
{
    if (std::isnan(d))
        return std::nullopt;
    constexpr double twoTo63 = 9223372036854775808.0;
    if (d >= twoTo63)
        return -1;
    if (d < -twoTo63)
        return 1;
    // Here floor(d) is exact and fits 64 bits.
    const double whole = std::floor(d);
    const qint64 w = qint64(whole);
    if (i != w)
        return sign(i, w);
    return d > whole ? -1 : 0;
}

std::optional<int> compareNumbers(const Value &a, const Value &b)
{
    __int128 x = 0, y = 0;
    if (scaled(a, x) && scaled(b, y))
        return sign(x, y);
    const auto whole = [](const Value &v) -> std::optional<qint64> {
        if (v.kind() == Value::Kind::Integer)
            return v.toInteger();
        if (v.kind() == Value::Kind::Boolean)
            return v.toBool() ? -1 : 0;
        return std::nullopt;
    };
    if (const auto i = whole(a); i && b.kind() == Value::Kind::Double)
        return compareWholeWithDouble(*i, b.toDouble());
    if (const auto i = whole(b); i && a.kind() == Value::Kind::Double) {
        const auto c = compareWholeWithDouble(*i, a.toDouble());
        return c ? std::optional<int>(-*c) : c;
    }
    const double dx = asDouble(a), dy = asDouble(b);
    if (std::isnan(dx) || std::isnan(dy))
        return std::nullopt;
    return sign(dx, dy);
}

int compareTexts(const QString &a, const QString &b, Qt::CaseSensitivity cs)
{
    const int c = a.compare(b, cs);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// A text against a value of another kind: read as that kind where it can
// be, else compared with the value's rendering ignoring case ("TRUE" is
// True), since only texts the table holds have a letter case of their own.
std::optional<int> compareTextWith(const QString &text, const Value &other)
{
    if (classOf(other) == Class::Number) {
        if (const auto n = SqlLexer::readNumber(text))
            return compareNumbers(*n, other);
    } else if (classOf(other) == Class::Date) {
        if (const auto d = SqlLexer::readDate(text))
            return sign(*d, other.toDateTime());
    }
    return compareTexts(text, other.toText(), Qt::CaseInsensitive);
}

bool truthOf(const Value &v, const SqlExpr &e, std::optional<bool> &out)
{
    switch (classOf(v)) {
    case Class::Null: out.reset(); return true;
    case Class::Boolean: out = v.toBool(); return true;
    case Class::Number: out = asDouble(v) != 0; return true;
    default: break;
    }
    throw SqlError::format(e.offset, u"\"%1\" is not a condition", u"“%1”不是条件",
                           EngineError::excerpt(v.toText()));
}

Value negate(const Value &v, const SqlExpr &e)
{
    switch (v.kind()) {
    case Value::Kind::Null: return v;
    case Value::Kind::Integer:
        if (v.toInteger() == std::numeric_limits<qint64>::min())
            return Value::real(-double(v.toInteger()));
        return Value::integer(-v.toInteger());
    case Value::Kind::Currency:
        if (v.toInteger() == std::numeric_limits<qint64>::min())
            return Value::real(-v.toDouble());
        return Value::currency(-v.toInteger());
    case Value::Kind::Double: return Value::real(-v.toDouble());
    case Value::Kind::Boolean: return Value::integer(v.toBool() ? 1 : 0);
    case Value::Kind::Text:
        if (const auto n = SqlLexer::readNumber(v.textValue()))
            return negate(*n, e);
        break;
    default: break;
    }
    throw SqlError::format(e.offset, u"\"%1\" is not a number", u"“%1”不是数字",
                           EngineError::excerpt(v.toText()));
}

Value chr(const Value &v, const SqlExpr &e)
{
    if (v.isNull())
        return v;
    std::optional<Value> n = v;
    if (v.kind() == Value::Kind::Text)
        n = SqlLexer::readNumber(v.textValue());
    if (n && classOf(*n) == Class::Number) {
        const double d = n->toDouble();
        // Character codes 0 to 255, read as Latin-1.
        if (d >= 0 && d < 256)
            return Value::text(QString(QChar(ushort(d))));
    }
    throw SqlError::format(e.offset, u"Chr takes a character code from 0 to 255, not \"%1\"",
                           u"Chr 只接受 0 到 255 的字符代码，“%1”不在其中", EngineError::excerpt(v.toText()));
}

Value join(const SqlExpr &expr, const TableSource &table, qsizetype record, QStringList *parts)
{
    // Texts first, then one allocation of the joined text: this runs once
    // per record when the grid loads a table.
    QVarLengthArray<QString, 24> pieces;
    bool allNull = true;
    qsizetype length = 0;
    for (const auto &arg : expr.args) {
        const Value v = arg->op == SqlExpr::Op::Field ? table.value(record, arg->field)
                                                      : SqlEvaluator::evaluate(*arg, table, record);
        if (!v.isNull())
            allNull = false;
        pieces.append(v.kind() == Value::Kind::Text ? v.textValue() : v.toText());
        length += pieces.back().size();
    }
    if (parts) {
        parts->reserve(pieces.size());
        for (qsizetype i = 0; i < pieces.size(); ++i)
            if (!expr.args[size_t(i)]->tab)
                parts->append(pieces[i]);
    }
    if (allNull)
        return Value();
    QString text;
    text.reserve(length);
    for (const QString &piece : pieces)
        text += piece;
    return Value::text(text);
}

// `what` names the kind of value the field takes, in English ("a date")
// and in Chinese ("日期").
[[noreturn]] void refuse(const Value &v, const FieldInfo &field, const char *what, const char16_t *chinese)
{
    const QString kind = QString::fromUtf16(chinese);
    const QString shown = EngineError::excerpt(v.toText());
    throw EngineError(
        QStringLiteral("\"%1\" is not %2 for the field \"%3\"").arg(shown, QLatin1String(what), field.name),
        QStringLiteral("字段 %1 只能存放%2，“%3”不是%2").arg(field.name, kind, shown));
}

} // namespace

int SqlEvaluator::fieldIndex(const QList<FieldInfo> &fields, const QString &name)
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

SqlError SqlEvaluator::unknownField(const QString &name, const QString &table, int offset)
{
    const QString shown = EngineError::excerpt(name);
    const QString english = QStringLiteral("unknown field \"%1\"").arg(shown);
    if (table.isEmpty())
        return SqlError(english, QStringLiteral("没有字段“%1”").arg(shown), offset);
    return SqlError(english, QStringLiteral("数据表 %1 中没有字段“%2”").arg(table, shown), offset);
}

void SqlEvaluator::bind(SqlExpr &expr, const QList<FieldInfo> &fields, const QString &table)
{
    if (expr.op == SqlExpr::Op::Field) {
        expr.field = fieldIndex(fields, expr.name);
        if (expr.field < 0)
            throw unknownField(expr.name, table, expr.offset);
    }
    for (auto &arg : expr.args)
        bind(*arg, fields, table);
    // Chr(9) between the fields of the loading query is the same text on
    // every record: work it out once.
    if (expr.op == SqlExpr::Op::Chr && expr.args[0]->op == SqlExpr::Op::Literal) {
        expr.value = chr(expr.args[0]->value, expr);
        expr.constant = true;
    }
    expr.tab = expr.isTabSeparator();
}

Value SqlEvaluator::evaluate(const SqlExpr &expr, const TableSource &table, qsizetype record)
{
    switch (expr.op) {
    case SqlExpr::Op::Literal: return expr.value;
    case SqlExpr::Op::Field: return table.value(record, expr.field);
    case SqlExpr::Op::Concat: return join(expr, table, record, nullptr);
    case SqlExpr::Op::Chr:
        if (expr.constant)
            return expr.value;
        return chr(evaluate(*expr.args[0], table, record), expr);
    case SqlExpr::Op::Negate: return negate(evaluate(*expr.args[0], table, record), expr);
    case SqlExpr::Op::Not: {
        std::optional<bool> t;
        truthOf(evaluate(*expr.args[0], table, record), expr, t);
        return t ? Value::boolean(!*t) : Value();
    }
    case SqlExpr::Op::And:
    case SqlExpr::Op::Or: {
        const bool isAnd = expr.op == SqlExpr::Op::And;
        std::optional<bool> left, right;
        truthOf(evaluate(*expr.args[0], table, record), expr, left);
        // A false left side decides "and", a true one decides "or".
        if (left && *left != isAnd)
            return Value::boolean(*left);
        truthOf(evaluate(*expr.args[1], table, record), expr, right);
        if (right && *right != isAnd)
            return Value::boolean(*right);
        if (!left || !right)
            return Value();
        return Value::boolean(isAnd);
    }
    case SqlExpr::Op::Compare: {
        const auto c = compare(evaluate(*expr.args[0], table, record), evaluate(*expr.args[1], table, record),
                               table.textCase());
        if (!c)
            return Value();
        switch (expr.cmp) {
        case SqlExpr::Cmp::Eq: return Value::boolean(*c == 0);
        case SqlExpr::Cmp::Ne: return Value::boolean(*c != 0);
        case SqlExpr::Cmp::Lt: return Value::boolean(*c < 0);
        case SqlExpr::Cmp::Le: return Value::boolean(*c <= 0);
        case SqlExpr::Cmp::Gt: return Value::boolean(*c > 0);
        case SqlExpr::Cmp::Ge: return Value::boolean(*c >= 0);
        }
        return Value();
    }
    case SqlExpr::Op::IsNull:
        return Value::boolean(evaluate(*expr.args[0], table, record).isNull() != expr.negated);
    }
    return Value();
}

Value SqlEvaluator::evaluateJoin(const SqlExpr &expr, const TableSource &table, qsizetype record,
                                 QStringList &parts)
{
    return join(expr, table, record, &parts);
}

bool SqlEvaluator::joinParts(const SqlExpr &expr, const TableSource &table, qsizetype record,
                             QStringList &parts)
{
    bool anyValue = false;
    parts.reserve(parts.size() + qsizetype(expr.args.size()));
    for (const auto &arg : expr.args) {
        if (arg->tab) {
            anyValue = true;
            continue;
        }
        Value v =
            arg->op == SqlExpr::Op::Field ? table.value(record, arg->field) : evaluate(*arg, table, record);
        anyValue = anyValue || !v.isNull();
        parts.append(std::move(v).toText());
    }
    return anyValue;
}

bool SqlEvaluator::holds(const SqlExpr &condition, const TableSource &table, qsizetype record)
{
    std::optional<bool> t;
    truthOf(evaluate(condition, table, record), condition, t);
    return t.value_or(false);
}

std::optional<int> SqlEvaluator::compare(const Value &a, const Value &b, Qt::CaseSensitivity cs)
{
    const Class ca = classOf(a), cb = classOf(b);
    if (ca == Class::Null || cb == Class::Null)
        return std::nullopt;
    if (ca == Class::Text && cb == Class::Text)
        return compareTexts(a.textValue(), b.textValue(), cs);
    if ((ca == Class::Number || ca == Class::Boolean) && (cb == Class::Number || cb == Class::Boolean))
        return compareNumbers(a, b);
    if (ca == Class::Date && cb == Class::Date)
        return sign(a.toDateTime(), b.toDateTime());
    if (ca == Class::Binary && cb == Class::Binary)
        return sign(a.toBinary(), b.toBinary());
    if (ca == Class::Text)
        return compareTextWith(a.textValue(), b);
    if (cb == Class::Text) {
        const auto c = compareTextWith(b.textValue(), a);
        return c ? std::optional<int>(-*c) : c;
    }
    return compareTexts(a.toText(), b.toText(), Qt::CaseInsensitive);
}

QString SqlEvaluator::distinctKey(const Value &v, Qt::CaseSensitivity cs)
{
    // Numbers key by their text: a whole double prints all its digits, so
    // an integer and a double that are equal share a key.
    switch (classOf(v)) {
    case Class::Null: return QStringLiteral("0");
    case Class::Text:
        return QLatin1Char('t') + (cs == Qt::CaseSensitive ? v.textValue() : v.textValue().toCaseFolded());
    case Class::Number: return QLatin1Char('n') + v.toText();
    case Class::Boolean: return QLatin1Char('n') + QLatin1String(v.toBool() ? "-1" : "0");
    case Class::Date: return QLatin1Char('d') + v.toText();
    case Class::Binary: return QLatin1Char('x') + v.toText();
    }
    return QString();
}

Value SqlEvaluator::convertForField(const Value &v, const FieldInfo &field)
{
    if (v.isNull())
        return v;
    Value n = v;
    if (v.kind() == Value::Kind::Text && field.daoType != DaoText && field.daoType != DaoMemo) {
        if (field.daoType == DaoDate) {
            const auto d = SqlLexer::readDate(v.textValue());
            if (!d)
                refuse(v, field, "a date", u"日期");
            return Value::dateTime(*d);
        }
        if (field.daoType == DaoBoolean) {
            const QString t = v.textValue().trimmed();
            if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                return Value::boolean(true);
            if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
                return Value::boolean(false);
        }
        const bool binary =
            field.daoType == DaoBinary || field.daoType == DaoLongBinary || field.daoType == DaoGuid;
        const auto number = binary ? std::nullopt : SqlLexer::readNumber(v.textValue());
        if (!number)
            refuse(v, field, binary ? "binary data" : "a number", binary ? u"二进制数据" : u"数字");
        n = *number;
    }
    switch (field.daoType) {
    case DaoText:
    case DaoMemo: {
        Value text = v.kind() == Value::Kind::Text ? v : Value::text(v.toText());
        // Readers of every format this engine writes end a text at its
        // first NUL (Chr(0)): what followed would be lost without a word.
        if (text.textValue().contains(QChar(0))) {
            const QString shown = EngineError::excerpt(text.textValue());
            throw EngineError(
                QStringLiteral("\"%1\" cannot be written into the field \"%2\": it has the "
                               "character Chr(0), where the text would end when it is read")
                    .arg(shown, field.name),
                QStringLiteral("字段 %1 不能写入“%2”：其中有字符 Chr(0)，读取时文字会在那里截断")
                    .arg(field.name, shown));
        }
        return text;
    }
    case DaoByte:
    case DaoInteger:
    case DaoLong: {
        if (classOf(n) == Class::Boolean)
            return Value::integer(n.toBool() ? -1 : 0);
        if (n.kind() == Value::Kind::Integer)
            return n;
        if (classOf(n) != Class::Number)
            refuse(v, field, "a number", u"数字");
        const double d = n.toDouble();
        if (d != std::floor(d) || std::fabs(d) > 9.2e18)
            refuse(v, field, "a whole number", u"整数");
        return Value::integer(qint64(d));
    }
    case DaoSingle:
    case DaoDouble:
    case DaoDecimal:
        if (classOf(n) != Class::Number && classOf(n) != Class::Boolean)
            refuse(v, field, "a number", u"数字");
        // A whole number beyond a double's precision stays exact (as the
        // dBase codec reads one back); the field decides how it is stored.
        if (n.kind() == Value::Kind::Integer && field.daoType != DaoSingle &&
            (n.toInteger() > kExactInDouble || n.toInteger() < -kExactInDouble))
            return n;
        return Value::real(asDouble(n));
    case DaoCurrency: {
        __int128 x = 0;
        if (scaled(n, x)) {
            if (x > std::numeric_limits<qint64>::max() || x < std::numeric_limits<qint64>::min())
                refuse(v, field, "an amount in range", u"范围内的金额");
            return Value::currency(qint64(x));
        }
        if (n.kind() != Value::Kind::Double)
            refuse(v, field, "a number", u"数字");
        const double d = std::round(n.toDouble() * 10000);
        if (!(std::fabs(d) < 9.2e18))
            refuse(v, field, "an amount in range", u"范围内的金额");
        return Value::currency(qint64(d));
    }
    case DaoDate:
        if (n.kind() != Value::Kind::DateTime)
            refuse(v, field, "a date", u"日期");
        return n;
    case DaoBoolean:
        if (classOf(n) == Class::Boolean)
            return n;
        if (classOf(n) != Class::Number)
            refuse(v, field, "True or False", u"真或假");
        return Value::boolean(asDouble(n) != 0);
    default:
        if (n.kind() != Value::Kind::Binary)
            refuse(v, field, "binary data", u"二进制数据");
        return n;
    }
}

} // namespace lumora::engine
