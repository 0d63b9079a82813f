#include "platform/PasteKeystroke.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoPasteKeystroke final : public PasteKeystroke {
  public:
    void post(Sent sent) override {
        if (sent) sent(false);
    }
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
