#include "platform/AudioDecoder.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoAudioDecoder final : public AudioDecoder {
  public:
    Result<std::string, std::string> decode(const std::string&) override {
        return Failure{std::string("this system cannot decode audio")};
    }
};

PlatformSlot<AudioDecoder, NoAudioDecoder> slot;

}  // namespace

AudioDecoder& audioDecoder() {
    return slot.get();
}
void installAudioDecoder(std::shared_ptr<AudioDecoder> decoder) {
    slot.install(std::move(decoder));
}

}  // namespace velvox::Platform
