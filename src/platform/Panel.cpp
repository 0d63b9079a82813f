#include "platform/Panel.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoPanels final : public Panels {
  public:
    std::shared_ptr<Panel> createPanel(const Size&) override { return nullptr; }
};

PlatformSlot<Panels, NoPanels> slot;

}  // namespace

Panels& panels() {
    return slot.get();
}
void installPanels(std::shared_ptr<Panels> panels) {
    slot.install(std::move(panels));
}

}  // namespace velvox::Platform
