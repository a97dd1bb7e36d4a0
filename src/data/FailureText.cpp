#include "data/FailureText.h"

#include "data/engine/EngineError.h"

#include <exception>
#include <new>

QString CurrentFailureText()
{
    using lumora::engine::EngineError;
    try {
        throw;
    } catch (const EngineError &e) {
        if (!e.chinese().isEmpty())
            return e.chinese();
        // An error raised without Chinese words still says what kind of
        // failure it is; its English text is kept for the facts it names.
        if (e.code() == EngineError::Code::Locked)
            return QStringLiteral("数据表被其他程序锁定（%1）").arg(e.message());
        return QStringLiteral("数据表出错（%1）").arg(e.message());
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足");
    } catch (const std::exception &e) {
        return QStringLiteral("程序内部出错（%1）").arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}
