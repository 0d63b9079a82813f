#include "platform/IconImages.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoIconImages final : public IconImages {
  public:
    std::optional<std::string> symbolPNG(const std::string&, int) override { return std::nullopt; }
    ApplicationIcon applicationIcon(const std::string&, int) override { return {}; }
};

PlatformSlot<IconImages, NoIconImages> slot;

}  // namespace

IconImages& iconImages() {
    return slot.get();
}
void installIconImages(std::shared_ptr<IconImages> images) {
    slot.install(std::move(images));
}

}  // namespace velvox::Platform
