#pragma once

#include <QString>

// GStreamer is set up once per process, on first use: the first gst_init on a
// machine builds the plugin registry and takes most of a second, which the
// main window's start-up must not pay. Callable from any thread; false with
// the reason in *error when GStreamer cannot be used.
bool ensureGstInitialised(QString *error = nullptr);

// Whether the named GStreamer element can be made (its plugin is installed).
bool gstElementAvailable(const char *factoryName);
