#include "platform/MicrophoneAccess.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoMicrophoneAccess final : public MicrophoneAccess {
  public:
    MicrophoneAuthorization status() override { return MicrophoneAuthorization::denied; }
    void requestAccess(std::function<void(bool granted)> completion) override {
        if (completion) completion(false);
    }
};

PlatformSlot<MicrophoneAccess, NoMicrophoneAccess> slot;

}  // namespace

MicrophoneAccess& microphoneAccess() {
    return slot.get();
}
void installMicrophoneAccess(std::shared_ptr<MicrophoneAccess> access) {
    slot.install(std::move(access));
}

}  // namespace velvox::Platform
