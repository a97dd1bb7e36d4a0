#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <functional>

// A GStreamer element that scales BGRx frames to the size its output caps
// ask for, taking the nearest pixel, in one pass: each output row is read
// from its source row through a column map made once per size. It passes a
// frame through untouched when the sizes are the same.
//
// GStreamer's own scaler, asked for the same, copies every source row it
// takes before scaling it; for frames already in the window's format (the
// test picture) this one does the live picture's scaling at about half the
// cost. Not registered as a plugin: made with makePreviewScale().
GstElement *makePreviewScale();

// Called on the streaming thread after each band of rows of a scaled frame
// is written, rows firstRow to endRow − 1, while they are in the cache: the
// first call of a frame has firstRow 0. Not called for a frame passed
// through.
using PreviewRowsWritten = std::function<void(GstVideoFrame *frame, int firstRow, int endRow)>;
void setPreviewRowsWritten(GstElement *previewScale, PreviewRowsWritten written);
