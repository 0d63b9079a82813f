#pragma once

#include <glib.h>

#include <memory>

namespace velvox {

// Holders for references kept beyond one scope (members, results handed on),
// where g_autoptr cannot go. Each releases its reference when it goes; a plain
// GObject's holder is GOwned (linux/glib/GlibIds.h).

// A GStreamer object (element, bus, device provider, ...): gst_object_unref.
struct GstObjectUnref {
    void operator()(gpointer object) const;
};
template <typename T>
using GstOwned = std::unique_ptr<T, GstObjectUnref>;

}  // namespace velvox
