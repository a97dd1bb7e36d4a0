#pragma once

#include <gst/gst.h>

#include <memory>

// Owning pointers to GStreamer objects: the deleter drops the reference we hold.
struct GstObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            gst_object_unref(object);
    }
};
struct GstCapsUnref
{
    void operator()(GstCaps *caps) const
    {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct GstMessageUnref
{
    void operator()(GstMessage *message) const
    {
        if (message)
            gst_message_unref(message);
    }
};

template <typename T> using GstHandle = std::unique_ptr<T, GstObjectUnref>;
using GstCapsHandle = std::unique_ptr<GstCaps, GstCapsUnref>;
using GstMessageHandle = std::unique_ptr<GstMessage, GstMessageUnref>;
