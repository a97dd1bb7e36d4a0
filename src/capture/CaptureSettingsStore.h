#pragma once

#include "capture/CaptureSource.h"

#include <optional>

// The source chosen in "视频设置", kept between runs beside the main window's
// settings (application "Lumora", section "Settings"), as text:
//   spkind    "camera", "test" or "folder"
//   spdevice  the camera's device node; spname its name
//   spmedia, spwidth, spheight, sprate ("30/1")  the size and rate asked of it
//   spfolder  the tether folder (kept whichever source is chosen)
// A picture or video given on the command line is for that run only and is
// never stored.
namespace CaptureSettingsStore {

// The stored choice; nullopt when none was stored (the first camera found is
// then used) or what is stored names no kind this program knows.
std::optional<CaptureSettings> load();
// False when the settings store could not be written or the kind is one
// that is not kept (a file).
bool store(const CaptureSettings &settings);

} // namespace CaptureSettingsStore
