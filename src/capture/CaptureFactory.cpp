#include "capture/CaptureFactory.h"

#include "capture/GstCaptureControl.h"

std::unique_ptr<CaptureControl> createCaptureControl(QObject *parent)
{
    return std::make_unique<GstCaptureControl>(parent);
}
