#include "platform/Workspace.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoWorkspace final : public Workspace {
  public:
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    std::optional<std::string> focusedWindowTitle(int32_t) override { return std::nullopt; }
};

PlatformSlot<Workspace, NoWorkspace> slot;

}  // namespace

Workspace& workspace() {
    return slot.get();
}
void installWorkspace(std::shared_ptr<Workspace> workspace) {
    slot.install(std::move(workspace));
}

}  // namespace velvox::Platform
