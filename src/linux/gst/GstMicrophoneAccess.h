#pragma once

#include <memory>

#include "platform/MicrophoneAccess.h"

namespace velvox {

class GstAudioInput;

// A plain Linux desktop has no microphone permission: recording is allowed
// whenever an audio input exists. Takes record from the sound server, so its
// inputs are the ones that count, as the audio input's device provider
// (kept running) lists them: asking is cheap at every key-down, and no
// other device provider (with the sound libraries it would load) runs. The
// monitor of an output (what the speakers play) is not an input. A source
// set in VELVOX_AUDIO_SOURCE counts as an input.
class GstMicrophoneAccess final : public MicrophoneAccess {
  public:
    explicit GstMicrophoneAccess(std::shared_ptr<GstAudioInput> input);

    MicrophoneAuthorization status() override;
    // Answers at once, with the same rule as status().
    void requestAccess(std::function<void(bool granted)> completion) override;

  private:
    bool inputExists();

    std::shared_ptr<GstAudioInput> input_;
};

}  // namespace velvox
