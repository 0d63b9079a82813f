#include "platform/KeyEventSource.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

// Without a real hook nothing can be watched, so start() says so.
class NoKeyEventSource final : public KeyEventSource {
  public:
    bool start(Handler) override { return false; }
    void stop() override {}
    void enable() override {}
    void setSwallowedKeys(const std::vector<int64_t>&) override {}
    std::vector<int64_t> takenKeys() const override { return {}; }
    void setCaptureMode(bool) override {}
    DefaultHotkeys defaultHotkeys() const override { return {}; }
    bool canReport(int64_t) const override { return true; }
};

PlatformSlot<KeyEventSource, NoKeyEventSource> slot;

}  // namespace

KeyEventSource& keyEventSource() {
    return slot.get();
}
void installKeyEventSource(std::shared_ptr<KeyEventSource> source) {
    slot.install(std::move(source));
}

}  // namespace velvox::Platform
