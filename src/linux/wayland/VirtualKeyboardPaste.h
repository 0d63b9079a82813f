#pragma once

#include <functional>
#include <memory>

#include "linux/wayland/WaylandConnection.h"
#include "platform/PasteKeystroke.h"

struct zwp_virtual_keyboard_v1;

namespace velvox {

// The paste shortcut typed on a virtual keyboard of our own, which the
// compositor treats like a physical one: it reaches whatever window has the
// focus, native or XWayland. The keyboard brings its own keymap (a US
// layout), so the keys mean the same whatever the user's layout is.
class VirtualKeyboardPaste final : public PasteKeystroke {
  public:
    // Nothing when the compositor offers no virtual keyboards.
    // `focusIsTerminal` chooses Control+Shift+V; `focusPastesClipboard` says
    // whether the focused window takes a paste key at all.
    static std::shared_ptr<VirtualKeyboardPaste> create(
        std::shared_ptr<WaylandConnection> connection, std::function<bool()> focusIsTerminal,
        std::function<bool()> focusPastesClipboard = {});
    ~VirtualKeyboardPaste() override;
    VirtualKeyboardPaste(const VirtualKeyboardPaste&) = delete;
    VirtualKeyboardPaste& operator=(const VirtualKeyboardPaste&) = delete;

    void post(Sent sent) override;
    bool focusPastesClipboard() override {
        return !focusPastesClipboard_ || focusPastesClipboard_();
    }

    struct Keys {
        uint32_t control, shift, v;  // evdev codes
        uint32_t controlMask, shiftMask;
    };
    VirtualKeyboardPaste(std::shared_ptr<WaylandConnection> connection,
                         zwp_virtual_keyboard_v1* keyboard, Keys keys,
                         std::function<bool()> focusIsTerminal,
                         std::function<bool()> focusPastesClipboard);

  private:
    std::shared_ptr<WaylandConnection> connection_;
    zwp_virtual_keyboard_v1* keyboard_;
    Keys keys_;
    std::function<bool()> focusIsTerminal_;
    std::function<bool()> focusPastesClipboard_;
};

}  // namespace velvox
