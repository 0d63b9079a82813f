#pragma once

#include <glib.h>

#include <memory>
#include <optional>
#include <string>

#include "linux/glib/GlibIds.h"
#include "platform/AudioTake.h"

typedef struct _GstElement GstElement;
typedef struct _GstDeviceProvider GstDeviceProvider;
typedef struct _GFileMonitor GFileMonitor;

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
    GstAudioTake(GstElement* pipeline, const std::string& path);

    GstElement* pipeline_;
    bool connected_;  // a waiting pipeline, already connected to the server
    std::shared_ptr<Shared> shared_;
};

// Makes GStreamer takes. For the sound server's default input, the pipeline
// of the next take is built and connected to the server ahead of time and
// waits in READY: the server knows the client, but no record stream exists,
// so nothing is captured and nothing wakes the process while idle. A
// key-down then only names the file and sets the pipeline playing; the
// stream is created on whatever source is the default at that moment.
// A waiting pipeline does not notice when the sound server goes away, so the
// server's socket is watched: when it goes or is made anew (the server ended
// or restarted) the waiting pipeline is dropped, and a new one connects as
// soon as the server is back, so the next take never starts on a dead
// connection. Nothing of this wakes the process while the server runs.
// With VELVOX_AUDIO_SOURCE every take builds its own pipeline.
class GstAudioInput final : public AudioInput {
  public:
    // Connects the first pipeline at once (main thread).
    GstAudioInput();
    ~GstAudioInput() override;
    GstAudioInput(const GstAudioInput&) = delete;
    GstAudioInput& operator=(const GstAudioInput&) = delete;

    NewAudioTake makeTake(const std::string& path, const AudioSettings& settings) override;
    // From the sound server's device provider, kept running: the server tells
    // it of every change, so asking costs no round trip, and nothing wakes
    // while the devices stay as they are.
    std::vector<InputDevice> inputDevices() override;

    // True while a connected pipeline waits for the next take. The next one
    // is connected from the GLib main loop once the main thread is idle.
    bool isPreparedForTesting() const;

  private:
    void prepare();
    void prepareWhenIdle();
    void serverSocketChanged(bool replaced);
    void watchServerSocket();
    void watchDevices();
    // The input a take with these settings records from: the named one while
    // the server offers it, else the default (said once per missing name).
    std::string resolveDevice(const std::string& wanted);

    GstElement* prepared_ = nullptr;
    AudioSettings preparedSettings_;
    SourceId prepareSource_;

    std::string serverSocket_;
    GFileMonitor* socketMonitor_ = nullptr;
    GstDeviceProvider* devices_ = nullptr;
    bool devicesWatched_ = false;
    std::string missingDevice_;  // the chosen input last found missing
};

// The source element description: VELVOX_AUDIO_SOURCE when set, else the
// PulseAudio default input.
std::string audioSourceDescription();

}  // namespace velvox
