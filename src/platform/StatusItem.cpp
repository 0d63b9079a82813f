#include "platform/StatusItem.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoStatusItem final : public StatusItem {
  public:
    void setImage(const VectorImage&) override {}
    void setToolTip(const std::string&) override {}
    void setMenu(std::vector<MenuItem>) override {}
    void setItemTitle(std::size_t, const std::string&) override {}
    void setItemChecked(std::size_t, bool) override {}
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
