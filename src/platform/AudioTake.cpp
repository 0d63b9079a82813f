#include "platform/AudioTake.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoAudioInput final : public AudioInput {
  public:
    NewAudioTake makeTake(const std::string&, const AudioSettings&) override {
        return {nullptr, "no audio input available"};
    }
    std::vector<InputDevice> inputDevices() override { return {}; }
};

PlatformSlot<AudioInput, NoAudioInput> slot;

}  // namespace

AudioInput& audioInput() {
    return slot.get();
}
void installAudioInput(std::shared_ptr<AudioInput> input) {
    slot.install(std::move(input));
}

}  // namespace velvox::Platform
