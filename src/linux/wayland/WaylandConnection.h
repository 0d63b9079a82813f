#pragma once

#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_compositor;
struct wl_shm;
struct zwlr_layer_shell_v1;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;

namespace velvox {

// A connection of our own to the compositor, for what the toolkit does not
// do for us: the seat, and the clipboard-control and virtual-keyboard
// protocols, and the layer shell for the pill, where the compositor offers
// them (wlroots compositors all three, KDE Plasma the clipboard and the layer
// shell, GNOME none). Its events are handled from the GLib main loop.
class WaylandConnection {
  public:
    // Nothing when no compositor answers.
    static std::shared_ptr<WaylandConnection> open();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    // Null where the compositor offers none.
    wl_seat* seat() const { return seat_; }
    zwlr_data_control_manager_v1* dataControl() const { return dataControl_; }
    zwp_virtual_keyboard_manager_v1* virtualKeyboard() const { return virtualKeyboard_; }
    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }

    // Sends the requests made so far without waiting; false once the
    // connection is lost (requests that did not fit wait for the next flush).
    bool flush();
    // Sends them and handles every event the compositor sent in answer;
    // false once the connection is lost.
    bool roundtrip();

  private:
    explicit WaylandConnection(wl_display* display);
    static void global(void* self, wl_registry*, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_data_control_manager_v1* dataControl_ = nullptr;
    zwp_virtual_keyboard_manager_v1* virtualKeyboard_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    unsigned watch_ = 0;
};

}  // namespace velvox
