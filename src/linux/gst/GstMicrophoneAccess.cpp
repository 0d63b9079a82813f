#include "linux/gst/GstMicrophoneAccess.h"

#include <gst/gst.h>

#include <cstdlib>

#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

// The sound server offers what each output plays as a source too; recording
// it captures the speakers, not the user.
bool isMonitor(GstDevice* device) {
    GstStructure* properties = gst_device_get_properties(device);
    if (!properties) return false;
    bool monitor = g_strcmp0(gst_structure_get_string(properties, "device.class"), "monitor") == 0;
    gst_structure_free(properties);
    return monitor;
}

}  // namespace

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
    bool any = false;
    for (GList* item = devices; item && !any; item = item->next) {
        any = !isMonitor(GST_DEVICE(item->data));
    }
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
