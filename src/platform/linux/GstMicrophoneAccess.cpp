#include "platform/linux/GstMicrophoneAccess.h"

#include <gst/gst.h>

#include <cstdlib>

#include "platform/linux/GstRuntime.h"

namespace velvox {

GstMicrophoneAccess::~GstMicrophoneAccess() {
    if (monitor_) {
        gst_device_monitor_stop(monitor_);
        gst_object_unref(monitor_);
    }
}

bool GstMicrophoneAccess::inputExists() {
    const char* override = std::getenv("VELVOX_AUDIO_SOURCE");
    if (override && *override) return true;
    GstRuntime::ensureInitialised();
    if (!monitor_) {
        GstDeviceMonitor* monitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(monitor, "Audio/Source", nullptr);
        if (!gst_device_monitor_start(monitor)) {
            // No provider could start (no sound server); ask again next time.
            gst_object_unref(monitor);
            return false;
        }
        monitor_ = monitor;
    }
    GList* devices = gst_device_monitor_get_devices(monitor_);
    bool any = devices != nullptr;
    g_list_free_full(devices, gst_object_unref);
    return any;
}

MicrophoneAuthorization GstMicrophoneAccess::status() {
    return inputExists() ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
}

void GstMicrophoneAccess::requestAccess(std::function<void(bool granted)> completion) {
    bool granted = inputExists();
    if (completion) completion(granted);
}

}  // namespace velvox
