#include "data/FailureText.h"

#include "data/DataError.h"

#include <exception>
#include <new>

QString DataError::text() const
{
    if (!chinese.isEmpty())
        return chinese;
    // An error raised without Chinese words still says what kind of
    // failure it is; its English text is kept for the facts it names.
    if (locked())
        return QStringLiteral("数据表被其他程序锁定（%1）").arg(english);
    return QStringLiteral("数据表出错（%1）").arg(english);
}

DataError DataError::current()
{
    using lumora::engine::EngineError;
    try {
        throw;
    } catch (const EngineError &e) {
        return {e.code(), e.message(), e.chinese()};
    } catch (const std::bad_alloc &) {
        return {Code::Other, QStringLiteral("out of memory"), QStringLiteral("内存不足")};
    } catch (const std::exception &e) {
        const QString what = QString::fromLocal8Bit(e.what());
        return {Code::Other, what, QStringLiteral("程序内部出错（%1）").arg(what)};
    } catch (...) {
        return {Code::Other, QStringLiteral("unknown error"), QStringLiteral("未知错误")};
    }
}

QString CurrentFailureText()
{
    return DataError::current().text();
}
