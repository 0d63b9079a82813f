#include "platform/PasteKeystroke.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoPasteKeystroke final : public PasteKeystroke {
  public:
    void post() override {}
};

PlatformSlot<PasteKeystroke, NoPasteKeystroke> slot;

}  // namespace

PasteKeystroke& pasteKeystroke() {
    return slot.get();
}
void installPasteKeystroke(std::shared_ptr<PasteKeystroke> keystroke) {
    slot.install(std::move(keystroke));
}

}  // namespace velvox::Platform
