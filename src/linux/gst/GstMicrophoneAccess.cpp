#include "linux/gst/GstMicrophoneAccess.h"

#include <gst/gst.h>

#include <utility>

#include "linux/gst/GstPipelineBuilder.h"
#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

// The sound server offers what each output plays as a source too; recording
// it captures the speakers, not the user.
bool isMonitor(GstDevice* device) {
    g_autoptr(GstStructure) properties = gst_device_get_properties(device);
    if (!properties) return false;
    return g_strcmp0(gst_structure_get_string(properties, "device.class"), "monitor") == 0;
}

}  // namespace

GstMicrophoneAccess::~GstMicrophoneAccess() {
    if (monitor_) gst_device_monitor_stop(monitor_.get());
}

bool GstMicrophoneAccess::inputExists() {
    if (GstPipelineBuilder::isSourceOverridden()) return true;
    GstRuntime::ensureInitialised();
    if (!monitor_) {
        GstOwned<GstDeviceMonitor> monitor(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), "Audio/Source", nullptr);
        // No provider could start (no sound server); ask again next time.
        if (!gst_device_monitor_start(monitor.get())) return false;
        monitor_ = std::move(monitor);
    }
    g_autolist(GstDevice) devices = gst_device_monitor_get_devices(monitor_.get());
    bool any = false;
    for (GList* item = devices; item && !any; item = item->next) {
        any = !isMonitor(GST_DEVICE(item->data));
    }
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
