#include "linux/wayland/WaylandConnection.h"

#include <glib-unix.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstring>

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-layer-shell-unstable-v1-client.h"

namespace velvox {

namespace {

// The clipboard-control protocol under its standard name (ext-data-control,
// which KDE Plasma offers instead since 6.5): the same requests and events in
// the same order, so the objects it makes are driven through the wlroots
// protocol's code; only the manager is bound by the standard name. Debian's
// wayland-protocols predates it.
const wl_interface kStandardDataControl = [] {
    wl_interface standard = zwlr_data_control_manager_v1_interface;
    standard.name = "ext_data_control_manager_v1";
    return standard;
}();

}  // namespace

std::shared_ptr<WaylandConnection> WaylandConnection::open() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    std::shared_ptr<WaylandConnection> connection(new WaylandConnection(display));
    // Once for the globals, once more for the answers to binding them.
    if (!connection->roundtrip() || !connection->roundtrip()) return nullptr;
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {
    static const wl_registry_listener listener = {global, globalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    watch_ = g_unix_fd_add(
        wl_display_get_fd(display_), static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP),
        [](int, GIOCondition, void* data) -> gboolean {
            auto* self = static_cast<WaylandConnection*>(data);
            if (wl_display_dispatch(self->display_) >= 0) return G_SOURCE_CONTINUE;
            self->watch_ = 0;
            return G_SOURCE_REMOVE;
        },
        this);
}

WaylandConnection::~WaylandConnection() {
    if (watch_) g_source_remove(watch_);
    if (dataControl_) zwlr_data_control_manager_v1_destroy(dataControl_);
    if (virtualKeyboard_) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboard_);
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

void WaylandConnection::global(void* data, wl_registry* registry, uint32_t name,
                               const char* interface, uint32_t) {
    auto* self = static_cast<WaylandConnection*>(data);
    // The first seat is the user's; the first version of each protocol is
    // all that delivery needs (no primary selection).
    if (!self->seat_ && std::strcmp(interface, wl_seat_interface.name) == 0) {
        self->seat_ =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 ||
               std::strcmp(interface, kStandardDataControl.name) == 0) {
        // Either name: the standard one wins where both are offered.
        bool standard = std::strcmp(interface, kStandardDataControl.name) == 0;
        if (self->dataControl_ && !standard) return;
        if (self->dataControl_) zwlr_data_control_manager_v1_destroy(self->dataControl_);
        self->dataControl_ = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
            registry, name,
            standard ? &kStandardDataControl : &zwlr_data_control_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        self->virtualKeyboard_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        self->compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        self->shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        self->layerShell_ = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    }
}

bool WaylandConnection::flush() {
    return wl_display_flush(display_) >= 0 || errno == EAGAIN;
}

bool WaylandConnection::roundtrip() {
    return wl_display_roundtrip(display_) >= 0;
}

}  // namespace velvox
