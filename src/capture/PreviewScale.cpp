#include "capture/PreviewScale.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct PreviewScale
{
    GstVideoFilter parent;
    std::vector<int> *columns; // the source column of each output column
    PreviewRowsWritten *written;
};

struct PreviewScaleClass
{
    GstVideoFilterClass parent;
};

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));

GType previewScaleType();

PreviewScale *asScale(gpointer object)
{
    return G_TYPE_CHECK_INSTANCE_CAST(object, previewScaleType(), PreviewScale);
}

// Any size on the other side, with square pixels.
GstCaps *transformCaps(GstBaseTransform *, GstPadDirection, GstCaps *caps, GstCaps *filter)
{
    GstCaps *result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure *structure = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_set(structure, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE,
                          1, G_MAXINT, nullptr);
        gst_structure_remove_field(structure, "pixel-aspect-ratio");
        result = gst_caps_merge_structure(result, structure);
    }
    if (filter) {
        GstCaps *both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    return result;
}

// A size left open downstream stays the input's.
GstCaps *fixateCaps(GstBaseTransform *, GstPadDirection, GstCaps *caps, GstCaps *othercaps)
{
    othercaps = gst_caps_truncate(gst_caps_make_writable(othercaps));
    GstStructure *out = gst_caps_get_structure(othercaps, 0);
    const GstStructure *in = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0;
    if (gst_structure_get_int(in, "width", &width))
        gst_structure_fixate_field_nearest_int(out, "width", width);
    if (gst_structure_get_int(in, "height", &height))
        gst_structure_fixate_field_nearest_int(out, "height", height);
    return gst_caps_fixate(othercaps);
}

gboolean setInfo(GstVideoFilter *filter, GstCaps *, GstVideoInfo *in, GstCaps *, GstVideoInfo *out)
{
    PreviewScale *self = asScale(filter);
    const int from = GST_VIDEO_INFO_WIDTH(in), to = GST_VIDEO_INFO_WIDTH(out);
    self->columns->resize(size_t(std::max(to, 0)));
    // The source pixel under each output pixel's centre.
    for (int x = 0; x < to; ++x)
        (*self->columns)[size_t(x)] = int((int64_t(2 * x + 1) * from) / (2 * int64_t(to)));
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter),
                                       from == to && GST_VIDEO_INFO_HEIGHT(in) == GST_VIDEO_INFO_HEIGHT(out));
    return TRUE;
}

GstFlowReturn transformFrame(GstVideoFilter *filter, GstVideoFrame *in, GstVideoFrame *out)
{
    const PreviewScale *self = asScale(filter);
    const int fromHeight = GST_VIDEO_FRAME_HEIGHT(in);
    const int toWidth = GST_VIDEO_FRAME_WIDTH(out), toHeight = GST_VIDEO_FRAME_HEIGHT(out);
    if (int(self->columns->size()) != toWidth)
        return GST_FLOW_ERROR;
    const auto *source = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    auto *target = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
    const int sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    const int targetStride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
    const int *columns = self->columns->data();
    // A band of rows is small enough to be in the cache still when it is
    // handed on.
    constexpr int Band = 16;
    for (int first = 0; first < toHeight; first += Band) {
        const int end = std::min(first + Band, toHeight);
        for (int y = first; y < end; ++y) {
            const int row = int((int64_t(2 * y + 1) * fromHeight) / (2 * int64_t(toHeight)));
            const auto *from = reinterpret_cast<const uint32_t *>(source + ptrdiff_t(row) * sourceStride);
            auto *to = reinterpret_cast<uint32_t *>(target + ptrdiff_t(y) * targetStride);
            for (int x = 0; x < toWidth; ++x)
                to[x] = from[columns[x]];
        }
        if (*self->written)
            (*self->written)(out, first, end);
    }
    return GST_FLOW_OK;
}

void previewScaleInit(PreviewScale *self)
{
    self->columns = new std::vector<int>;
    self->written = new PreviewRowsWritten;
}

void previewScaleFinalize(GObject *object)
{
    delete asScale(object)->columns;
    delete asScale(object)->written;
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void previewScaleClassInit(PreviewScaleClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = previewScaleFinalize;
    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Lumora preview scaler", "Filter/Converter/Video/Scaler",
                                          "Scales BGRx frames to the nearest pixel", "Lumora");
    GstBaseTransformClass *transform = GST_BASE_TRANSFORM_CLASS(klass);
    transform->transform_caps = transformCaps;
    transform->fixate_caps = fixateCaps;
    transform->passthrough_on_same_caps = TRUE;
    GstVideoFilterClass *video = GST_VIDEO_FILTER_CLASS(klass);
    video->set_info = setInfo;
    video->transform_frame = transformFrame;
}

GType previewScaleType()
{
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(PreviewScaleClass);
        info.class_init = GClassInitFunc(+[](gpointer klass, gpointer) {
            previewScaleClassInit(static_cast<PreviewScaleClass *>(klass));
        });
        info.instance_size = sizeof(PreviewScale);
        info.instance_init = GInstanceInitFunc(+[](GTypeInstance *instance, gpointer) {
            previewScaleInit(reinterpret_cast<PreviewScale *>(instance));
        });
        return g_type_register_static(GST_TYPE_VIDEO_FILTER, "LumoraPreviewScale", &info, GTypeFlags(0));
    }();
    return type;
}

} // namespace

GstElement *makePreviewScale()
{
    return GST_ELEMENT(g_object_new(previewScaleType(), nullptr));
}

void setPreviewRowsWritten(GstElement *previewScale, PreviewRowsWritten written)
{
    // Before the element runs: the streaming thread reads it unguarded.
    *asScale(previewScale)->written = std::move(written);
}
