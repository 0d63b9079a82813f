#pragma once

#include <glib-object.h>

#include <memory>

namespace velvox {

// Holders for references kept beyond one scope (members, results handed on),
// where g_autoptr cannot go. Each releases its reference when it goes.

// A GStreamer object (element, bus, device provider, ...): gst_object_unref.
struct GstObjectUnref {
    void operator()(gpointer object) const;
};
template <typename T>
using GstOwned = std::unique_ptr<T, GstObjectUnref>;

// A plain GObject: g_object_unref.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectOwned = std::unique_ptr<T, GObjectUnref>;

}  // namespace velvox
