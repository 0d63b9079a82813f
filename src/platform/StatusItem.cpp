#include "platform/StatusItem.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoStatusItem final : public StatusItem {
  public:
    void setImage(const VectorImage&) override {}
    void setToolTip(const std::string&) override {}
};

PlatformSlot<StatusItem, NoStatusItem> slot;

}  // namespace

StatusItem& statusItem() {
    return slot.get();
}
void installStatusItem(std::shared_ptr<StatusItem> item) {
    slot.install(std::move(item));
}

}  // namespace velvox::Platform
