#include "linux/x11/XkbKeyboardLayout.h"

#include <xcb/xcb.h>
// xcb's XKB header names a field `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <memory>

#include "linux/x11/KeyCodeTable.h"

namespace velvox {

namespace {

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
// xcb's events and replies are malloc'd.
struct Free {
    void operator()(void* memory) const { std::free(memory); }
};

}  // namespace

struct XkbKeyboardLayout::State {
    // Declared in the order they are made, so that each goes before what it
    // was made from.
    std::unique_ptr<xcb_connection_t, Disconnect> connection;
    int32_t device = -1;
    uint8_t xkbEventBase = 0;
    std::unique_ptr<xkb_context, ContextUnref> context;
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;

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
    connection.reset(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()) ||
        !xkb_x11_setup_xkb_extension(
            connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase, nullptr)) {
        disconnect();
        return false;
    }
    device = xkb_x11_get_core_keyboard_device_id(connection.get());
    if (device < 0) {
        disconnect();
        return false;
    }
    const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(connection.get(), static_cast<xcb_xkb_device_spec_t>(device), events, 0,
                          events, 0xFF, 0xFF, nullptr);
    xcb_flush(connection.get());
    context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    return context != nullptr;
}

void XkbKeyboardLayout::State::disconnect() {
    keymap.reset();
    context.reset();
    connection.reset();
    device = -1;
}

bool XkbKeyboardLayout::State::mapChanged() {
    bool changed = false;
    while (std::unique_ptr<xcb_generic_event_t, Free> event{xcb_poll_for_event(connection.get())}) {
        if ((event->response_type & 0x7F) == xkbEventBase) changed = true;
    }
    return changed;
}

bool XkbKeyboardLayout::State::ensureKeymap() {
    if (!connect()) return false;
    if (xcb_connection_has_error(connection.get())) {
        // The server went away; a later call may find it again.
        disconnect();
        return false;
    }
    if (mapChanged()) keymap.reset();
    if (!keymap) {
        keymap.reset(xkb_x11_keymap_new_from_device(context.get(), connection.get(), device,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
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
    std::unique_ptr<xkb_state, StateUnref> current(xkb_x11_state_new_from_device(
        state_->keymap.get(), state_->connection.get(), state_->device));
    if (!current) return std::nullopt;
    xkb_layout_index_t group =
        xkb_state_serialize_layout(current.get(), XKB_STATE_LAYOUT_EFFECTIVE);
    std::unique_ptr<xkb_state, StateUnref> plain(xkb_state_new(state_->keymap.get()));
    if (!plain) return std::nullopt;
    xkb_state_update_mask(plain.get(), 0, 0, 0, 0, 0, group);

    xkb_keycode_t keycode =
        static_cast<xkb_keycode_t>(positions.front() + KeyCodeTable::kX11KeycodeOffset);
    xkb_keysym_t symbol = xkb_state_key_get_one_sym(plain.get(), keycode);
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
