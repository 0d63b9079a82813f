#include "platform/linux/GstAudioInput.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>

#include "base/Log.h"
#include "platform/linux/GstRuntime.h"

namespace velvox {

namespace {

// How long stop() waits for the muxer to write its index after end of stream.
constexpr auto kEndOfStreamWait = std::chrono::seconds(2);
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

    // The sound server's name of the source the take records from, learnt
    // when its stream is created.
    std::string inputDevice;

    std::atomic<float> power{-std::numeric_limits<float>::infinity()};
    std::atomic<int64_t> firstBuffer{0};  // monotonic microseconds, 0 = none yet
    std::atomic<int64_t> streamTime{0};   // nanoseconds of audio that passed the meter

    // The source the take started on, when the stream now records from
    // another; the first source named is the take's own. An empty name
    // tells nothing.
    std::optional<std::string> movedFrom(const std::string& current) {
        if (current.empty()) return std::nullopt;
        std::lock_guard lock(mutex);
        if (inputDevice.empty()) inputDevice = current;
        if (current == inputDevice) return std::nullopt;
        return inputDevice;
    }

    // The pipeline ended: by stop() (expected) or on its own (reported). An
    // end that comes while record() starts the pipeline is reported by it.
    void finish(bool successfully, std::string error) {
        bool report = false;
        {
            std::lock_guard lock(mutex);
            if (ended || failed) return;
            if (successfully) {
                ended = true;
            } else {
                failed = true;
                errorText = error;
            }
            report = started && !stopping;
        }
        changed.notify_all();
        if (report) reportEnd(successfully, error);
    }

    void reportEnd(bool successfully, const std::string& error) {
        if (!successfully) Log::write("recorder: " + error);
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
    shared->firstBuffer.compare_exchange_strong(none, g_get_monotonic_time());
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
        GstClockTime end = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) end += GST_BUFFER_DURATION(buffer);
        shared->streamTime.store(static_cast<int64_t>(end));
    }
    return GST_PAD_PROBE_OK;
}

// PulseAudio does not end a stream whose source goes away: it moves it to
// another source, even when the stream asked for that very device, and a
// stream that follows the default moves when the default changes. Either
// way the take would carry on from another microphone, so a move ends it.
// pulsesrc reports changes of its stream here, from its reading thread.
void onInputDeviceChanged(GObject* source, GParamSpec*, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    gchar* name = nullptr;
    g_object_get(source, "current-device", &name, nullptr);
    std::string current = name ? name : "";
    g_free(name);
    if (auto original = shared->movedFrom(current)) {
        shared->finish(false, "the input moved from " + *original + " to " + current);
    }
}

void watchInputDevices(GstElement* pipeline, GstAudioTake::Shared* shared) {
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "pulsesrc") == 0) {
            g_signal_connect(element, "notify::current-device", G_CALLBACK(onInputDeviceChanged),
                             shared);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

// Messages of a pipeline that waits for its take are of no interest.
GstBusSyncReply dropMessage(GstBus*, GstMessage* message, gpointer) {
    gst_message_unref(message);
    return GST_BUS_DROP;
}

bool isOverridden() {
    const char* override = std::getenv("VELVOX_AUDIO_SOURCE");
    return override && *override;
}

std::string pipelineDescription(const AudioSettings& settings) {
    return audioSourceDescription() + " ! audioconvert ! audioresample ! audio/x-raw,rate=" +
           std::to_string(static_cast<int>(std::lround(settings.sampleRate))) +
           ",channels=" + std::to_string(settings.channels) +
           " ! level name=meter post-messages=true interval=" + std::to_string(kLevelInterval) +
           " ! audioconvert ! avenc_aac bitrate=" + std::to_string(settings.bitRate) +
           " ! mp4mux ! filesink name=file sync=false";
}

// A pipeline for takes with these settings, its file not yet named; nothing
// and the reason when it cannot be built (unknown element, missing plug-in).
GstElement* buildPipeline(const AudioSettings& settings, std::string& error) {
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
    return pipeline;
}

}  // namespace

