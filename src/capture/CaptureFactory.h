#pragma once

#include "capture/CaptureControl.h"
#include "capture/CaptureSource.h"

#include <memory>
#include <optional>

// The program's camera component: GStreamer, on the source chosen in
// "视频设置" at an earlier run, else the first V4L2 camera, or the test picture
// when the machine has none. `source`, when given, is used instead for this
// run (the command line's --camera).
std::unique_ptr<CaptureControl> createCaptureControl(QObject *parent = nullptr,
                                                     const std::optional<CaptureSettings> &source = {});

// What `--camera PATH` stands for: a folder is watched as a tether folder,
// a file is shown as a still picture or played as a looped video. nullopt
// with the reason in *error when the path is neither.
std::optional<CaptureSettings> captureSettingsForPath(const QString &path, QString *error);
