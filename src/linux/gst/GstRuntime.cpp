#include "linux/gst/GstRuntime.h"

#include <gst/gst.h>

#include <mutex>

namespace velvox::GstRuntime {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace velvox::GstRuntime
