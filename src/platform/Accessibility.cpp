#include "platform/Accessibility.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoAccessibility final : public Accessibility {
  public:
    bool isProcessTrusted() override { return false; }
    bool isAvailable() override { return false; }
    std::unique_ptr<FocusedElement> focusedElement(double) override { return nullptr; }
};

PlatformSlot<Accessibility, NoAccessibility> slot;

}  // namespace

Accessibility& accessibility() {
    return slot.get();
}
void installAccessibility(std::shared_ptr<Accessibility> accessibility) {
    slot.install(std::move(accessibility));
}

}  // namespace velvox::Platform
