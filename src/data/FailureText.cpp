#include "data/FailureText.h"

#include "data/engine/EngineError.h"

#include <exception>
#include <new>

QString CurrentFailureText()
{
    try {
        throw;
    } catch (const lumora::engine::EngineError &e) {
        return e.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足");
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}
