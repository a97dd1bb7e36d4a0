#include "capture/CaptureFactory.h"

std::unique_ptr<CaptureControl> createCaptureControl(QObject *)
{
    return nullptr;
}
