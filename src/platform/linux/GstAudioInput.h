#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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

    bool record() override;
    bool isRecording() override;
    double currentTime() override;
    float averagePower() override;
    void setEvents(AudioTakeEvents events) override;
    void stop() override;

    // When the first audio buffer reached the encoder's side of the pipeline,
    // on g_get_monotonic_time's clock (microseconds); nothing before that.
    std::optional<int64_t> firstBufferTimeForTesting() const;

    // Shared with the pipeline's streaming threads.
    struct Shared;

  private:
    explicit GstAudioTake(GstElement* pipeline);

    GstElement* pipeline_;
    std::shared_ptr<Shared> shared_;
};

// Makes GStreamer takes.
class GstAudioInput final : public AudioInput {
  public:
    NewAudioTake makeTake(const std::string& path, const AudioSettings& settings) override;
};

// The source element description: VELVOX_AUDIO_SOURCE when set, else the
// PulseAudio default input.
std::string audioSourceDescription();

}  // namespace velvox
