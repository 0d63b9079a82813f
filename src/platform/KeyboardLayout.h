#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velvox {

// The user's current keyboard layout.
class KeyboardLayout {
  public:
    virtual ~KeyboardLayout() = default;
    // The text (UTF-8) the key types with no modifier held, as the layout
    // shows it on a key cap; nothing when the key types nothing or the layout
    // is unknown. The key code is a macOS virtual key code (by position).
    virtual std::optional<std::string> character(uint16_t keyCode) = 0;
};

namespace Platform {
KeyboardLayout& keyboardLayout();
void installKeyboardLayout(std::shared_ptr<KeyboardLayout> layout);
}  // namespace Platform

}  // namespace velvox
