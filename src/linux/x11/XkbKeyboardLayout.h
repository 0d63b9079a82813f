#pragma once

#include <memory>

#include "platform/KeyboardLayout.h"

namespace velvox {

// The X server's current keyboard layout, read with libxkbcommon-x11 on a
// connection of its own. The key map is read again after the server reports a
// new keyboard or a changed map; the active layout group is read on every call.
class XkbKeyboardLayout final : public KeyboardLayout {
  public:
    XkbKeyboardLayout();
    ~XkbKeyboardLayout() override;
    XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
    XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

    std::optional<std::string> character(uint16_t keyCode) override;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace velvox
