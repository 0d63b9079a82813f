#include "platform/linux/GstAudioInput.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/Log.h"
#include "platform/linux/GstRuntime.h"

namespace velvox {

namespace {

// How long stop() waits for the muxer to write its index after end of stream.
constexpr auto kEndOfStreamWait = std::chrono::seconds(2);
// How long record() waits for the input's first sound before it takes a
// silent input as started. A source that fails to open fails well within it.
constexpr auto kFirstBufferWait = std::chrono::seconds(1);
// How often `level` measures the input, in nanoseconds: fast enough for a
// meter drawn at 30 frames a second.
constexpr guint64 kLevelInterval = 50 * GST_MSECOND;

}  // namespace

struct GstAudioTake::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;   // record() succeeded
    bool stopping = false;  // stop() asked for the end; what follows is expected
    bool ended = false;     // end of stream reached the bus
    bool failed = false;    // an error reached the bus
    std::string errorText;

    std::mutex eventsMutex;
    AudioTakeEvents events;

    std::atomic<float> power{-std::numeric_limits<float>::infinity()};
    std::atomic<int64_t> firstBuffer{0};  // monotonic microseconds, 0 = none yet
    std::atomic<int64_t> streamTime{0};   // nanoseconds of audio that passed the meter

    // The pipeline ended: by stop() (expected) or on its own (reported).
    void finish(bool successfully, std::string error) {
        bool report = false;
        {
            std::lock_guard lock(mutex);
            if (ended || failed) return;
            if (successfully) {
                ended = true;
            } else {
                failed = true;
                errorText = std::move(error);
            }
            report = started && !stopping;
        }
        changed.notify_all();
        if (!report) return;
        if (!successfully) Log::write("recorder: " + errorText);
        std::lock_guard lock(eventsMutex);
        if (events.finishedBySystem) events.finishedBySystem(successfully);
    }
};

namespace {

float firstChannelRms(const GstStructure* structure) {
    const GValue* rms = gst_structure_get_value(structure, "rms");
    if (!rms || !G_VALUE_HOLDS(rms, G_TYPE_VALUE_ARRAY)) return -INFINITY;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    auto* channels = static_cast<GValueArray*>(g_value_get_boxed(rms));
    if (!channels || channels->n_values == 0) return -INFINITY;
    return static_cast<float>(g_value_get_double(g_value_array_get_nth(channels, 0)));
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// Runs on whichever thread posts: the meter's readings, the end of stream and
// errors are taken here, so no main loop is needed to follow the pipeline.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* structure = gst_message_get_structure(message);
            if (structure && gst_structure_has_name(structure, "level")) {
                shared->power.store(firstChannelRms(structure));
            }
            break;
        }
        case GST_MESSAGE_EOS:
            shared->finish(true, "");
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            std::string text = error && error->message ? error->message : "unknown error";
            if (error) g_error_free(error);
            shared->finish(false, text);
            break;
        }
        default:
            break;
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    int64_t none = 0;
    if (shared->firstBuffer.compare_exchange_strong(none, g_get_monotonic_time())) {
        std::lock_guard lock(shared->mutex);  // record() may be waiting for it
        shared->changed.notify_all();
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
        GstClockTime end = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) end += GST_BUFFER_DURATION(buffer);
        shared->streamTime.store(static_cast<int64_t>(end));
    }
    return GST_PAD_PROBE_OK;
}

std::string pipelineDescription(const AudioSettings& settings) {
    return audioSourceDescription() + " ! audioconvert ! audioresample ! audio/x-raw,rate=" +
           std::to_string(static_cast<int>(std::lround(settings.sampleRate))) +
           ",channels=" + std::to_string(settings.channels) +
           " ! level name=meter post-messages=true interval=" + std::to_string(kLevelInterval) +
           " ! audioconvert ! avenc_aac bitrate=" + std::to_string(settings.bitRate) +
           " ! mp4mux ! filesink name=file sync=false";
}

}  // namespace

std::string audioSourceDescription() {
    const char* override = std::getenv("VELVOX_AUDIO_SOURCE");
    if (override && *override) return override;
    return "pulsesrc client-name=Velvox";
}

