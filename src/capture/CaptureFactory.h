#pragma once

#include "capture/CaptureControl.h"

#include <memory>

// The program's camera component: GStreamer, on the first V4L2 camera, or the
// test picture when the machine has none.
std::unique_ptr<CaptureControl> createCaptureControl(QObject *parent = nullptr);
