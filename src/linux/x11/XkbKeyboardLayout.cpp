#include "linux/x11/XkbKeyboardLayout.h"

#include <xcb/xcb.h>
// xcb's XKB header names a field `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>

#include "linux/x11/KeyCodeTable.h"

namespace velvox {

struct XkbKeyboardLayout::State {
    xcb_connection_t* connection = nullptr;
    int32_t device = -1;
    uint8_t xkbEventBase = 0;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;

    bool connect();
    void disconnect();
    // Takes note of new keyboards and changed maps since the last call.
    bool mapChanged();
    bool ensureKeymap();
};

bool XkbKeyboardLayout::State::connect() {
    if (connection) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) ||
        !xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase, nullptr)) {
        disconnect();
        return false;
    }
    device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0) {
        disconnect();
        return false;
    }
    const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(connection, static_cast<xcb_xkb_device_spec_t>(device), events, 0, events,
                          0xFF, 0xFF, nullptr);
    xcb_flush(connection);
    context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    return context != nullptr;
}

void XkbKeyboardLayout::State::disconnect() {
    if (keymap) xkb_keymap_unref(keymap);
    if (context) xkb_context_unref(context);
    if (connection) xcb_disconnect(connection);
    keymap = nullptr;
    context = nullptr;
    connection = nullptr;
    device = -1;
}

bool XkbKeyboardLayout::State::mapChanged() {
    bool changed = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        if ((event->response_type & 0x7F) == xkbEventBase) changed = true;
        std::free(event);
    }
    return changed;
}

bool XkbKeyboardLayout::State::ensureKeymap() {
    if (!connect()) return false;
    if (xcb_connection_has_error(connection)) {
        // The server went away; a later call may find it again.
        disconnect();
        return false;
    }
    if (mapChanged() && keymap) {
        xkb_keymap_unref(keymap);
        keymap = nullptr;
    }
    if (!keymap) {
        keymap = xkb_x11_keymap_new_from_device(context, connection, device,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    return keymap != nullptr;
}

XkbKeyboardLayout::XkbKeyboardLayout() : state_(std::make_unique<State>()) {}

XkbKeyboardLayout::~XkbKeyboardLayout() {
    state_->disconnect();
}

std::optional<std::string> XkbKeyboardLayout::character(uint16_t keyCode) {
    auto positions = KeyCodeTable::evdevForMacKeyCode(keyCode);
    if (positions.empty() || !state_->ensureKeymap()) return std::nullopt;

    // The layout group in use now, with no modifier and no lock applied.
    xkb_state* current =
        xkb_x11_state_new_from_device(state_->keymap, state_->connection, state_->device);
    if (!current) return std::nullopt;
    xkb_layout_index_t group = xkb_state_serialize_layout(current, XKB_STATE_LAYOUT_EFFECTIVE);
    xkb_state_unref(current);
    xkb_state* plain = xkb_state_new(state_->keymap);
    if (!plain) return std::nullopt;
    xkb_state_update_mask(plain, 0, 0, 0, 0, 0, group);

    xkb_keycode_t keycode =
        static_cast<xkb_keycode_t>(positions.front() + KeyCodeTable::kX11KeycodeOffset);
    xkb_keysym_t symbol = xkb_state_key_get_one_sym(plain, keycode);
    xkb_state_unref(plain);
    if (symbol == XKB_KEY_NoSymbol) return std::nullopt;

    char text[16] = {};
    int written = xkb_keysym_to_utf8(symbol, text, sizeof(text));
    if (written <= 1) return std::nullopt;  // only the terminator: the key types nothing
    // Control characters (return, tab, escape ...) are not shown on a key cap.
    auto first = static_cast<unsigned char>(text[0]);
    if (first < 0x20 || first == 0x7F) return std::nullopt;
    return std::string(text);
}

}  // namespace velvox
