#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "linux/gst/GstAudioTake.h"
#include "linux/gst/GstHandles.h"
#include "linux/gst/GstPipelineBuilder.h"
#include "linux/gst/SoundServerWatch.h"
#include "platform/AudioTake.h"

typedef struct _GstElement GstElement;

namespace velvox {

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
    // is connected on a thread of its own and handed to the GLib main loop.
    bool isPreparedForTesting() const;

  private:
    // A pipeline for these settings, connected and waiting; none without a server.
    static GstOwned<GstElement> connectedPipeline(const AudioSettings& settings);
    // Building and connecting costs tens of element creations and a few
    // server round trips: never on the main thread once a take has begun.
    void prepareInBackground();
    void takePrepared(GstOwned<GstElement> pipeline, const AudioSettings& settings,
                      uint64_t servers);
    void serverReplaced();
    // The input a take with these settings records from: the named one while
    // the server offers it, else the default (said once per missing name).
    std::string resolveDevice(const std::string& wanted);

    SoundServerWatch server_;
    GstOwned<GstElement> prepared_;
    AudioSettings preparedSettings_;
    SourceId prepareSoon_;
    std::thread preparer_;
    bool preparing_ = false;
    uint64_t serversGone_ = 0;  // how often the sound server went or was replaced
    // What a preparation that ends after this object checks first.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::string missingDevice_;  // the chosen input last found missing
};

}  // namespace velvox
