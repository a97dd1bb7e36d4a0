#pragma once

#include <gst/gst.h>

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