std::string audioSourceDescription() {
    if (isOverridden()) return std::getenv("VELVOX_AUDIO_SOURCE");
    return "pulsesrc client-name=Velvox";
}

std::unique_ptr<GstAudioTake> GstAudioTake::create(const std::string& path,
                                                   const AudioSettings& settings,
                                                   std::string& error) {
    GstElement* pipeline = buildPipeline(settings, error);
    if (!pipeline) return nullptr;
    return std::unique_ptr<GstAudioTake>(new GstAudioTake(pipeline, path));
}

GstAudioTake::GstAudioTake(GstElement* pipeline, const std::string& path)
    : pipeline_(pipeline), shared_(std::make_shared<Shared>()) {
    // A waiting pipeline holds its file sink back in NULL, the only state in
    // which the file may still be named; it then joins the others.
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline_), "file");
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_element_set_locked_state(file, FALSE);
    gst_element_sync_state_with_parent(file);
    gst_object_unref(file);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus, TRUE);  // what a waiting pipeline posted is old news
    gst_bus_set_flushing(bus, FALSE);
    gst_bus_set_sync_handler(bus, onBusMessage, shared_.get(), nullptr);
    gst_object_unref(bus);
    watchInputDevices(pipeline_, shared_.get());
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
    // Nothing waits for the first sound here: the key-down must not stall the
    // interface. A live source creates its stream on its own thread, so a
    // failure there (an unknown device, a stream the server refuses) comes
    // later and is a system stop, like one that came while starting.
    bool endedWhileStarting = false;
    bool successfully = false;
    std::string error;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->started = true;
        endedWhileStarting = shared_->ended || shared_->failed;
        successfully = shared_->ended;
        error = shared_->errorText;
    }
    if (endedWhileStarting) shared_->reportEnd(successfully, error);
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

GstAudioInput::GstAudioInput() {
    prepare();
}

GstAudioInput::~GstAudioInput() {
    prepareSource_.remove();
    if (prepared_) {
        gst_element_set_state(prepared_, GST_STATE_NULL);
        gst_object_unref(prepared_);
    }
}

NewAudioTake GstAudioInput::makeTake(const std::string& path, const AudioSettings& settings) {
    GstElement* pipeline = nullptr;
    if (prepared_ && !isOverridden() && settings.format == preparedSettings_.format &&
        settings.sampleRate == preparedSettings_.sampleRate &&
        settings.channels == preparedSettings_.channels &&
        settings.bitRate == preparedSettings_.bitRate) {
        pipeline = std::exchange(prepared_, nullptr);
    }
    std::string error;
    if (!pipeline) pipeline = buildPipeline(settings, error);
    if (!pipeline) return {nullptr, error};
    preparedSettings_ = settings;
    prepareWhenIdle();
    return {std::unique_ptr<GstAudioTake>(new GstAudioTake(pipeline, path)), ""};
}

bool GstAudioInput::isPreparedForTesting() const {
    return prepared_ != nullptr;
}

void GstAudioInput::prepare() {
    if (prepared_ || isOverridden()) return;
    std::string error;
    GstElement* pipeline = buildPipeline(preparedSettings_, error);
    if (!pipeline) return;
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, dropMessage, nullptr, nullptr);
    gst_object_unref(bus);
    // READY opens the connection to the sound server and goes no further.
    // The file sink stays behind until the take names its file.
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    gst_element_set_locked_state(file, TRUE);
    gst_object_unref(file);
    if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        // No server now: the next take builds its own pipeline and says why.
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return;
    }
    prepared_ = pipeline;
}

void GstAudioInput::prepareWhenIdle() {
    if (prepareSource_ || prepared_ || isOverridden()) return;
    // Connecting costs the main thread a few server round trips: not at key-down.
    prepareSource_ = g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            auto* input = static_cast<GstAudioInput*>(data);
            input->prepareSource_.forget();
            input->prepare();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

}  // namespace velvox
