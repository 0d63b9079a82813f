#pragma once

#include <memory>

#include "linux/gst/GstHandles.h"
#include "platform/MicrophoneAccess.h"

typedef struct _GstDeviceMonitor GstDeviceMonitor;

namespace velvox {

// A plain Linux desktop has no microphone permission: recording is allowed
// whenever an audio input exists. The monitor of an output (what the
// speakers play) is not one. The inputs are followed by a GStreamer
// device monitor that stays running, so asking is cheap at every key-down.
// A source set in VELVOX_AUDIO_SOURCE counts as an input.
class GstMicrophoneAccess final : public MicrophoneAccess {
  public:
    GstMicrophoneAccess() = default;
    ~GstMicrophoneAccess() override;
    GstMicrophoneAccess(const GstMicrophoneAccess&) = delete;
    GstMicrophoneAccess& operator=(const GstMicrophoneAccess&) = delete;

    MicrophoneAuthorization status() override;
    // Answers at once, with the same rule as status().
    void requestAccess(std::function<void(bool granted)> completion) override;

  private:
    bool inputExists();

    GstOwned<GstDeviceMonitor> monitor_;
};

}  // namespace velvox
