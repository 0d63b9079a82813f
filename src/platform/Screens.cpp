#include "platform/Screens.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoScreens final : public Screens {
  public:
    std::vector<Screen> screens() override { return {}; }
    std::optional<Screen> mainScreen() override { return std::nullopt; }
    Point mouseLocation() override { return {}; }
    Handle observeChanges(std::function<void()>) override { return Handle(); }
};

PlatformSlot<Screens, NoScreens> slot;

}  // namespace

Screens& screens() {
    return slot.get();
}
void installScreens(std::shared_ptr<Screens> screens) {
    slot.install(std::move(screens));
}

}  // namespace velvox::Platform
