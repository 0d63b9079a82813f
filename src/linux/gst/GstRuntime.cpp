#include "linux/gst/GstRuntime.h"

#include <gst/gst.h>

#include <mutex>

namespace velvox::GstRuntime {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

const char* firstInstalled(std::initializer_list<const char*> elements) {
    ensureInitialised();
    for (const char* name : elements) {
        g_autoptr(GstElementFactory) factory = gst_element_factory_find(name);
        if (factory) return name;
    }
    return nullptr;
}

}  // namespace velvox::GstRuntime
