#include "platform/KeyboardLayout.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoKeyboardLayout final : public KeyboardLayout {
  public:
    std::optional<std::string> character(uint16_t) override { return std::nullopt; }
};

PlatformSlot<KeyboardLayout, NoKeyboardLayout> slot;

}  // namespace

KeyboardLayout& keyboardLayout() {
    return slot.get();
}
void installKeyboardLayout(std::shared_ptr<KeyboardLayout> layout) {
    slot.install(std::move(layout));
}

}  // namespace velvox::Platform
