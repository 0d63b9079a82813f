#include "linux/wayland/VirtualKeyboardPaste.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "virtual-keyboard-unstable-v1-client.h"

namespace velvox {

namespace {

// xkb key codes are evdev codes moved up by 8.
constexpr uint32_t kEvdevOffset = 8;

// The key whose first symbol is `symbol`, as an evdev code.
std::optional<uint32_t> keyFor(xkb_keymap* keymap, xkb_keysym_t symbol) {
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap);
         ++key) {
        const xkb_keysym_t* symbols = nullptr;
        int count = xkb_keymap_key_get_syms_by_level(keymap, key, 0, 0, &symbols);
        if (count > 0 && symbols[0] == symbol && key >= kEvdevOffset) return key - kEvdevOffset;
    }
    return std::nullopt;
}

// The keymap text in a sealed-size memory file, as the protocol takes it
// (with its terminating NUL); -1 when none could be made.
int keymapFile(const std::string& text, uint32_t* size) {
    int fd = ::memfd_create("velvox-keymap", MFD_CLOEXEC);
    if (fd < 0) return -1;
    *size = static_cast<uint32_t>(text.size() + 1);
    if (::write(fd, text.c_str(), *size) != static_cast<ssize_t>(*size)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint32_t now() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::shared_ptr<VirtualKeyboardPaste> VirtualKeyboardPaste::create(
    std::shared_ptr<WaylandConnection> connection, std::function<bool()> focusIsTerminal,
    std::function<bool()> focusPastesClipboard) {
    if (!connection || !connection->virtualKeyboard() || !connection->seat()) return nullptr;
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    if (!context) return nullptr;
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    std::optional<Keys> keys;
    std::string text;
    if (keymap) {
        auto control = keyFor(keymap.get(), XKB_KEY_Control_L);
        auto shift = keyFor(keymap.get(), XKB_KEY_Shift_L);
        auto v = keyFor(keymap.get(), XKB_KEY_v);
        if (control && shift && v) {
            keys = Keys{*control, *shift, *v,
                        1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL),
                        1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT)};
        }
        std::unique_ptr<char, decltype(&std::free)> string(
            xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), std::free);
        if (string) text = string.get();
    }
    uint32_t size = 0;
    int fd = keys && !text.empty() ? keymapFile(text, &size) : -1;
    if (fd < 0) return nullptr;

    auto* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        connection->virtualKeyboard(), connection->seat());
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
    ::close(fd);
    // A compositor that refuses us ends the connection here.
    if (!connection->roundtrip()) return nullptr;
    return std::make_shared<VirtualKeyboardPaste>(std::move(connection), keyboard, *keys,
                                                  std::move(focusIsTerminal),
                                                  std::move(focusPastesClipboard));
}

VirtualKeyboardPaste::VirtualKeyboardPaste(std::shared_ptr<WaylandConnection> connection,
                                           zwp_virtual_keyboard_v1* keyboard, Keys keys,
                                           std::function<bool()> focusIsTerminal,
                                           std::function<bool()> focusPastesClipboard)
    : connection_(std::move(connection)),
      keyboard_(keyboard),
      keys_(keys),
      focusIsTerminal_(std::move(focusIsTerminal)),
      focusPastesClipboard_(std::move(focusPastesClipboard)) {}

VirtualKeyboardPaste::~VirtualKeyboardPaste() {
    zwp_virtual_keyboard_v1_destroy(keyboard_);
    connection_->flush();
}

void VirtualKeyboardPaste::post(Sent sent) {
    // Our keyboard's modifiers are its own: what the user holds on theirs
    // does not mix in, so nothing needs lifting first.
    bool terminal = focusIsTerminal_ && focusIsTerminal_();
    uint32_t modifiers = keys_.controlMask | (terminal ? keys_.shiftMask : 0);
    auto key = [this](uint32_t code, bool down) {
        zwp_virtual_keyboard_v1_key(
            keyboard_, now(), code,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    };
    key(keys_.control, true);
    if (terminal) key(keys_.shift, true);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, modifiers, 0, 0, 0);
    key(keys_.v, true);
    key(keys_.v, false);
    if (terminal) key(keys_.shift, false);
    key(keys_.control, false);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    // The compositor reads the requests in the order written, from one
    // connection: once flushed, all of them go in.
    bool flushed = connection_->flush();
    if (sent) sent(flushed);
}

}  // namespace velvox
