#pragma once

#include <memory>
#include <optional>
#include <string>

#include "linux/gst/GstHandles.h"
#include "platform/AudioTake.h"

typedef struct _GstElement GstElement;

namespace velvox {

// One take: the default input (or the element description in
// VELVOX_AUDIO_SOURCE) converted to the take's rate and channels, measured by
// `level`, encoded as AAC and written into an MP4 file by a GStreamer pipeline.
class GstAudioTake final : public AudioTake {
  public:
    // A pipeline for the file at path, not yet running; nothing and the reason
    // when it cannot be built (unknown element, missing plug-in).
    static std::unique_ptr<GstAudioTake> create(const std::string& path,
                                                const AudioSettings& settings, std::string& error);
    ~GstAudioTake() override;
    GstAudioTake(const GstAudioTake&) = delete;
    GstAudioTake& operator=(const GstAudioTake&) = delete;

    // Starts the pipeline and returns without waiting for sound: false only
    // when it cannot start at all. A waiting pipeline is started off the
    // main thread. A source that fails once running (an
    // unknown device, a stream the server refuses or ends, an input moved to
    // another device) is reported through the events as a system stop.
    bool record() override;
    bool isRecording() override;
    double currentTime() override;
    float averagePower() override;
    void setEvents(AudioTakeEvents events) override;
    // Sends the end of stream in after the source and waits, boundedly, for
    // the file to be complete; the pipeline is torn down off the main thread.
    bool stop() override;

    // When the first audio buffer reached the encoder's side of the pipeline,
    // on g_get_monotonic_time's clock (microseconds); nothing before that.
    std::optional<int64_t> firstBufferTimeForTesting() const;

    // Shared with the pipeline's streaming threads.
    struct Shared;

  private:
    friend class GstAudioInput;
    // Takes over a pipeline built for the file at path (NULL or READY state).
    GstAudioTake(GstOwned<GstElement> pipeline, const std::string& path);

    GstOwned<GstElement> pipeline_;
    bool connected_;  // a waiting pipeline, already connected to the server
    std::shared_ptr<Shared> shared_;
};

}  // namespace velvox
