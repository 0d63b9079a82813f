#include "linux/gst/GstHandles.h"

#include <gst/gst.h>

namespace velvox {

// Out of line so that headers holding GStreamer objects need not include GStreamer.
void GstObjectUnref::operator()(gpointer object) const {
    gst_object_unref(object);
}

}  // namespace velvox
