#include "capture/GstRuntime.h"

#include "capture/GstHandle.h"

#include <mutex>

namespace {
std::once_flag initOnce;
bool initOk = false;
QString initError;
} // namespace

bool ensureGstInitialised(QString *error)
{
    std::call_once(initOnce, [] {
        GError *err = nullptr;
        initOk = gst_init_check(nullptr, nullptr, &err);
        if (!initOk) {
            initError = QStringLiteral("GStreamer 无法初始化：%1")
                            .arg(err ? QString::fromUtf8(err->message) : QStringLiteral("未知错误"));
        }
        if (err)
            g_error_free(err);
    });
    if (!initOk && error)
        *error = initError;
    return initOk;
}

bool gstElementAvailable(const char *factoryName)
{
    if (!ensureGstInitialised())
        return false;
    GstHandle<GstElementFactory> factory(gst_element_factory_find(factoryName));
    return factory != nullptr;
}
