#include "linux/gst/SoundServerWatch.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

// The sound server's socket, where a restarted server shows itself: the one
// PULSE_SERVER names, else the one in the runtime folder. Empty when unknown
// (a server over the network).
std::string serverSocketPath() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) {
        std::string first(server);
        first = first.substr(0, first.find_first_of(" \t"));
        if (first.rfind("unix:", 0) == 0) first = first.substr(5);
        return first.rfind('/', 0) == 0 ? first : std::string();
    }
    if (const char* runtime = std::getenv("PULSE_RUNTIME_PATH"); runtime && *runtime) {
        return std::string(runtime) + "/native";
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/pulse/native";
    }
    return {};
}

bool socketExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

SoundServerWatch::SoundServerWatch() {
    watchDevices();
}

SoundServerWatch::~SoundServerWatch() {
    if (socketMonitor_) {
        g_signal_handlers_disconnect_by_data(socketMonitor_.get(), this);
        socketMonitor_.reset();
    }
    if (devices_ && devicesWatched_) gst_device_provider_stop(devices_.get());
}

void SoundServerWatch::watchDevices() {
    GstRuntime::ensureInitialised();
    if (!devices_) devices_.reset(gst_device_provider_factory_get_by_name("pulsedeviceprovider"));
    if (!devices_) return;
    if (devicesWatched_) gst_device_provider_stop(devices_.get());
    // Nobody reads the provider's messages: they are dropped, not queued.
    {
        g_autoptr(GstBus) bus = gst_device_provider_get_bus(devices_.get());
        gst_bus_set_flushing(bus, TRUE);
    }
    // Without a server now, every listing asks the server itself until the
    // server's socket shows it back.
    devicesWatched_ = gst_device_provider_start(devices_.get());
}

std::vector<InputDevice> SoundServerWatch::inputDevices() {
    std::vector<InputDevice> inputs;
    if (!devices_) return inputs;
    g_autolist(GstDevice) devices = gst_device_provider_get_devices(devices_.get());
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (!gst_device_has_classes(device, "Audio/Source")) continue;
        // The monitor of an output records what the speakers play.
        bool monitor = false;
        {
            g_autoptr(GstStructure) properties = gst_device_get_properties(device);
            monitor = properties && g_strcmp0(gst_structure_get_string(properties, "device.class"),
                                              "monitor") == 0;
        }
        if (monitor) continue;
        g_autofree gchar* name = nullptr;
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) {
            g_object_get(device, "internal-name", &name, nullptr);
        }
        g_autofree gchar* label = gst_device_get_display_name(device);
        if (name && *name) inputs.push_back({name, label && *label ? label : name});
    }
    return inputs;
}

void SoundServerWatch::followServer(Events events) {
    events_ = std::move(events);
    serverSocket_ = serverSocketPath();
    if (serverSocket_.empty()) return;
    g_autoptr(GFile) socket = g_file_new_for_path(serverSocket_.c_str());
    socketMonitor_.reset(g_file_monitor_file(socket, G_FILE_MONITOR_NONE, nullptr, nullptr));
    if (!socketMonitor_) return;
    g_signal_connect(
        socketMonitor_.get(), "changed",
        G_CALLBACK(+[](GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer data) {
            bool replaced =
                event == G_FILE_MONITOR_EVENT_DELETED || event == G_FILE_MONITOR_EVENT_CREATED ||
                event == G_FILE_MONITOR_EVENT_MOVED_IN || event == G_FILE_MONITOR_EVENT_MOVED_OUT;
            static_cast<SoundServerWatch*>(data)->socketChanged(replaced);
        }),
        this);
}

void SoundServerWatch::socketChanged(bool replaced) {
    if (replaced && events_.replaced) events_.replaced();
    // A server that is back has new inputs to tell of.
    if (replaced && socketExists(serverSocket_)) watchDevices();
    // One that is not yet listening is told of at its socket's next change.
    if (socketExists(serverSocket_) && events_.present) events_.present();
}

}  // namespace velvox