std::unique_ptr<GstAudioTake> GstAudioTake::create(const std::string& path,
                                                   const AudioSettings& settings,
                                                   std::string& error) {
    GstRuntime::ensureInitialised();
    if (settings.format != AudioFormat::mpeg4Aac) {
        error = "unsupported audio format";
        return nullptr;
    }
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(pipelineDescription(settings).c_str(), &parseError);
    if (parseError) {
        // A partly understood description still yields a pipeline; it is of no use.
        error = parseError->message ? parseError->message : "cannot build the audio pipeline";
        g_error_free(parseError);
        if (pipeline) gst_object_unref(pipeline);
        return nullptr;
    }
    if (!pipeline) {
        error = "cannot build the audio pipeline";
        return nullptr;
    }
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_object_unref(file);
    return std::unique_ptr<GstAudioTake>(new GstAudioTake(pipeline));
}

GstAudioTake::GstAudioTake(GstElement* pipeline)
    : pipeline_(pipeline), shared_(std::make_shared<Shared>()) {
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, onBusMessage, shared_.get(), nullptr);
    gst_object_unref(bus);
    GstElement* meter = gst_bin_get_by_name(GST_BIN(pipeline_), "meter");
    GstPad* pad = gst_element_get_static_pad(meter, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, shared_.get(), nullptr);
    gst_object_unref(pad);
    gst_object_unref(meter);
}

GstAudioTake::~GstAudioTake() {
    setEvents({});
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
}

bool GstAudioTake::record() {
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        std::lock_guard lock(shared_->mutex);
        Log::write("recorder: the audio pipeline did not start" +
                   (shared_->errorText.empty() ? std::string() : ": " + shared_->errorText));
        return false;
    }
    // Many sources fail only once they run (an unknown device, a server that
    // refuses the stream): wait for the first sound or the failure, so that
    // such a start is refused rather than reported as a take ended at once.
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait_for(lock, kFirstBufferWait, [this] {
        return shared_->failed || shared_->ended || shared_->firstBuffer.load() != 0;
    });
    if (shared_->failed) {
        // An error that came while starting is a refusal, not an ended take.
        std::string reason = shared_->errorText;
        lock.unlock();  // stopping joins the streaming threads, which take the lock
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        Log::write("recorder: the audio pipeline did not start: " + reason);
        return false;
    }
    shared_->started = true;
    return true;
}

bool GstAudioTake::isRecording() {
    std::lock_guard lock(shared_->mutex);
    return shared_->started && !shared_->stopping && !shared_->ended && !shared_->failed;
}

double GstAudioTake::currentTime() {
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->started) return 0;
    }
    gint64 position = 0;
    if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position > 0) {
        return static_cast<double>(position) / GST_SECOND;
    }
    // Not every muxer answers in time; the audio that has passed the meter does.
    return static_cast<double>(shared_->streamTime.load()) / GST_SECOND;
}

float GstAudioTake::averagePower() {
    return shared_->power.load();
}

void GstAudioTake::setEvents(AudioTakeEvents events) {
    std::lock_guard lock(shared_->eventsMutex);
    shared_->events = std::move(events);
}

void GstAudioTake::stop() {
    bool waitForEnd = false;
    {
        std::lock_guard lock(shared_->mutex);
        waitForEnd = shared_->started && !shared_->stopping && !shared_->ended && !shared_->failed;
        shared_->stopping = true;
    }
    if (waitForEnd) {
        // The muxer writes the file's index only when the end of stream reaches it.
        gst_element_send_event(pipeline_, gst_event_new_eos());
        std::unique_lock lock(shared_->mutex);
        bool complete = shared_->changed.wait_for(
            lock, kEndOfStreamWait, [this] { return shared_->ended || shared_->failed; });
        if (!complete) Log::write("recorder: the audio file was not completed in time");
    }
    gst_element_set_state(pipeline_, GST_STATE_NULL);
}

std::optional<int64_t> GstAudioTake::firstBufferTimeForTesting() const {
    int64_t at = shared_->firstBuffer.load();
    if (at == 0) return std::nullopt;
    return at;
}

NewAudioTake GstAudioInput::makeTake(const std::string& path, const AudioSettings& settings) {
    std::string error;
    auto take = GstAudioTake::create(path, settings, error);
    if (!take) return {nullptr, error};
    return {std::move(take), ""};
}

}  // namespace velvox
